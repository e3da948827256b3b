// Image files, read and written with OpenImageIO (every format it knows).
//
// Geometry. Every pixel keeps its absolute position. A file has a display
// window (the frame) and a data window (the pixels it stores), which may
// lie partly or wholly outside the display window (overscan). An input is
// read into a rectangle of absolute pixel positions that the caller picks:
// pixel (0, 0) of the image is the rectangle's corner; whatever of the
// rectangle lies outside the data window is 0 in every channel, alpha too.
//
// Channels. The selector (cli/files/selection.h) says which channels fill the
// pixel record and which are carried through the tool as further channels.
//
// Writing. The output keeps the display window, the header (chromaticities,
// pixel aspect ratio, views, text and the rest; Software names vexlan), the
// pixel types and the compression of the input it is written like, and by
// default that input's data window. Carried channels keep their names and
// types; without a selector the file's other parts are copied into the
// output as they are. EXR files get all of this; other formats get red,
// green, blue and, where the format has one, alpha, as the format stores them.
//
// OpenImageIO brings a few hundred libraries with it, which take a good part
// of a second to load; the functions here live in a library of their own
// (libvexlanimageio, beside the host library) that is loaded on first use,
// so that the commands that touch no file answer at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/render.h"

// A rectangle of absolute pixel positions.
struct Rect {
  int64_t x = 0, y = 0, width = 0, height = 0;

  bool Empty() const { return width <= 0 || height <= 0; }
  double Pixels() const { return Empty() ? 0.0 : double(width) * double(height); }
  bool operator==(const Rect&) const = default;
  // The smallest rectangle holding both.
  Rect Union(const Rect& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    const int64_t x0 = std::min(x, o.x), y0 = std::min(y, o.y);
    return {x0, y0, std::max(x + width, o.x + o.width) - x0,
            std::max(y + height, o.y + o.height) - y0};
  }
  Rect Intersection(const Rect& o) const {
    const int64_t x0 = std::max(x, o.x), y0 = std::max(y, o.y);
    const int64_t x1 = std::min(x + width, o.x + o.width),
                  y1 = std::min(y + height, o.y + o.height);
    if (x1 <= x0 || y1 <= y0) return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
  }
};

// An input file opened, its header read and its selection resolved; its
// pixels are read on demand.
class ImageFile {
 public:
  virtual ~ImageFile() = default;
  virtual const std::string& Path() const = 0;
  virtual Rect DisplayWindow() const = 0;
  virtual Rect DataWindow() const = 0;
  // Channels read into the pixel record and carried with it.
  virtual int ChannelCount() const = 0;
  // The display window and the data window together.
  Rect WholeFrame() const { return DisplayWindow().Union(DataWindow()); }
  // The selected channels over `frame`. Throws RunError when the frame is
  // larger than the file's pixel limit, or the file cannot be read.
  virtual ImagePtr Read(const Rect& frame) = 0;
};

// How an output is written.
struct WriteOptions {
  std::string names;        // the result's channel names (ResultNamesFor); empty: the input's
  std::string format;       // pixel type ("half", "float", ...); empty: the input's
  std::string compression;  // EXR compression; empty: the input's
  bool fullFrame = false;   // the data window is the whole frame, not the input's
};

// What of a file, besides the channels that fill the pixel record, is read
// and carried to the output: nothing (an image that only feeds the tool),
// what the selector says (the rest of the file without one, the selected
// channels that fill no slot with one), or the whole file.
enum class Carry { Nothing, AsSelected, Everything };

// Opens the file and resolves the selector. Throws RunError when the file
// is missing, a folder, not an image, damaged, holds nothing the selector
// names, or when its header claims more than maxPixels pixels (data window,
// display window or both together; checked before anything is allocated).
std::unique_ptr<ImageFile> OpenImageFile(const std::string& path, const std::string& selector,
                                         double maxPixels, Carry carry = Carry::AsSelected);

// Throws RunError when the output cannot be written: its folder is missing
// or not a folder, or the path is a folder. Throws UsageError when no format
// is known for its name or it cannot take the options.
void CheckOutputPath(const std::string& path, const WriteOptions& options = {});

// Writes the result, which covers `frame`, like the input `like`, atomically:
// into a temporary file in the same folder, renamed over the path only when
// complete, so that a failure never leaves a partial file or replaces an
// existing one. Returns a note for the user (the pixel type the format took
// instead of the one asked for), empty when there is none. Throws RunError.
std::string WriteImageFile(const Image& result, const Rect& frame, const ImageFile& like,
                           const WriteOptions& options, const std::string& path);

// Plain interleaved float pixels with named channels: images that the
// program makes itself (the demo's passes and previews).
struct FloatImage {
  int width = 0;
  int height = 0;
  std::vector<std::string> channels;
  std::vector<float> pixels;  // row by row, the channels of a pixel together

  FloatImage(int w, int h, std::vector<std::string> names)
      : width(w),
        height(h),
        channels(std::move(names)),
        pixels(size_t(w) * size_t(h) * channels.size(), 0.0f) {}
  float* At(int x, int y) { return &pixels[(size_t(y) * width + x) * channels.size()]; }
  const float* At(int x, int y) const { return &pixels[(size_t(y) * width + x) * channels.size()]; }
};

// Writes the channels as they are, atomically like WriteImageFile: EXR as
// 32-bit float, other formats converted by OpenImageIO. Throws RunError.
void WriteFloatImage(const FloatImage& img, const std::string& path);

// Starts loading the image file library on a thread of its own, so that it
// loads while the caller does other work; a failure to load is reported by
// the first function that needs it.
std::future<void> LoadImageFilesAhead();

// Bounds the threads the image library starts of its own (to read and write
// the chunks of an EXR file, say) to `threads`; 0 lets it take one per core.
void LimitImageFileThreads(int threads);

// The table the image file library hands out.
struct ImageFileFunctions {
  std::unique_ptr<ImageFile> (*open)(const std::string& path, const std::string& selector,
                                     double maxPixels, Carry carry);
  void (*checkOutput)(const std::string& path, const WriteOptions& options);
  std::string (*write)(const Image& result, const Rect& frame, const ImageFile& like,
                       const WriteOptions& options, const std::string& path);
  void (*writeFloat)(const FloatImage& img, const std::string& path);
  void (*limitThreads)(int threads);
};
#define VEXLAN_IMAGE_FILES_ENTRY "VexlanImageFileFunctions"
