// Image files through OpenImageIO: the library that cli/image_io.cpp loads.
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "cli/channels.h"
#include "cli/errors.h"
#include "cli/image_io.h"

namespace fs = std::filesystem;

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string PixelCount(double pixels) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", pixels);
  return text;
}

// The name a multi-part file gives one of its parts.
std::string SubimageName(const OIIO::ImageSpec& spec) {
  std::string name(spec.get_string_attribute("oiio:subimagename"));
  return name.empty() ? std::string(spec.get_string_attribute("name")) : name;
}

// ".exr, .tif, ..." from OpenImageIO's "openexr:exr,sxr;tiff:tif,..." list.
std::string KnownExtensions() {
  const std::string list(OIIO::get_string_attribute("extension_list"));
  std::string known;
  bool inNames = false;
  for (char c : list) {
    if (c == ':' || c == ',') {
      known += (known.empty() ? "." : ", .");
      inNames = true;
    } else if (c == ';') {
      inNames = false;
    } else if (inNames) {
      known += c;
    }
  }
  return known;
}

struct Located {
  int subimage = 0;
  OIIO::ImageSpec spec;
  ChannelMap map;
};

// Finds the part of the file that holds the layer: the first whose channels
// are LAYER.something, else one that is itself named LAYER.
Located LocateLayer(OIIO::ImageInput& in, const std::string& path, const std::string& layer) {
  std::vector<std::string> layers;
  for (int s = 0; in.seek_subimage(s, 0); ++s) {
    const OIIO::ImageSpec& spec = in.spec();
    ChannelMap map = MapChannels(spec.channelnames, layer);
    if (map.Empty() && SubimageName(spec) == layer) {
      map = MapChannels(spec.channelnames, "");
      map.further.clear();
      map.furtherNames.clear();
    }
    if (!map.Empty()) return {s, spec, map};
    for (const std::string& found : LayersOf(spec.channelnames))
      if (std::find(layers.begin(), layers.end(), found) == layers.end()) layers.push_back(found);
    const std::string part = SubimageName(spec);
    if (!part.empty() && std::find(layers.begin(), layers.end(), part) == layers.end())
      layers.push_back(part);
  }
  in.geterror();  // seeking past the last part leaves a message behind
  if (layers.empty()) {
    in.seek_subimage(0, 0);
    throw RunError(path + ": no layer \"" + layer + "\"; the file has no layers (its channels: " +
                   Joined(in.spec().channelnames) + ")");
  }
  throw RunError(path + ": no layer \"" + layer + "\"; the file's layers: " + Joined(layers));
}

ImagePtr Read(const std::string& path, const std::string& layer, double maxPixels) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) throw RunError(path + ": no such file");
  if (fs::is_directory(status)) throw RunError(path + ": is a folder, not an image file");

  auto in = OIIO::ImageInput::open(path);
  if (!in) throw RunError(path + ": not an image file that can be read (" + OIIO::geterror() + ")");

  Located at;
  if (layer.empty()) {
    at.spec = in->spec();
    at.map = MapChannels(at.spec.channelnames, "");
  } else {
    at = LocateLayer(*in, path, layer);
  }
  const OIIO::ImageSpec& spec = at.spec;
  if (spec.deep) throw RunError(path + ": deep images are not supported");
  if (spec.depth > 1) throw RunError(path + ": volume images are not supported");
  if (spec.width <= 0 || spec.height <= 0) throw RunError(path + ": the image has no pixels");
  // The picture is the display window, with the data window placed in it;
  // whatever lies outside the data window is empty, 0 in every channel.
  const bool windowed = spec.full_width > 0 && spec.full_height > 0;
  const int32_t width = windowed ? spec.full_width : spec.width;
  const int32_t height = windowed ? spec.full_height : spec.height;
  const int64_t dataX = windowed ? int64_t(spec.x) - spec.full_x : 0;
  const int64_t dataY = windowed ? int64_t(spec.y) - spec.full_y : 0;
  for (const auto& [w, h] : {std::pair<int, int>(spec.width, spec.height), {width, height}}) {
    const double pixels = double(w) * double(h);
    if (pixels > maxPixels)
      throw RunError(path + ": its header claims " + std::to_string(w) + " x " + std::to_string(h) +
                     " = " + PixelCount(pixels) + " pixels, more than the limit of " +
                     PixelCount(maxPixels) + " (raise it with --max-pixels)");
  }

  ChannelMap& map = at.map;
  if (map.further.size() > MaxFurtherChannels) {
    std::cerr << "warning: " << path << " has " << map.further.size()
              << " further channels; only the first " << MaxFurtherChannels << " are kept\n";
    map.further.resize(MaxFurtherChannels);
    map.furtherNames.resize(MaxFurtherChannels);
  }

  // Read only the span of channels that is used.
  int first = INT32_MAX, last = -1;
  for (int c : {map.red, map.green, map.blue, map.alpha})
    if (c >= 0) first = std::min(first, c), last = std::max(last, c);
  for (int c : map.further) first = std::min(first, c), last = std::max(last, c);

  if (last < 0) throw RunError(path + ": the image has no channels");
  ImagePtr img(NewImage(width, height, map.furtherNames));
  const bool covered = dataX == 0 && dataY == 0 && spec.width == width && spec.height == height;
  if (!covered) img->Fill(0, 0, 0, 0);
  const int span = last - first + 1;
  std::vector<float> pixelsRead(size_t(spec.width) * size_t(spec.height) * size_t(span));
  if (!in->read_image(at.subimage, 0, first, last + 1, OIIO::TypeDesc::FLOAT, pixelsRead.data()))
    throw RunError(path + ": cannot be read; the file is damaged or truncated (" + in->geterror() +
                   ")");

  auto slot = [first](int c) { return c < 0 ? -1 : c - first; };
  const int red = slot(map.red), green = slot(map.green), blue = slot(map.blue),
            alpha = slot(map.alpha);
  const int further = static_cast<int>(map.further.size());
  // The part of the data window that lies in the picture.
  const int64_t fromX = std::max<int64_t>(0, -dataX),
                toX = std::min<int64_t>(spec.width, width - dataX);
  const int64_t fromY = std::max<int64_t>(0, -dataY),
                toY = std::min<int64_t>(spec.height, height - dataY);
  for (int64_t y = fromY; y < toY; ++y)
    for (int64_t x = fromX; x < toX; ++x) {
      const float* src = &pixelsRead[(size_t(y) * spec.width + x) * span];
      float* g1 = img->Group1(int32_t(x + dataX), int32_t(y + dataY));
      g1[ChanB] = blue >= 0 ? src[blue] : 0.0f;
      g1[ChanG] = green >= 0 ? src[green] : 0.0f;
      g1[ChanR] = red >= 0 ? src[red] : 0.0f;
      g1[ChanA] = alpha >= 0 ? src[alpha] : 1.0f;
      if (further > 0) {
        float* g2 = img->Group2(int32_t(x + dataX), int32_t(y + dataY));
        for (int i = 0; i < further; ++i) g2[i] = src[map.further[i] - first];
      }
    }
  return img;
}

