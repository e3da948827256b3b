#include "cli/files/selection.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "cli/errors.h"

namespace {

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t to; (to = text.find(at, from)) != std::string::npos; from = to + 1)
    pieces.push_back(text.substr(from, to - from));
  pieces.push_back(text.substr(from));
  return pieces;
}

std::string LastPart(const std::string& name) { return name.substr(name.rfind('.') + 1); }

// "diffuse" for "diffuse.R"; empty for a name without a dot.
std::string LayerOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(0, dot);
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

void AddOnce(std::vector<std::string>& list, const std::string& item) {
  if (!Contains(list, item)) list.push_back(item);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

bool IsWholeNumber(const std::string& text) {
  return !text.empty() && text.size() < 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The letters that place a channel in the record.
bool IsChannelLetter(const std::string& name) {
  for (const char* letter : {"R", "G", "B", "A", "X", "Y", "Z", "U", "V"})
    if (strcasecmp(name.c_str(), letter) == 0) return true;
  return false;
}

enum class Kind { Part, View, Layer, Channels };

// One thing a selector can name: channels of one part, with the short
// names that place them in the record.
struct Match {
  int part;
  Kind kind;
  std::vector<int> channels;
  std::vector<std::string> shortNames;  // beside `channels`
  std::string view;
};

// The channels of a part read whole: the short names drop a layer that all
// of them share ("forward.u", "forward.v" read as u and v).
Match WholePart(const FileLayout& layout, int p) {
  const std::vector<std::string>& names = layout.parts[p].channels;
  Match m{p, Kind::Part, {}, {}, layout.parts[p].view};
  std::string shared = names.empty() ? "" : LayerOf(names[0]);
  for (const std::string& name : names)
    if (LayerOf(name) != shared) shared.clear();
  for (int i = 0; i < int(names.size()); ++i) {
    m.channels.push_back(i);
    m.shortNames.push_back(shared.empty() ? names[i] : names[i].substr(shared.size() + 1));
  }
  return m;
}

std::vector<Match> FindMatches(const FileLayout& layout, const std::vector<int>& parts,
                               const std::string& name, bool partNames) {
  std::vector<Match> found;
  if (partNames) {
    for (int p : parts)
      if (!layout.parts[p].name.empty() && layout.parts[p].name == name)
        found.push_back(WholePart(layout, p));
    if (!found.empty()) return found;
  }
  // A view: of a single-part file, by its channel names; of a multi-part
  // file, the parts that hold it.
  if (layout.parts.size() == 1 && Contains(layout.views, name)) {
    Match m{0, Kind::View, {}, {}, name};
    const std::vector<std::string>& names = layout.parts[0].channels;
    for (int i = 0; i < int(names.size()); ++i) {
      if (ViewOf(names[i], layout.views) != name) continue;
      std::vector<std::string> pieces = Split(names[i], '.');
      if (pieces.size() >= 2 && pieces[pieces.size() - 2] == name) pieces.erase(pieces.end() - 2);
      std::string shortName;
      for (const std::string& piece : pieces) shortName += (shortName.empty() ? "" : ".") + piece;
      m.channels.push_back(i);
      m.shortNames.push_back(shortName);
    }
    return {m};
  }
  for (int p : parts)
    if (layout.parts[p].view == name) {
      found.push_back(WholePart(layout, p));
      found.back().kind = Kind::View;
    }
  if (!found.empty()) return found;

  for (int p : parts) {
    Match m{p, Kind::Layer, {}, {}, ""};
    const std::vector<std::string>& names = layout.parts[p].channels;
    for (int i = 0; i < int(names.size()); ++i)
      if (LayerOf(names[i]) == name) {
        m.channels.push_back(i);
        m.shortNames.push_back(LastPart(names[i]));
      }
    if (!m.channels.empty()) found.push_back(m);
  }
  if (!found.empty()) return found;

  const std::vector<std::string> wanted = Split(name, ',');
  for (int p : parts) {
    Match m{p, Kind::Channels, {}, {}, ""};
    const std::vector<std::string>& names = layout.parts[p].channels;
    for (const std::string& channel : wanted) {
      const auto at = std::find(names.begin(), names.end(), channel);
      if (at == names.end()) break;
      m.channels.push_back(int(at - names.begin()));
      m.shortNames.push_back(LastPart(channel));
    }
    if (m.channels.size() == wanted.size()) found.push_back(m);
  }
  return found;
}

// "rgba" or, for a part without a name, its number.
std::string PartLabel(const FileLayout& layout, int p) {
  return layout.parts[p].name.empty() ? std::to_string(p) : layout.parts[p].name;
}

// Everything a selector can name in the file, each written so that it
// selects what it names.
std::string Selectable(const FileLayout& layout) {
  std::vector<std::string> partNames, views, layers, channels;
  const bool multiPart = layout.parts.size() > 1;
  for (int p = 0; p < int(layout.parts.size()); ++p) {
    if (multiPart) AddOnce(partNames, PartLabel(layout, p));
    if (!layout.parts[p].view.empty()) AddOnce(views, layout.parts[p].view);
  }
  if (!multiPart)
    for (const std::string& view : layout.views) AddOnce(views, view);
  std::vector<int> all(layout.parts.size());
  for (int p = 0; p < int(all.size()); ++p) all[p] = p;
  auto qualified = [&](const std::string& name, std::vector<std::string>& list) {
    const std::vector<Match> plain = FindMatches(layout, all, name, true);
    if (plain.size() == 1) return AddOnce(list, Printable(name));
    for (const Match& m : plain) AddOnce(list, PartLabel(layout, m.part) + ":" + Printable(name));
  };
  for (const FilePart& part : layout.parts)
    for (const std::string& name : part.channels)
      if (!LayerOf(name).empty() && !Contains(views, LayerOf(name)) &&
          !Contains(partNames, LayerOf(name)))
        qualified(LayerOf(name), layers);
  size_t channelCount = 0;
  for (const FilePart& part : layout.parts) channelCount += part.channels.size();
  if (channelCount <= 40)
    for (const FilePart& part : layout.parts)
      for (const std::string& name : part.channels) qualified(name, channels);

  std::string text;
  auto add = [&text](const char* what, const std::vector<std::string>& list) {
    if (!list.empty()) text += std::string(text.empty() ? "" : "; ") + what + " " + Joined(list);
  };
  for (std::string& name : partNames) name = Printable(name);
  for (std::string& name : views) name = Printable(name);
  add("parts", partNames);
  add("views", views);
  add("layers", layers);
  add("channels", channelCount <= 40 ? channels : std::vector<std::string>{"(more than 40)"});
  return text.empty() ? "nothing" : text;
}

// Places the matched channels in the record: by letter, then a single
// colour channel in all three, then (for channels named one by one) the
// rest in the empty colour slots in order. What fills no slot is carried.
void Place(const Match& m, const std::vector<std::string>& names, Selection& sel) {
  // Only channels without a layer of their own fill slots; "forward.u" of
  // a view read whole is carried.
  std::vector<size_t> own;
  for (size_t i = 0; i < m.channels.size(); ++i)
    if (m.shortNames[i].find('.') == std::string::npos) own.push_back(i);
  std::vector<bool> used(m.channels.size(), false);
  auto take = [&](std::initializer_list<const char*> letters) {
    for (const char* letter : letters)
      for (size_t i : own)
        if (!used[i] && strcasecmp(m.shortNames[i].c_str(), letter) == 0) {
          used[i] = true;
          return m.channels[i];
        }
    return -1;
  };
  sel.red = take({"R", "X", "U"});
  sel.green = take({"G", "Y", "V"});
  sel.blue = take({"B", "Z"});
  sel.alpha = take({"A"});

  std::vector<size_t> spare;
  for (size_t i : own)
    if (!used[i]) spare.push_back(i);
  std::vector<int> colours;
  for (int c : {sel.red, sel.green, sel.blue})
    if (c >= 0) colours.push_back(c);
  if (colours.empty() && spare.size() == 1) {
    used[spare[0]] = true;
    colours.push_back(m.channels[spare[0]]);
  }
  if (colours.size() == 1) {
    sel.red = sel.green = sel.blue = colours[0];
  } else if (m.kind == Kind::Channels) {
    for (int* slot : {&sel.red, &sel.green, &sel.blue})
      if (*slot < 0 && !spare.empty()) {
        used[spare.front()] = true;
        *slot = m.channels[spare.front()];
        spare.erase(spare.begin());
      }
  }
  for (size_t i = 0; i < m.channels.size(); ++i)
    if (!used[i]) {
      sel.further.push_back(m.channels[i]);
      sel.furtherNames.push_back(names[m.channels[i]]);
    }

  sel.resultNames = {"R", "G", "B", "A"};
  const bool single = sel.red >= 0 && sel.red == sel.green && sel.green == sel.blue;
  if (m.kind == Kind::Channels || single) {
    sel.resultNames.assign(4, "");
    const int slots[] = {sel.red, sel.green, sel.blue, sel.alpha};
    for (int s = 0; s < 4; ++s)
      if (slots[s] >= 0 && !Contains(sel.resultNames, names[slots[s]]))
        sel.resultNames[s] = names[slots[s]];
  }
}

}  // namespace

std::string ViewOf(const std::string& channel, const std::vector<std::string>& views) {
  if (views.empty()) return "";
  const std::vector<std::string> pieces = Split(channel, '.');
  if (pieces.size() == 1) return views[0];
  if (Contains(views, pieces[pieces.size() - 2])) return pieces[pieces.size() - 2];
  return pieces.size() == 2 ? views[0] : "";
}

Selection Select(const FileLayout& layout, const std::string& selector, const std::string& path,
                 bool carry) {
  auto refuse = [&](const std::string& why) {
    return RunError(path + ": " + why + "; the file holds " + Selectable(layout));
  };
  if (layout.parts.empty()) throw RunError(path + ": the file holds no image");

  // Without a selector the first part is read whole: its channels without a
  // layer fill the record, or, where every channel is in one layer (a file
  // holding depth.Z alone), that layer's.
  Match m = WholePart(layout, 0);
  if (!selector.empty()) {
    std::vector<int> parts;
    const size_t colon = selector.rfind(':');
    std::string name = selector;
    if (colon != std::string::npos) {
      const std::string partName = selector.substr(0, colon);
      name = selector.substr(colon + 1);
      for (int p = 0; p < int(layout.parts.size()); ++p)
        if (layout.parts[p].name == partName ||
            (IsWholeNumber(partName) && std::stoi(partName) == p))
          parts.push_back(p);
      if (parts.size() != 1)
        throw refuse(parts.empty() ? "no part \"" + Printable(partName) + "\""
                                   : "more than one part is named \"" + Printable(partName) +
                                         "\"; name it by its number");
    } else {
      for (int p = 0; p < int(layout.parts.size()); ++p) parts.push_back(p);
    }
    std::vector<Match> found;
    if (colon == std::string::npos && IsWholeNumber(name)) {
      const int p = std::stoi(name);
      if (p >= int(layout.parts.size()))
        throw refuse("no part " + name + " (parts count from 0; the file has " +
                     std::to_string(layout.parts.size()) + ")");
      found.push_back(WholePart(layout, p));
    } else {
      found = FindMatches(layout, parts, name, colon == std::string::npos);
    }
    if (found.empty()) throw refuse("nothing named \"" + Printable(name) + "\"");
    if (found.size() > 1) {
      std::vector<std::string> choices;
      for (const Match& f : found) choices.push_back(PartLabel(layout, f.part) + ":" + name);
      throw RunError(path + ": \"" + Printable(name) +
                     "\" is in more than one part; choose one of " + Printable(Joined(choices)));
    }
    m = found[0];
  }

  Selection sel;
  sel.part = m.part;
  sel.view = m.kind == Kind::View ? m.view : "";
  const std::vector<std::string>& names = layout.parts[m.part].channels;
  if (m.channels.empty()) throw RunError(path + ": the selection holds no channels");
  Place(m, names, sel);
  sel.carriesParts = selector.empty() || carry;
  // Carrying the whole part takes the channels that fill the record too:
  // where the result goes back under other names, they stay as they were.
  if (carry)
    for (int i = 0; i < int(names.size()); ++i)
      if (std::find(sel.further.begin(), sel.further.end(), i) == sel.further.end()) {
        sel.further.push_back(i);
        sel.furtherNames.push_back(names[i]);
      }
  return sel;
}

std::vector<std::string> ResultNamesFor(const std::string& names) {
  if (names.find(',') != std::string::npos || IsChannelLetter(LastPart(names))) {
    std::vector<std::string> channels = Split(names, ',');
    channels.resize(4);
    return channels;
  }
  return {names + ".R", names + ".G", names + ".B", names + ".A"};
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // The length of a well-formed UTF-8 sequence starting here, 0 if none.
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length > 1 && c < 0xC2) length = 0;  // overlong forms
    for (size_t k = 1; k < length; ++k)
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) >> 6) != 2) length = 0;
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
      ++i;
    } else {
      shown.append(text, i, length);
      i += length;
    }
  }
  return shown;
}
