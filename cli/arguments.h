// The texts of a render command line, taken apart: "ID=PATH[:LAYER]",
// "ID=VALUE", numbers, frame ranges and the frame number in paths. Each
// function throws UsageError with what was wrong and what would be valid.
#pragma once

#include <string>
#include <vector>

// PATH[:SELECTOR]: the selector starts at the first colon of the file's
// name, so "/mnt/a:b/x.exr" is a path and "x.exr:forward_right:forward"
// selects "forward_right:forward".
struct PathAndSelector {
  std::string path;
  std::string selector;  // empty: none
};
// Throws UsageError naming `option` when a colon is followed by nothing.
PathAndSelector SplitSelector(const std::string& text, const std::string& option);

// --input ID=PATH[:SELECTOR].
struct ImageArgument {
  std::string id;
  std::string path;
  std::string selector;  // empty: none
};
ImageArgument ParseImageArgument(const std::string& text);

// The text without the blanks and tabs at its ends.
std::string Trimmed(const std::string& text);

// --set ID=VALUE, split at the first '='.
struct SetArgument {
  std::string id;
  std::string value;
};
SetArgument ParseSetArgument(const std::string& text);

// A number written in full: decimal or scientific, "inf", "-inf" or "nan"
// included. `what` names the value in the message.
double ParseNumber(const std::string& text, const std::string& what);

// --frames A-B (or a single frame A), whole numbers from 0 on, A <= B.
struct FrameRange {
  int first = 0;
  int last = 0;
  int Count() const { return last - first + 1; }
};
FrameRange ParseFrameRange(const std::string& text);

// Frame runs from "A-B, C, D-E": sorted, overlapping and touching runs
// joined. Throws UsageError.
std::vector<FrameRange> ParseFrameRuns(const std::string& text);

// The frames as runs of neighbours, in order; and the runs as text,
// "A-B, C, D-E" (a run of one frame written alone), as ParseFrameRuns
// reads it.
std::vector<FrameRange> RunsOf(std::vector<int> frames);
std::string RangeText(const FrameRange& range);
std::string FrameRunsText(const std::vector<FrameRange>& runs);

// Every run of '#' in the path replaced by the frame number, zero-padded
// to the run's length ("shot.####.exr", 7 -> "shot.0007.exr").
std::string FramePath(const std::string& pattern, int frame);
bool HasFrameNumber(const std::string& pattern);
