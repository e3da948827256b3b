// The hostile values and images of the fuzz drivers, and the settings a
// stream of bytes chooses. Host code only, apart from the tools: the Python
// package replays the corpus through it too.
#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cstring>
#include <limits>

#include "testing/hostile.h"

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr float InfF = std::numeric_limits<float>::infinity();
constexpr float NaNF = std::numeric_limits<float>::quiet_NaN();

constexpr double Numbers[] = {
    NaN,
    -NaN,
    Inf,
    -Inf,
    1e300,
    -1e300,
    DBL_MAX,
    -DBL_MAX,
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    -0.5,
    5e-324,
    1e-300,
    2147483647.0,
    2147483648.0,
    -2147483648.0,
    -2147483649.0,
    4294967296.0,
    1e9,
    1e18,
    32768.0,
    65536.0,
    100.0,
    1000.0,
    3.0,
    9.2233720368547758e18,
};

constexpr float Pixels[] = {
    0.0f,    -0.0f,    1.0f,   -1.0f, 0.5f,   2.0f,   NaNF,  -NaNF, InfF, -InfF,
    FLT_MAX, -FLT_MAX, 1e-45f, 1e30f, -1e30f, 100.0f, 0.25f, 1e-7f, 3e9f, -3e9f,
};

constexpr int32_t Sides[] = {0, 1, 1, 2, 2, 3, 4, 5, 6, 7, 8, 11, 16, 23, 32, 64};
constexpr int32_t MaxPixels = 256;

// A value for one channel of one pixel: mode 0 fills the image with one
// hostile value, mode 1 with a smooth ramp that looks like a render pass
// (with one hostile pixel), mode 2 picks a hostile value per channel, mode 3
// takes raw floats.
struct PixelSource {
  int mode;
  float constant;
  int32_t pokeIndex;
  float poke;

  float Next(ByteStream& in, int32_t index, int x, int y, int channel) const {
    switch (mode) {
      case 0:
        return constant;
      case 1:
        if (index == pokeIndex) return poke;
        if (channel == ChanA) return 1.0f;
        return static_cast<float>((x * 7 + y * 13 + channel * 5) % 16) / 15.0f;
      case 2:
        return Pixels[in.Byte() % std::size(Pixels)];
      default:
        return in.Raw<float>();
    }
  }
};

ImagePtr HostileImage(ByteStream& in) {
  int32_t width = Sides[in.Byte() % std::size(Sides)];
  int32_t height = Sides[in.Byte() % std::size(Sides)];
  if (width * height > MaxPixels) height = std::max(1, MaxPixels / width);
  std::vector<std::string> further;
  switch (in.Byte() % 4) {
    case 1:
      further = {"Z"};
      break;
    case 2:
      further = {"P.x", "P.y", "P.z"};
      break;
    default:
      break;
  }
  PixelSource source{in.Byte() % 4, Pixels[in.Byte() % std::size(Pixels)],
                     static_cast<int32_t>(in.Byte()), Pixels[in.Byte() % std::size(Pixels)]};

  ImagePtr img(NewImage(width, height, further));
  FltPixel px{};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const int32_t index = y * width + x;
      for (int c = 0; c < img->ChannelCount(); ++c) px.Chan[c] = source.Next(in, index, x, y, c);
      img->SetPixel(x, y, px);
    }
  return img;
}

double HostileNumber(ByteStream& in, const Input& input) {
  const uint8_t pick = in.Byte();
  const size_t count = std::size(Numbers);
  if (pick == 0) return input.NumberValue();  // the default
  if (pick <= count) return Numbers[pick - 1];
  const TagList& attrs = input.Attributes();
  const double low = attrs.GetDouble(RangeMin).value_or(0.0);
  const double high = attrs.GetDouble(RangeMax).value_or(attrs.GetDouble(LimitMax).value_or(1.0));
  switch ((pick - count) % 8) {
    case 0:
      return low;
    case 1:
      return high;
    case 2:
      return high * 1000.0;  // far past the slider
    case 3:
      return low - 1.0;
    case 4:
      return -high;
    case 5:
      return static_cast<double>(static_cast<int>(in.Byte()) - 128);
    case 6:
      return input.NumberValue() * (static_cast<double>(in.Byte()) / 16.0 - 8.0);
    default:
      return in.Raw<double>();
  }
}

// The option texts, the default left alone, an empty text, and a text that
// is an option in another letter case.
TextID HostileChoice(ByteStream& in, const Input& input) {
  const std::vector<const char*> options = input.Options();
  const size_t pick = in.Byte() % (options.size() + 3);
  if (pick < options.size()) return TextID(options[pick]);
  if (pick == options.size()) return input.ChoiceValue();
  if (pick == options.size() + 1 || options.empty()) return TextID("");
  std::string shouted = options.front();
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (shouted == options.front())
    for (char& c : shouted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return TextID(shouted);
}

}  // namespace

std::span<const double> HostileNumbers() { return Numbers; }
std::span<const float> HostilePixels() { return Pixels; }

std::vector<ImagePtr> SetUpFromBytes(Operator& tool, ByteStream& in) {
  // Settings in creation order; an image may be connected to two inputs.
  std::vector<ImagePtr> images;
  for (const auto& input : tool.Inputs()) {
    switch (input->Kind()) {
      case InputKind::Number:
        if (!input->IsComputedField()) input->SetNumber(HostileNumber(in, *input));
        break;
      case InputKind::Choice:
        input->SetChoice(HostileChoice(in, *input));
        break;
      case InputKind::Image: {
        const uint8_t how = in.Byte() % 8;
        if (how == 0 && !input->IsRequired()) break;  // left unconnected
        if (how == 1 && !images.empty()) {
          input->Connect(images[in.Byte() % images.size()].get());
          break;
        }
        images.push_back(HostileImage(in));
        input->Connect(images.back().get());
        break;
      }
      case InputKind::Label:
        break;
    }
  }
  return images;
}
