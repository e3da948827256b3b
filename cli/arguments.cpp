#include "cli/arguments.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cli/errors.h"

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") + 1 - begin);
}

PathAndSelector SplitSelector(const std::string& text, const std::string& option) {
  const size_t slash = text.rfind('/');
  const size_t colon = text.find(':', slash == std::string::npos ? 0 : slash);
  if (colon == std::string::npos) return {text, ""};
  PathAndSelector split{text.substr(0, colon), text.substr(colon + 1)};
  if (split.path.empty() || split.selector.empty())
    throw UsageError(option + " " + text + ": expected PATH or PATH:SELECTOR");
  return split;
}

ImageArgument ParseImageArgument(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
    throw UsageError("--input " + text + ": expected ID=PATH or ID=PATH:SELECTOR");
  const PathAndSelector split = SplitSelector(text.substr(equals + 1), "--input");
  return {text.substr(0, equals), split.path, split.selector};
}

SetArgument ParseSetArgument(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0)
    throw UsageError("--set " + text + ": expected ID=VALUE");
  return {text.substr(0, equals), text.substr(equals + 1)};
}

double ParseNumber(const std::string& text, const std::string& what) {
  // from_chars reads no blanks and no locale; it takes "inf", "nan" and a
  // leading minus, and a leading plus is allowed here too.
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  double value = 0.0;
  const auto [stop, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc::result_out_of_range) {
    // Too small rounds to 0 and is taken; too large is not a double.
    if (std::fabs(std::strtod(text.c_str(), nullptr)) < 1.0) return 0.0;
    throw UsageError(what + ": \"" + text +
                     "\" is beyond the largest double; write inf for an infinite value");
  }
  if (ec != std::errc() || stop != end)
    throw UsageError(what + ": \"" + text +
                     "\" is not a number (valid: decimal or scientific notation such as 2.5, "
                     "-1e-3, or inf, -inf, nan)");
  return value;
}

FrameRange ParseFrameRange(const std::string& text) {
  auto bad = [&text]() {
    return UsageError("--frames " + text +
                      ": expected A-B with whole frame numbers 0 <= A <= B (or a single frame A)");
  };
  auto whole = [&](const char* begin, const char* end) {
    int value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (begin == end || *begin == '-' || *begin == '+' || ec != std::errc() || stop != end)
      throw bad();
    return value;
  };
  const char* begin = text.data();
  const char* end = begin + text.size();
  const size_t dash = text.find('-');
  FrameRange range;
  if (dash == std::string::npos) {
    range.first = range.last = whole(begin, end);
  } else {
    range.first = whole(begin, begin + dash);
    range.last = whole(begin + dash + 1, end);
  }
  if (range.last < range.first) throw bad();
  return range;
}

std::vector<FrameRange> ParseFrameRuns(const std::string& text) {
  std::vector<FrameRange> runs;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = text.find(',', begin);
    if (end == std::string::npos) end = text.size();
    const std::string piece = Trimmed(text.substr(begin, end - begin));
    if (piece.empty())
      throw UsageError("--frames " + text +
                       ": expected A-B, or runs such as \"1001-1010, 1050\" (whole frame "
                       "numbers from 0 on)");
    runs.push_back(ParseFrameRange(piece));
    begin = end + 1;
  }
  std::sort(runs.begin(), runs.end(),
            [](const FrameRange& a, const FrameRange& b) { return a.first < b.first; });
  std::vector<FrameRange> joined;
  for (const FrameRange& run : runs) {
    if (!joined.empty() && int64_t(run.first) <= int64_t(joined.back().last) + 1)
      joined.back().last = std::max(joined.back().last, run.last);
    else
      joined.push_back(run);
  }
  return joined;
}

std::string RangeText(const FrameRange& range) {
  return range.first == range.last ? std::to_string(range.first)
                                   : std::to_string(range.first) + "-" + std::to_string(range.last);
}

std::vector<FrameRange> RunsOf(std::vector<int> frames) {
  std::sort(frames.begin(), frames.end());
  std::vector<FrameRange> runs;
  for (int frame : frames)
    if (!runs.empty() && int64_t(runs.back().last) + 1 >= frame)
      runs.back().last = frame;
    else
      runs.push_back({frame, frame});
  return runs;
}

std::string FrameRunsText(const std::vector<FrameRange>& runs) {
  std::string text;
  for (const FrameRange& run : runs) text += (text.empty() ? "" : ", ") + RangeText(run);
  return text;
}

bool HasFrameNumber(const std::string& pattern) { return pattern.find('#') != std::string::npos; }

std::string FramePath(const std::string& pattern, int frame) {
  std::string path;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern[i] != '#') {
      path += pattern[i++];
      continue;
    }
    size_t run = 0;
    while (i + run < pattern.size() && pattern[i + run] == '#') ++run;
    const std::string digits = std::to_string(frame);
    if (digits.size() < run) path.append(run - digits.size(), '0');
    path += digits;
    i += run;
  }
  return path;
}
