#include "cli/channels.h"

#include <strings.h>

#include <algorithm>
#include <initializer_list>

namespace {

bool SameLetters(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

std::vector<std::string> LayersOf(const std::vector<std::string>& names) {
  std::vector<std::string> layers;
  for (const std::string& name : names) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    const std::string layer = name.substr(0, dot);
    if (std::find(layers.begin(), layers.end(), layer) == layers.end()) layers.push_back(layer);
  }
  return layers;
}

ChannelMap MapChannels(const std::vector<std::string>& names, const std::string& layer) {
  // The channels that can fill the record's colour and alpha slots, by
  // their short names: the layer's own, or those that belong to no layer.
  const std::string prefix = layer.empty() ? "" : layer + ".";
  std::vector<int> own;
  std::vector<std::string> shortNames(names.size());
  for (int i = 0; i < static_cast<int>(names.size()); ++i) {
    const std::string& name = names[i];
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    shortNames[i] = name.substr(prefix.size());
    if (!shortNames[i].empty() && shortNames[i].find('.') == std::string::npos) own.push_back(i);
  }

  std::vector<bool> used(names.size(), false);
  auto take = [&](std::initializer_list<const char*> letters) {
    for (const char* letter : letters)
      for (int i : own)
        if (!used[i] && SameLetters(shortNames[i], letter)) {
          used[i] = true;
          return i;
        }
    return -1;
  };
  ChannelMap map;
  map.red = take({"R", "X", "U"});
  map.green = take({"G", "Y", "V"});
  map.blue = take({"B", "Z"});
  map.alpha = take({"A"});

  // One colour channel alone (a depth or a grey image) fills all three.
  std::vector<int> colours;
  for (int c : {map.red, map.green, map.blue})
    if (c >= 0) colours.push_back(c);
  if (colours.empty()) {
    for (int i : own)
      if (!used[i]) colours.push_back(i);
    if (colours.size() == 1) used[colours[0]] = true;
  }
  if (colours.size() == 1) map.red = map.green = map.blue = colours[0];

  if (layer.empty())
    for (int i = 0; i < static_cast<int>(names.size()); ++i)
      if (!used[i]) {
        map.further.push_back(i);
        map.furtherNames.push_back(names[i]);
      }
  return map;
}
