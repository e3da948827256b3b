// Which channels of an image file a render reads, and where they go.
//
// A file holds one or more parts (subimages), each with its own channels;
// a single-part file may hold several views (its `multiView` list), told
// apart by channel names ("right.R", "forward.right.u"; names of the first
// view may leave the view out). `--input ID=PATH:SELECTOR` picks:
//
//   PART      a part by name, or by number counting from 0
//   VIEW      a view: the channels of that view, read as if the view's name
//             were not in them
//   LAYER     the channels LAYER.R, LAYER.G, ... (or LAYER.X, LAYER.u, ...)
//   CHANNELS  one channel or several, separated by commas: "Z", "left.Z",
//             "forward.left.u,forward.left.v"
//
// in that order of precedence; `PART:NAME` looks for NAME in that part only.
// A name found in more than one part is refused, with the `PART:NAME` forms
// that tell them apart. Without a selector the first part is read and the
// rest of the file is carried.
//
// Of the selected channels R (or X, U) fills red, G (or Y, V) green, B (or
// Z) blue and A alpha, by the last part of their names; a single colour
// channel fills red, green and blue; named channels that no letter places
// fill the empty colour slots in order. A missing alpha is 1. Selected
// channels that fill no slot are carried as further channels.
#pragma once

#include <string>
#include <vector>

struct FilePart {
  std::string name;  // empty when the file gives its parts no names
  std::string view;  // the part's view in a multi-part file, empty when none
  std::vector<std::string> channels;
};

struct FileLayout {
  std::vector<FilePart> parts;
  std::vector<std::string> views;  // a single-part file's views, the default first
};

struct Selection {
  int part = 0;
  // The channels (indices into the part's list) that fill the record's
  // slots, -1 where none does.
  int red = -1, green = -1, blue = -1, alpha = -1;
  std::vector<int> further;  // carried through the tool, by their own names
  std::vector<std::string> furtherNames;
  // The names the result goes back under by default: red, green, blue,
  // alpha; an empty name is not written. Channels chosen by name, and a
  // single channel that filled red, green and blue, go back under their own
  // names (so a depth pass stays Z); everything else as R, G, B, A.
  std::vector<std::string> resultNames;
  std::string view;          // the one view read, empty when not one
  bool carriesParts = true;  // the file's other parts go to the output
};

// Throws RunError naming `path`, what is wrong and what can be selected.
// With `carry` every channel of the chosen part is carried too (a result
// channel of the same name takes its place in the output), and the file's
// other parts are carried as they are without a selector.
Selection Select(const FileLayout& layout, const std::string& selector, const std::string& path,
                 bool carry = false);

// The view a channel belongs to in a file with these views (the first is
// the default), empty when it belongs to none.
std::string ViewOf(const std::string& channel, const std::vector<std::string>& views);

// The names `--output PATH:NAMES` writes the result under, red, green, blue,
// alpha: a layer ("dof": dof.R, dof.G, dof.B, dof.A), or channels named in
// full ("depth.Z"; "mv.u,mv.v"), which take the slots in order. NAMES is
// channels when it holds a comma or its last part is a channel letter.
std::vector<std::string> ResultNamesFor(const std::string& names);

// A file's text made safe to print: bytes that are not UTF-8, and control
// characters, as \xNN.
std::string Printable(const std::string& text);