void CheckOutput(const std::string& path) {
  const fs::path file(path);
  if (file.filename().empty()) throw UsageError("output " + path + ": names a folder, not a file");
  std::error_code ec;
  if (fs::is_directory(file, ec)) throw RunError("output " + path + ": is a folder");
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status))
    throw RunError("output " + path + ": the folder " + folder.string() + " does not exist");
  if (!fs::is_directory(status))
    throw RunError("output " + path + ": " + folder.string() + " is not a folder");
  if (access(folder.c_str(), W_OK) != 0)
    throw RunError("output " + path + ": the folder " + folder.string() + " cannot be written");
  if (!OIIO::ImageOutput::create(path)) {
    OIIO::geterror();
    throw UsageError("output " + path +
                     ": no image format is known for this name; known: " + KnownExtensions());
  }
}

void WriteFloat(const FloatImage& img, const std::string& path);

void Write(const Image& img, const std::string& path) {
  CheckOutput(path);
  const auto out = OIIO::ImageOutput::create(path);
  const bool exr = std::string_view(out->format_name()) == "openexr";
  const bool alpha = exr || out->supports("alpha");
  const int further = exr ? img.FurtherCount() : 0;

  std::vector<std::string> names = {"R", "G", "B"};
  if (alpha) names.push_back("A");
  for (int i = 0; i < further; ++i) names.push_back(img.FurtherNames()[i]);
  FloatImage pixels(img.Width(), img.Height(), names);
  for (int32_t y = 0; y < img.Height(); ++y)
    for (int32_t x = 0; x < img.Width(); ++x) {
      float* dst = pixels.At(x, y);
      const float* g1 = img.Group1(x, y);
      dst[0] = g1[ChanR], dst[1] = g1[ChanG], dst[2] = g1[ChanB];
      if (alpha) dst[3] = g1[ChanA];
      if (further > 0) std::copy_n(img.Group2(x, y), further, dst + 4);
    }
  WriteFloat(pixels, path);
}

void WriteFloat(const FloatImage& img, const std::string& path) {
  CheckOutput(path);
  auto out = OIIO::ImageOutput::create(path);
  const int channels = static_cast<int>(img.channels.size());
  OIIO::ImageSpec spec(img.width, img.height, channels, OIIO::TypeDesc::FLOAT);
  spec.channelnames = img.channels;
  const auto alpha = std::find(img.channels.begin(), img.channels.end(), "A");
  spec.alpha_channel = alpha == img.channels.end() ? -1 : int(alpha - img.channels.begin());
  // No time stamp: one render of one input writes one file, byte for byte,
  // whenever and on however many threads it runs.
  spec.attribute("DateTime", "");

  static std::atomic<unsigned> serial{0};
  const fs::path file(path);
  std::string tempName(".");
  tempName += file.stem().string() + ".partial-" + std::to_string(getpid()) + "-" +
              std::to_string(serial++) + file.extension().string();
  const fs::path temp = file.parent_path() / tempName;
  auto fail = [&](const std::string& why) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw RunError("output " + path + ": cannot be written (" + why + ")");
  };
  if (!out->open(temp.string(), spec) ||
      !out->write_image(OIIO::TypeDesc::FLOAT, img.pixels.data()) || !out->close())
    fail(out->geterror());
  out.reset();
  // The data reaches the disk before the name does.
  if (const int fd = open(temp.c_str(), O_RDONLY); fd >= 0) {
    fsync(fd);
    close(fd);
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) fail(ec.message());
}

void LimitThreads(int threads) {
  OIIO::attribute("threads", threads);
  OIIO::attribute("exr_threads", threads);
}

}  // namespace

// The library's one entry point: the program looks it up when it first
// needs a file.
extern "C" __attribute__((visibility("default"))) const ImageFileFunctions*
VexlanImageFileFunctions() {
  static const ImageFileFunctions functions = {Read, CheckOutput, Write, WriteFloat, LimitThreads};
  return &functions;
}
