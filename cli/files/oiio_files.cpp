// Image files through OpenImageIO: the library that cli/files/image_io.cpp loads.
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/parallel.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>

#include "cli/errors.h"
#include "cli/files/image_io.h"
#include "cli/files/selection.h"

namespace fs = std::filesystem;

namespace {

// The rows of one chunk of the file: a tile's, or the scanlines an EXR
// compression packs together; 1 where the format says nothing.
int64_t ChunkRows(const OIIO::ImageSpec& spec, const std::string& format) {
  if (spec.tile_height > 0) return spec.tile_height;
  if (format != "openexr") return 1;
  const std::string compression(spec.get_string_attribute("compression", "zip"));
  const std::string method = compression.substr(0, compression.find(':'));
  if (method == "zip" || method == "pxr24") return 16;
  if (method == "piz" || method == "b44" || method == "b44a" || method == "dwaa") return 32;
  if (method == "dwab") return 256;
  return 1;
}

// Rows read or written at once: whole chunks, as many as the image
// library has threads to work them side by side (so that each call keeps
// them busy and the band stays small in the cache), and no fewer than 32.
int64_t BandRows(const OIIO::ImageSpec& spec, const std::string& format) {
  int threads = 0;
  OIIO::getattribute("threads", threads);
  const int64_t chunk = ChunkRows(spec, format);
  const int64_t rows = std::max<int64_t>(32, chunk * std::max(1, threads));
  return (rows + chunk - 1) / chunk * chunk;
}

std::string PixelCount(double pixels) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", pixels);
  return text;
}

std::string SizeText(const Rect& r) {
  return std::to_string(r.width) + " x " + std::to_string(r.height);
}

Rect DataWindowOf(const OIIO::ImageSpec& spec) { return {spec.x, spec.y, spec.width, spec.height}; }

Rect DisplayWindowOf(const OIIO::ImageSpec& spec) {
  if (spec.full_width <= 0 || spec.full_height <= 0) return DataWindowOf(spec);
  return {spec.full_x, spec.full_y, spec.full_width, spec.full_height};
}

// The name a multi-part file gives one of its parts.
std::string PartName(const OIIO::ImageSpec& spec) {
  std::string name(spec.get_string_attribute("oiio:subimagename"));
  return name.empty() ? std::string(spec.get_string_attribute("name")) : name;
}

