// Drives one tool the way the host does, with every setting chosen from a
// stream of bytes: numbers that break careless arithmetic, options that are
// not options, and small images that are empty, mismatched, aliased or full
// of infinities.
//
// A render must never crash, touch memory outside an image or hang, and it
// must keep the host's promises:
//   - every tool but the stereo switch sets an image on its output;
//   - the input images come back unchanged, holding exactly the references
//     they held before;
//   - rendering again, on another number of worker threads, gives the same
//     bytes and the same computed fields.
// A broken promise prints what broke and aborts, which a fuzzer reports as a
// crash with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/tool.h"
#include "host/render.h"

// Reads the bytes front to back; past the end every read gives zeros, so any
// prefix of an input is an input too.
class ByteStream {
 public:
  ByteStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // The next bytes as the bits of a value of type T, in memory order.
  template <typename T>
  T Raw() {
    uint8_t bytes[sizeof(T)];
    for (uint8_t& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  bool Exhausted() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Values a user can type into any number input: not-a-number, infinities,
// the ends of the double range, zeros, and the edges of the integer ranges
// that counts and positions are converted to.
std::span<const double> HostileNumbers();
// Pixel values: the same kinds of trouble in single precision.
std::span<const float> HostilePixels();

// The whole content of an image, every channel of every pixel, as bytes:
// two images with equal snapshots are equal bit for bit (NaN payloads too).
struct ImageSnapshot {
  int32_t width = 0, height = 0;
  std::vector<std::string> further;
  std::vector<uint8_t> bytes;
  bool operator==(const ImageSnapshot&) const = default;
};
ImageSnapshot Snapshot(const Image& img);

// Sets the tool's inputs up as the bytes choose, in creation order: each
// number and option, and each image input connected to a new hostile image,
// to one made before, or (when optional) to nothing. Returns the images.
std::vector<ImagePtr> SetUpFromBytes(Operator& tool, ByteStream& in);

// Renders the tool as it is set up, on one worker and then on `threads`, and
// checks the promises above. Returns what broke, or an empty text.
std::string CheckRenders(const ToolRecord& rec, Operator& tool, int threads);

// Sets the tool up as the bytes choose and checks its renders; aborts with a
// message when a promise broke.
void FuzzTool(const ToolRecord& rec, const uint8_t* data, size_t size);

// The tools in registry order (tools/tools.list), by class name ("DirtyDof").
struct NamedTool {
  const char* className;
  const ToolRecord* record;
};
std::span<const NamedTool> AllTools();
const ToolRecord* ToolRecordByClass(std::string_view name);
