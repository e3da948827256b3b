// Which channels of an image file fill which slots of the pixel record.
#pragma once

#include <string>
#include <vector>

// Which file channels go where; -1 where the file has none.
struct ChannelMap {
  int red = -1, green = -1, blue = -1, alpha = -1;
  std::vector<int> further;  // file channel indices, in file order
  std::vector<std::string> furtherNames;
  bool Empty() const { return red < 0 && green < 0 && blue < 0 && alpha < 0 && further.empty(); }
};

// The mapping for a file's channel names, without a layer (layer empty) or
// for one layer. With a layer that has no channels the map is empty.
ChannelMap MapChannels(const std::vector<std::string>& names, const std::string& layer);

// The layers that the channel names show ("diffuse" for "diffuse.R"), in
// the order they first appear.
std::vector<std::string> LayersOf(const std::vector<std::string>& names);
