// Image files, read and written with OpenImageIO (every format it knows).
//
// Reading maps the file's channels into the pixel record:
//   R (or X, U) to red, G (or Y, V) to green, B (or Z) to blue, A to alpha;
//   a single colour channel (such as Z or Y) fills red, green and blue;
//   a missing alpha is 1, a missing colour channel 0.
// With a layer, the channels LAYER.R, LAYER.G, ... (or LAYER.X, ...) are
// mapped the same way and nothing else is read. Without one, every channel
// that is not mapped becomes a further channel under its own name, so that
// it is carried through the tools to the output.
//
// The image is the file's display window, rows in the file's order (row 0
// at the top); the data window is placed in it, and whatever lies outside
// the data window is 0 in every channel, alpha included.
//
// OpenImageIO brings a few hundred libraries with it, which take a good part
// of a second to load; the functions here live in a library of their own
// (libvexlanimageio, beside the host library) that is loaded on first use,
// so that the commands that touch no file answer at once.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/holds.h"

// The image in the file (its first subimage, or the one holding the layer).
// Throws RunError when the file is missing, a folder, not an image, damaged
// or truncated, when its header claims more than maxPixels pixels (checked
// before anything is allocated), or when the layer does not exist.
ImagePtr ReadImageFile(const std::string& path, const std::string& layer, double maxPixels);

// Throws RunError when the output cannot be written: its folder is missing
// or not a folder, or the path is a folder. Throws UsageError when no format
// is known for its name.
void CheckOutputPath(const std::string& path);

// Writes the image atomically: into a temporary file in the same folder,
// renamed over the path only when complete, so that a failure never leaves
// a partial file or replaces an existing one. EXR files get every channel as
// 32-bit float (R, G, B, A, then the further channels by name); other
// formats get R, G, B and, where the format has one, A, converted by
// OpenImageIO to what the format stores. Throws RunError.
void WriteImageFile(const Image& img, const std::string& path);

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

// Bounds the threads the image library starts of its own (to read and write
// the chunks of an EXR file, say) to `threads`; 0 lets it take one per core.
void LimitImageFileThreads(int threads);

// The table the image file library hands out.
struct ImageFileFunctions {
  ImagePtr (*read)(const std::string& path, const std::string& layer, double maxPixels);
  void (*checkOutput)(const std::string& path);
  void (*write)(const Image& img, const std::string& path);
  void (*writeFloat)(const FloatImage& img, const std::string& path);
  void (*limitThreads)(int threads);
};
#define VEXLAN_IMAGE_FILES_ENTRY "VexlanImageFileFunctions"