std::vector<std::string> StringList(const OIIO::ImageSpec& spec, const char* name) {
  std::vector<std::string> list;
  const OIIO::ParamValue* p = spec.find_attribute(name);
  if (p && p->type().basetype == OIIO::TypeDesc::STRING)
    for (int i = 0; i < p->nvalues() * int(p->type().numelements()); ++i)
      list.emplace_back(static_cast<const OIIO::ustring*>(p->data())[i].string());
  return list;
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

class OiioImageFile final : public ImageFile {
 public:
  OiioImageFile(const std::string& path, const std::string& selector, double maxPixels, Carry carry)
      : path_(path), maxPixels_(maxPixels) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) throw RunError(path + ": no such file");
    if (fs::is_directory(status)) throw RunError(path + ": is a folder, not an image file");
    in_ = OIIO::ImageInput::open(path);
    if (!in_)
      throw RunError(path + ": not an image file that can be read (" + Printable(OIIO::geterror()) +
                     ")");

    FileLayout layout;
    for (int s = 0; in_->seek_subimage(s, 0); ++s) {
      const OIIO::ImageSpec& spec = in_->spec();
      specs_.push_back(spec);
      layout.parts.push_back(
          {PartName(spec), std::string(spec.get_string_attribute("view")), spec.channelnames});
    }
    in_->geterror();  // seeking past the last part leaves a message behind
    if (specs_.empty()) throw RunError(path + ": the file holds no image");
    if (specs_.size() == 1) layout.views = StringList(specs_[0], "multiView");
    selection_ = Select(layout, selector, path, carry == Carry::Everything);
    if (carry == Carry::Nothing) {
      selection_.further.clear();
      selection_.furtherNames.clear();
      selection_.carriesParts = false;
    }

    const OIIO::ImageSpec& spec = PartSpec();
    if (spec.deep) throw RunError(path + ": deep images are not supported");
    if (spec.depth > 1) throw RunError(path + ": volume images are not supported");
    if (spec.width <= 0 || spec.height <= 0) throw RunError(path + ": the image has no pixels");
    if (selection_.further.size() > size_t(MaxFurtherChannels)) {
      note_ = path + " has " + std::to_string(selection_.further.size()) +
              " further channels; only the first " + std::to_string(MaxFurtherChannels) +
              " are kept";
      selection_.further.resize(MaxFurtherChannels);
      selection_.furtherNames.resize(MaxFurtherChannels);
    }
    CheckSize(DataWindow(), "its data window");
    CheckSize(DisplayWindow(), "its display window");
    CheckSize(WholeFrame(), "its display and data windows together");
  }

  const std::string& Path() const override { return path_; }
  Rect DisplayWindow() const override { return DisplayWindowOf(PartSpec()); }
  Rect DataWindow() const override { return DataWindowOf(PartSpec()); }
  int ChannelCount() const override { return ChanFurther + int(selection_.further.size()); }

  ImagePtr Read(const Rect& frame) override {
    CheckSize(frame, "the frame it is read into");
    try {
      return ReadPixels(frame);
    } catch (const std::bad_alloc&) {
      throw RunError(path_ + ": cannot be read: its " + SizeText(frame) +
                     " pixels need more memory than there is");
    }
  }

  const OIIO::ImageSpec& PartSpec() const { return specs_[selection_.part]; }
  const std::vector<OIIO::ImageSpec>& Specs() const { return specs_; }
  const Selection& Chosen() const { return selection_; }
  OIIO::ImageInput& Input() const { return *in_; }
  const std::string& Note() const { return note_; }

  // The type of the part's channel of that name; the part's type when it
  // has none.
  OIIO::TypeDesc ChannelType(const std::string& name) const {
    const OIIO::ImageSpec& spec = PartSpec();
    for (int c = 0; c < spec.nchannels; ++c)
      if (spec.channelnames[c] == name) return spec.channelformat(c);
    return spec.format;
  }
  OIIO::TypeDesc SlotType(int channel) const {
    return channel >= 0 ? PartSpec().channelformat(channel) : PartSpec().format;
  }

 private:
  ImagePtr ReadPixels(const Rect& frame) {
    const Selection& sel = selection_;
    int first = INT32_MAX, last = -1;
    for (int c : {sel.red, sel.green, sel.blue, sel.alpha})
      if (c >= 0) first = std::min(first, c), last = std::max(last, c);
    for (int c : sel.further) first = std::min(first, c), last = std::max(last, c);
    if (last < 0) throw RunError(path_ + ": the selection fills no channel");

    ImagePtr img(NewImage(int32_t(frame.width), int32_t(frame.height), sel.furtherNames));
    const Rect data = DataWindow();
    const Rect inside = frame.Intersection(data);
    if (!(inside == frame)) img->Fill(0, 0, 0, 0);
    if (inside.Empty()) return img;

    const int span = last - first + 1;
    auto slot = [first](int c) { return c < 0 ? -1 : c - first; };
    const int red = slot(sel.red), green = slot(sel.green), blue = slot(sel.blue),
              alpha = slot(sel.alpha);
    const int further = int(sel.further.size());
    std::vector<int> furtherSlots;
    for (int c : sel.further) furtherSlots.push_back(c - first);

    const OIIO::ImageSpec& spec = PartSpec();
    // Rows are read in bands of whole chunks (tiles, or runs of scanlines),
    // each band once, and placed in the image.
    const int64_t unit = ChunkRows(spec, in_->format_name());
    const int64_t bandRows = BandRows(spec, in_->format_name());
    std::vector<float> band(size_t(std::min(bandRows, data.height) * data.width * span));
    // Bands start at a multiple of the unit from the top of the data window,
    // where the file's chunks start.
    int64_t y0 = data.y + (inside.y - data.y) / unit * unit;
    for (; y0 < inside.y + inside.height; y0 += bandRows) {
      const int64_t y1 = std::min(y0 + bandRows, data.y + data.height);
      const bool ok =
          spec.tile_width > 0
              ? in_->read_tiles(selection_.part, 0, int(data.x), int(data.x + data.width), int(y0),
                                int(y1), 0, 1, first, last + 1, OIIO::TypeDesc::FLOAT, band.data())
              : in_->read_scanlines(selection_.part, 0, int(y0), int(y1), 0, first, last + 1,
                                    OIIO::TypeDesc::FLOAT, band.data());
      if (!ok)
        throw RunError(path_ + ": cannot be read; the file is damaged or truncated (" +
                       Printable(in_->geterror()) + ")");
      // The rows of a band are placed side by side, on the image library's
      // threads: the first touch of the image's pages is spread out too.
      auto place = [&](int64_t from, int64_t to) {
        for (int64_t y = from; y < to; ++y) {
          const float* src = &band[size_t(((y - y0) * data.width + (inside.x - data.x)) * span)];
          const int32_t row = int32_t(y - frame.y);
          for (int64_t x = inside.x - frame.x; x < inside.x + inside.width - frame.x;
               ++x, src += span) {
            float* g1 = img->Group1(int32_t(x), row);
            g1[ChanB] = blue >= 0 ? src[blue] : 0.0f;
            g1[ChanG] = green >= 0 ? src[green] : 0.0f;
            g1[ChanR] = red >= 0 ? src[red] : 0.0f;
            g1[ChanA] = alpha >= 0 ? src[alpha] : 1.0f;
            if (further > 0) {
              float* g2 = img->Group2(int32_t(x), row);
              for (int i = 0; i < further; ++i) g2[i] = src[furtherSlots[i]];
            }
          }
        }
      };
      OIIO::parallel_for_range(std::max(y0, inside.y), std::min(y1, inside.y + inside.height),
                               place);
    }
    return img;
  }

  void CheckSize(const Rect& r, const char* what) const {
    if (r.Pixels() > maxPixels_)
      throw RunError(path_ + ": " + what + " (" + SizeText(r) + " = " + PixelCount(r.Pixels()) +
                     " pixels) is more than the limit of " + PixelCount(maxPixels_) +
                     " (raise it with --max-pixels)");
  }

  std::string path_;
  double maxPixels_;
  std::unique_ptr<OIIO::ImageInput> in_;
  std::vector<OIIO::ImageSpec> specs_;
  Selection selection_;
  std::string note_;
};

