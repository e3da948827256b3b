// Test helpers: small images built from values, and a tool built and
// rendered the way the host does it.
#pragma once

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "frame/tool.h"
#include "frame/tools.h"
#include "host/host.h"
#include "host/render.h"

struct RGBA {
  float r, g, b, a;
  bool operator==(const RGBA&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const RGBA& p) {
  return os << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

// An image whose pixel (x, y) is color(x, y); further channels are 0 unless
// `further` sets them.
inline ImagePtr MakeImage(int w, int h, const std::function<RGBA(int, int)>& color,
                          const std::vector<std::string>& furtherNames = {},
                          const std::function<float(int, int, int)>& further = nullptr) {
  ImagePtr img(NewImage(w, h, furtherNames));
  img->Fill(0, 0, 0, 0);
  FltPixel px{};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const RGBA c = color(x, y);
      px.R() = c.r, px.G() = c.g, px.B() = c.b, px.A() = c.a;
      for (int i = 0; i < static_cast<int>(furtherNames.size()); ++i)
        px.Chan[ChanFurther + i] = further ? further(x, y, i) : 0.0f;
      img->SetPixel(x, y, px);
    }
  return img;
}

inline ImagePtr ConstantImage(int w, int h, RGBA c) {
  return MakeImage(w, h, [c](int, int) { return c; });
}

inline RGBA PixelAt(const Image* img, int x, int y) {
  FltPixel px;
  img->GetPixel(x, y, px);
  return {px.R(), px.G(), px.B(), px.A()};
}

inline float FurtherAt(const Image* img, int x, int y, int channel) {
  return img->Group2(x, y)[channel];
}

// A pass-like image: smooth values in 0 .. 1 and an opaque alpha; further
// channel c of pixel (x, y) holds x + y + c.
inline ImagePtr Ramp(int w, int h, const std::vector<std::string>& further = {}) {
  return MakeImage(
      w, h,
      [](int x, int y) {
        auto v = [&](int c) { return static_cast<float>((x * 7 + y * 13 + c * 5) % 16) / 15.0f; };
        return RGBA{v(2), v(1), v(0), 1.0f};
      },
      further, [](int x, int y, int c) { return static_cast<float>(x + y + c); });
}

// v = 1 + x + 3ky as (v, 2v, 0, 1); further channels hold x.
ImagePtr NumberedImage(int w, int h, int k = 1, const std::vector<std::string>& further = {}) {
  return MakeImage(
      w, h,
      [=](int x, int y) {
        const float v = 1.0f + x + 3.0f * y * k;
        return RGBA{v, 2 * v, 0, 1};
      },
      further, [](int x, int, int) { return float(x); });
}

// A bumpy surface: a position pass of depth 4 .. 6 and its normals, 0 .. 1.
struct Bumps {
  ImagePtr normals, position;
  explicit Bumps(int w, int h, std::vector<std::string> further = {}) {
    auto z = [](float x, float y) { return 5 + std::sin(x * 0.4f) * std::cos(y * 0.3f); };
    position = MakeImage(w, h, [&](int x, int y) { return RGBA{float(x), float(y), z(x, y), 1}; });
    normals = MakeImage(
        w, h,
        [&](int x, int y) {
          const float dx = z(x + 1, y) - z(x - 1, y), dy = z(x, y + 1) - z(x, y - 1);
          const float len = std::sqrt(dx * dx + dy * dy + 4);
          return RGBA{0.5f - dx / len / 2, 0.5f - dy / len / 2, 0.5f + 1 / len, 1};
        },
        further, [](int x, int y, int) { return float(100 * y + x); });
  }
};

// Every channel of every pixel, bit for bit.
inline bool SameBytes(const Image* a, const Image* b) {
  if (a->Width() != b->Width() || a->Height() != b->Height() ||
      a->ChannelCount() != b->ChannelCount())
    return false;
  FltPixel pa, pb;
  for (int y = 0; y < a->Height(); ++y)
    for (int x = 0; x < a->Width(); ++x) {
      a->GetPixel(x, y, pa);
      b->GetPixel(x, y, pb);
      if (std::memcmp(pa.Chan, pb.Chan, a->ChannelCount() * sizeof(float)) != 0) return false;
    }
  return true;
}

// Equal values, a NaN equal to a NaN.
inline bool SameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }
inline bool SameValues(const RGBA& a, const RGBA& b) {
  return SameValue(a.r, b.r) && SameValue(a.g, b.g) && SameValue(a.b, b.b) && SameValue(a.a, b.a);
}

// A tool object built from its record, with its registration in a class list
// of its own, rendered the way vexlan renders it.
class ToolHarness {
 public:
  explicit ToolHarness(const ToolRecord& rec)
      : registry_(&list_, TextID(rec.registryId), RegistrationTags(rec, nullptr, nullptr)),
        tool_(registry_.Create()) {}

  Operator& Tool() { return *tool_; }

  Input& In(const char* id) {
    Input* in = tool_->FindInput(id);
    if (!in) throw std::invalid_argument(std::string("no input ") + id);
    return *in;
  }
  ToolHarness& Set(const char* id, double value) {
    In(id).SetNumber(value);
    return *this;
  }
  ToolHarness& Choose(const char* id, const char* option) {
    In(id).SetChoice(TextID(option));
    return *this;
  }
  ToolHarness& Connect(const char* id, Image* img) {
    In(id).Connect(img);
    return *this;
  }
  double Value(const char* id) { return In(id).NumberValue(); }

  // The image the tool set on its output, or null when it set none.
  ImagePtr Render(double time = 0.0) { return RenderTool(*tool_, time); }

 private:
  RegistryList list_;
  Registry registry_;
  ToolPtr tool_;
};

// Renders the tool on one worker thread, then on `many`, and tells whether
// both gave the same bytes: one input gives one output, whatever the number
// of threads.
inline bool SameBytesOnOneOrManyThreads(ToolHarness& tool, int many = 8) {
  SetWorkerThreadLimit(1);
  ImagePtr one = tool.Render();
  SetWorkerThreadLimit(many);
  ImagePtr several = tool.Render();
  SetWorkerThreadLimit(0);
  return SameBytes(one.get(), several.get());
}
