// Spot relighter: the light a spotlight throws on a scene given as a position
// pass. The light sits at a point and aims at a target; its beam falls off
// with the angle from its axis as a power of the cosine ("Light Cone Size" is
// the exponent: larger is narrower). An optional normal pass adds a diffuse
// term, lit as by a distant light along the beam's axis. The result is a grey
// light value in red, green, blue and alpha alike.
#include <cmath>

#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

template <typename F>
struct Vec3 {
  F x, y, z;
};

template <typename F>
inline F Dot(const Vec3<F>& a, const Vec3<float>& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The vector divided by its length; a zero vector stays zero.
template <typename F>
inline Vec3<F> Normalized(const Vec3<F>& v) {
  const F length = Sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {IfNonZero(length, v.x / length, v.x), IfNonZero(length, v.y / length, v.y),
          IfNonZero(length, v.z / length, v.z)};
}

// c raised to the cone exponent, in double. Whole exponents, the only ones
// the input offers, are worked by repeated squaring, far faster than the
// general power and the same once the light is narrowed to float; any other
// exponent takes std::pow.
class ConePower {
 public:
  explicit ConePower(double exponent)
      : exponent_(exponent),
        whole_(exponent >= 0.0 && exponent <= MaxWhole && exponent == std::floor(exponent)),
        bits_(whole_ ? static_cast<unsigned>(exponent) : 0u) {}

  template <typename D>
  inline D operator()(D c) const {
    if (!whole_) return EachLane(c, [this](double lane) { return std::pow(lane, exponent_); });
    D result = Splat<D>(1.0), square = c;
    for (unsigned bits = bits_;;) {
      if (bits & 1u) result = result * square;
      if ((bits >>= 1) == 0) return result;
      square = square * square;
    }
  }

 private:
  static constexpr double MaxWhole = 1024.0;
  double exponent_;
  bool whole_;
  unsigned bits_;
};

struct Spotlight {
  Vec3<float> position;  // the light, in float as the surface arithmetic is
  Vec3<float> axis;      // unit vector from the target back to the light; zero when they meet
  ConePower power;
  double intensity;
};

// The beam's value at one surface point: cos^e of the angle between the
// direction to the light and the axis, times the intensity. Points at right
// angles to the axis or behind the light get 0.
template <typename F, typename D = WideOf<F>>
inline D SpotValue(const Spotlight& light, const Rgba4<F>& px) {
  const Vec3<F> toLight = Normalized(
      Vec3<F>{light.position.x - px.r, light.position.y - px.g, light.position.z - px.b});
  const F c = Greater(Dot(toLight, light.axis), Splat<F>(0.0));  // 0 for not a number too
  return light.power(Widen(c)) * light.intensity;
}

// The spot value with the diffuse term of a normal, used as stored (no
// remapping from 0 … 1) and lit along the beam's axis. A normal facing away
// from the light gives 0 whatever the spot value.
template <typename F, typename D = WideOf<F>>
inline D LitByNormal(const Spotlight& light, D spot, const Rgba4<F>& normal) {
  const F l = Dot(Normalized(Vec3<F>{normal.r, normal.g, normal.b}), light.axis);
  return IfPositive(l, spot * Widen(l));
}

}  // namespace

class SimpleSpotlight : public ThreadedOperator {
 public:
  SimpleSpotlight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("Spot Relight", "Simple Spotlight (Relighter)"));
    red_ = Add(*this, Color("Red", "Red")
                          .Default(0.0)
                          .GroupCaption("Light Position")
                          .ColorGroup(2)
                          .ColorChannel(0));
    green_ = Add(*this, Color("Green", "Green").Default(0.0).ColorGroup(2).ColorChannel(1));
    blue_ = Add(*this, Color("Blue", "Blue").Default(0.0).ColorGroup(2).ColorChannel(2));
    red2_ = Add(*this, Color("Red2", "Red2")
                           .Default(0.0)
                           .GroupCaption("Light Target")
                           .ColorGroup(3)
                           .ColorChannel(0));
    green2_ = Add(*this, Color("Green2", "Green2").Default(0.0).ColorGroup(3).ColorChannel(1));
    blue2_ = Add(*this, Color("Blue2", "Blue2").Default(0.0).ColorGroup(3).ColorChannel(2));
    coneSize_ = Add(*this, Slider("LightConeSize", "Light Cone Size")
                               .Default(8.0)
                               .IntegerValued()
                               .LowerLimit(1.0)
                               .UpperLimit(100.0));
    intensity_ = Add(*this, Slider("LightIntensity", "Light Intensity").Default(1.0));
    position_ = Add(*this, ImageInput("Position", "Position").MainInput(1).Required());
    normals_ = Add(*this, ImageInput("Normals", "Normals").MainInput(2).Optional());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double lx = NumberValue(red_, req), ly = NumberValue(green_, req),
                 lz = NumberValue(blue_, req);
    const double tx = NumberValue(red2_, req), ty = NumberValue(green2_, req),
                 tz = NumberValue(blue2_, req);
    // The differences are taken in double before they are narrowed, so a
    // light and target far from the origin keep their separation.
    const Vec3<float> axis = Normalized(Vec3<float>{
        static_cast<float>(lx - tx), static_cast<float>(ly - ty), static_cast<float>(lz - tz)});
    const double intensity = NumberValue(intensity_, req);
    const double exponent = NumberValue(coneSize_, req);
    const Image* position = ImageValue(position_, req);
    const Image* normals = ImageValue(normals_, req);
    if (!position) return;  // nothing to light: no image is set

    const Spotlight light{{static_cast<float>(lx), static_cast<float>(ly), static_cast<float>(lz)},
                          axis,
                          ConePower(exponent),
                          intensity};
    Image* result = NewImage({{ImageLike, position}});
    // Every pixel of the result is written below, every channel included, so
    // only a result that stays empty needs clearing.
    if (normals && !SameSize(normals, position)) {
      result->Fill(0, 0, 0, 0);
    } else if (!normals) {
      MapGrey(position, result, [light](const auto& px) { return SpotValue(light, px); });
    } else {
      MapGreyPairs(position, normals, result, [light](const auto& px, const auto& normal) {
        return LitByNormal(light, SpotValue(light, px), normal);
      });
    }
    output_->Set(req, result);
  }

 private:
  Input* title_;
  Input* red_;
  Input* green_;
  Input* blue_;
  Input* red2_;
  Input* green2_;
  Input* blue2_;
  Input* coneSize_;
  Input* intensity_;
  Input* position_;
  Input* normals_;
  Output* output_;
};

extern constinit const ToolRecord SimpleSpotlightRecord = {
    .registryId = "Quillmoor.SimpleSpotlight",
    .name = "SimpleSpotlight",
    .category = "Vexlan\\RelightTools",
    .shortName = "SimpleSpotlight",
    .description = "Spot Relighter",
    .buildText = "Built: Jan  7 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<SimpleSpotlight>,
};