std::unique_ptr<ImageFile> Open(const std::string& path, const std::string& selector,
                                double maxPixels, Carry carry) {
  try {
    return std::make_unique<OiioImageFile>(path, selector, maxPixels, carry);
  } catch (const std::bad_alloc&) {
    throw RunError(path + ": cannot be read: its header asks for more memory than there is");
  }
}

const char* const ExrCompressions[] = {"none",  "rle", "zips", "zip",  "piz",
                                       "pxr24", "b44", "b44a", "dwaa", "dwab"};

void CheckOutput(const std::string& path, const WriteOptions& options) {
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
  const auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    OIIO::geterror();
    throw UsageError("output " + path +
                     ": no image format is known for this name; known: " + KnownExtensions());
  }
  if (!options.format.empty() && OIIO::TypeDesc(options.format).basetype == OIIO::TypeDesc::UNKNOWN)
    throw UsageError("--format " + options.format +
                     ": not a pixel type; valid: half, float, double, uint8, uint16, uint32, "
                     "int8, int16, int32");
  if (!options.compression.empty() && std::string_view(out->format_name()) == "openexr") {
    const std::string method = options.compression.substr(0, options.compression.find(':'));
    if (std::find(std::begin(ExrCompressions), std::end(ExrCompressions), method) ==
        std::end(ExrCompressions))
      throw UsageError("--compression " + options.compression +
                       ": EXR files know none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab "
                       "(dwaa and dwab take a level: dwaa:45)");
  }
}

// Writes into a temporary file beside the path and renames it over the
// path when `write` succeeded; the data reaches the disk before the name.
void WriteAtomically(const std::string& path,
                     const std::function<bool(const std::string& temp, std::string& why)>& write) {
  static std::atomic<unsigned> serial{0};
  const fs::path file(path);
  std::string tempName(".");
  tempName += file.stem().string() + ".partial-" + std::to_string(getpid()) + "-" +
              std::to_string(serial++) + file.extension().string();
  const fs::path temp = file.parent_path() / tempName;
  auto fail = [&](const std::string& why) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw RunError("output " + path + ": cannot be written (" + Printable(why) + ")");
  };
  std::string why;
  bool written = false;
  try {
    written = write(temp.string(), why);
  } catch (const std::bad_alloc&) {
    fail("out of memory");
  }
  if (!written) fail(why);
  if (const int fd = open(temp.c_str(), O_RDONLY); fd >= 0) {
    fsync(fd);
    close(fd);
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  if (ec) fail(ec.message());
}

// The header attributes that describe how the input file was laid out, not
// what its pixels are: they do not carry to another file.
void DropLayoutAttributes(OIIO::ImageSpec& spec) {
  for (const char* name : {"oiio:subimages", "openexr:chunkCount", "openexr:levelmode",
                           "openexr:roundingmode", "tiles", "oiio:UnassociatedAlpha"})
    spec.erase_attribute(name);
  spec.tile_width = spec.tile_height = spec.tile_depth = 0;
  // No time stamp of the writing: one render of one input writes one file.
  if (!spec.find_attribute("DateTime")) spec.attribute("DateTime", "");
}

// One output channel: its name, type, and where its values come from.
struct OutChannel {
  std::string name;
  OIIO::TypeDesc type;
  int slot;     // record slot of the result (ChanR, ...), or -1
  int further;  // further channel of the result, or -1
};

std::string Write(const Image& result, const Rect& frameGiven, const ImageFile& likeFile,
                  const WriteOptions& options, const std::string& path) {
  const auto& like = static_cast<const OiioImageFile&>(likeFile);
  const Selection& sel = like.Chosen();
  std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
  if (!out) throw UsageError("output " + path + ": no image format is known for this name");
  const bool exr = std::string_view(out->format_name()) == "openexr";
  const Rect frame{frameGiven.x, frameGiven.y, result.Width(), result.Height()};

  // The pixels written: the input's data window, or the whole frame; a
  // format without windows takes the display window.
  Rect window = options.fullFrame ? frame : like.DataWindow();
  const bool windows = exr || (out->supports("origin") && out->supports("displaywindow"));
  if (!windows) window = like.DisplayWindow();

  std::vector<OutChannel> channels;
  const int slots[] = {ChanR, ChanG, ChanB, ChanA};
  const int sources[] = {sel.red, sel.green, sel.blue, sel.alpha};
  if (exr) {
    const std::vector<std::string> names =
        options.names.empty() ? sel.resultNames : ResultNamesFor(options.names);
    for (int s = 0; s < 4; ++s)
      if (!names[s].empty())
        channels.push_back(
            {names[s], like.SlotType(sources[s] >= 0 ? sources[s] : sel.red), slots[s], -1});
    for (int i = 0; i < result.FurtherCount(); ++i) {
      const std::string& name = result.FurtherNames()[i];
      if (std::none_of(channels.begin(), channels.end(),
                       [&](const OutChannel& c) { return c.name == name; }))
        channels.push_back({name, like.ChannelType(name), -1, i});
    }
  } else {
    const char* names[] = {"R", "G", "B", "A"};
    for (int s = 0; s < (out->supports("alpha") ? 4 : 3); ++s)
      channels.push_back({names[s], like.SlotType(sel.red), slots[s], -1});
  }
  const OIIO::TypeDesc asked(options.format);
  if (!options.format.empty())
    for (OutChannel& c : channels) c.type = asked;

  OIIO::ImageSpec spec;
  if (exr) {
    spec = like.PartSpec();
    DropLayoutAttributes(spec);
    spec.attribute("Software", "vexlan 1.0.0");
    if (!sel.view.empty() && like.Specs().size() == 1) {
      const OIIO::ustring view(sel.view);
      spec.attribute("multiView", OIIO::TypeDesc(OIIO::TypeDesc::STRING, 1), &view);
    } else if (!sel.carriesParts) {
      spec.erase_attribute("multiView");
    }
  } else {
    spec = OIIO::ImageSpec(1, 1, 1, OIIO::TypeDesc::FLOAT);
    spec.full_x = int(like.DisplayWindow().x), spec.full_y = int(like.DisplayWindow().y);
    spec.full_width = int(like.DisplayWindow().width);
    spec.full_height = int(like.DisplayWindow().height);
    spec.attribute("DateTime", "");
  }
  // The input's compression holds for a file of the same format; another
  // format's names mean nothing here, so it takes its own default.
  const std::string kept(like.PartSpec().get_string_attribute("compression"));
  if (!options.compression.empty())
    spec.attribute("compression", options.compression);
  else if (std::string_view(like.Input().format_name()) == out->format_name() && !kept.empty())
    spec.attribute("compression", kept);
  else
    spec.erase_attribute("compression");
  spec.x = int(window.x), spec.y = int(window.y);
  spec.width = int(window.width), spec.height = int(window.height);
  spec.nchannels = int(channels.size());
  spec.channelnames.clear();
  spec.channelformats.clear();
  spec.alpha_channel = spec.z_channel = -1;
  for (const OutChannel& c : channels) {
    if (c.slot == ChanA) spec.alpha_channel = int(spec.channelnames.size());
    spec.channelnames.push_back(c.name);
    spec.channelformats.push_back(c.type);
  }
  spec.format = channels.empty() ? OIIO::TypeDesc(OIIO::TypeDesc::FLOAT) : channels[0].type;
  if (std::all_of(channels.begin(), channels.end(),
                  [&](const OutChannel& c) { return c.type == spec.format; }))
    spec.channelformats.clear();

  // The file's other parts, copied as they are, in their places.
  std::vector<int> parts = {sel.part};
  std::string note;
  if (exr && sel.carriesParts && like.Specs().size() > 1) {
    parts.clear();
    for (int p = 0; p < int(like.Specs().size()); ++p) {
      if (p != sel.part && like.Specs()[p].deep) {
        note = path + ": the deep part " + std::to_string(p) + " of " + like.Path() +
               " is not carried";
        continue;
      }
      parts.push_back(p);
    }
  }
  std::vector<OIIO::ImageSpec> specs;
  for (int p : parts) {
    if (p == sel.part) {
      specs.push_back(spec);
    } else {
      specs.push_back(like.Specs()[p]);
      specs.back().erase_attribute("oiio:subimages");
      specs.back().erase_attribute("openexr:chunkCount");
    }
  }

  WriteAtomically(path, [&](const std::string& temp, std::string& why) {
    if (!out->open(temp, int(specs.size()), specs.data())) return why = out->geterror(), false;
    if (out->spec().format != spec.format && note.empty())
      note = std::string(out->format_name()) + " files cannot hold " + spec.format.c_str() +
             " pixels; written as " + out->spec().format.c_str();
    for (size_t k = 0; k < parts.size(); ++k) {
      if (k > 0 && !out->open(temp, specs[k], OIIO::ImageOutput::AppendSubimage))
        return why = out->geterror(), false;
      if (parts[k] != sel.part) {
        const OIIO::ImageSpec& s = like.Specs()[parts[k]];
        std::vector<std::byte> pixels(s.image_bytes(true));
        if (!like.Input().read_image(parts[k], 0, 0, s.nchannels, OIIO::TypeUnknown, pixels.data()))
          return why = like.Path() + ": part " + std::to_string(parts[k]) + " cannot be read (" +
                       like.Input().geterror() + ")",
                 false;
        if (!out->write_image(OIIO::TypeUnknown, pixels.data()))
          return why = out->geterror(), false;
        continue;
      }
      // The result, band by band: each row of the window from the result
      // where the frame covers it, 0 elsewhere.
      const int n = int(channels.size());
      const int64_t bandRows = BandRows(out->spec(), out->format_name());
      std::vector<float> band(size_t(std::min(bandRows, window.height) * window.width * n));
      const Rect covered = window.Intersection(frame);
      for (int64_t y0 = window.y; y0 < window.y + window.height; y0 += bandRows) {
        const int64_t y1 = std::min(y0 + bandRows, window.y + window.height);
        if (!(covered == window)) std::fill(band.begin(), band.end(), 0.0f);
        auto gather = [&](int64_t from, int64_t to) {
          for (int64_t y = from; y < to; ++y) {
            float* dst = &band[size_t(((y - y0) * window.width + (covered.x - window.x)) * n)];
            for (int64_t x = covered.x; x < covered.x + covered.width; ++x, dst += n) {
              const float* g1 = result.Group1(int32_t(x - frame.x), int32_t(y - frame.y));
              const float* g2 = result.FurtherCount() > 0
                                    ? result.Group2(int32_t(x - frame.x), int32_t(y - frame.y))
                                    : nullptr;
              for (int c = 0; c < n; ++c)
                dst[c] = channels[c].slot >= 0 ? g1[channels[c].slot] : g2[channels[c].further];
            }
          }
        };
        OIIO::parallel_for_range(std::max(y0, covered.y), std::min(y1, covered.y + covered.height),
                                 gather);
        if (!out->write_scanlines(int(y0), int(y1), 0, OIIO::TypeDesc::FLOAT, band.data()))
          return why = out->geterror(), false;
      }
    }
    return out->close() || (why = out->geterror(), false);
  });
  if (!like.Note().empty()) note = like.Note() + (note.empty() ? "" : "; " + note);
  return note;
}

void WriteFloat(const FloatImage& img, const std::string& path) {
  CheckOutput(path, {});
  const int channels = static_cast<int>(img.channels.size());
  OIIO::ImageSpec spec(img.width, img.height, channels, OIIO::TypeDesc::FLOAT);
  spec.channelnames = img.channels;
  const auto alpha = std::find(img.channels.begin(), img.channels.end(), "A");
  spec.alpha_channel = alpha == img.channels.end() ? -1 : int(alpha - img.channels.begin());
  spec.attribute("DateTime", "");
  WriteAtomically(path, [&](const std::string& temp, std::string& why) {
    auto out = OIIO::ImageOutput::create(path);
    if (out->open(temp, spec) && out->write_image(OIIO::TypeDesc::FLOAT, img.pixels.data()) &&
        out->close())
      return true;
    why = out->geterror();
    return false;
  });
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
  static const ImageFileFunctions functions = {Open, CheckOutput, Write, WriteFloat, LimitThreads};
  return &functions;
}
