// Intuitive relighter: turns a position or normal pass into a grey light
// mask around a light vector. Each pixel's red, green and blue are taken as a
// point; its distance to the light vector runs through a linear ramp between
// "Light Size" (full light) and "Light Intensity" (no light), and the mask is
// multiplied by the pass's alpha. With a position pass the light is a point;
// with unit normals and a unit light vector the distance grows with the
// angle between them, so the same ramp gives a directional light. An optional
// map scales one of the two radii per pixel by one of its channels.
#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

// The light vector, compared with the pass's red, green and blue.
struct LightVector {
  double x, y, z;
};

// The ramp's slope, 1 / (size − intensity): infinite for equal radii.
template <typename D>
inline D RampSlope(D intensity, D size) {
  return 1.0 / (size - intensity);
}

// The mask for one pass pixel, with the ramp between "Light Intensity" (the
// distance where the light has died out) and "Light Size" (the distance up
// to which it is full). Size < intensity: full within the size, falling
// linearly to 0 at the intensity. Size > intensity: the ramp turns round.
// Equal radii: 0 up to and including that radius, alpha beyond it.
// `intensity` and `slope` are doubles for the whole image or, with a map,
// wide values per pixel.
template <typename F, typename Ramp, typename D = WideOf<F>>
inline D LightMask(const LightVector& light, Ramp intensity, Ramp slope, const Rgba4<F>& px) {
  const D dr = Widen(px.r) - light.x, dg = Widen(px.g) - light.y, db = Widen(px.b) - light.z;
  const D d = Sqrt(dr * dr + dg * dg + db * db);
  const D t = 1.0 - (d - intensity) * slope;
  return (1.0 - ClampMask(t)) * Widen(px.a);
}

}  // namespace

class Relight : public ThreadedOperator {
 public:
  Relight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("Relight", "Intuitive Relighter"));
    red_ = Add(*this, Color("Red", "Red")
                          .Default(0.0)
                          .GroupCaption("Light Position/Direction")
                          .ColorGroup(2)
                          .ColorChannel(0));
    green_ = Add(*this, Color("Green", "Green").Default(0.0).ColorGroup(2).ColorChannel(1));
    blue_ = Add(*this, Color("Blue", "Blue").Default(0.0).ColorGroup(2).ColorChannel(2));
    intensity_ = Add(*this, Slider("LightIntensity", "Light Intensity").Default(1.0));
    size_ = Add(*this, Slider("LightSize", "Light Size").Default(0.0));
    mapFunction_ =
        Add(*this, Choice("Map Fuction", "Map Function", {"Intensity", "Size"}, "Intensity"));
    mapChannel_ = Add(*this, Choice("Map Channel", "Multiply By Channel",
                                    {"Red", "Green", "Blue", "Luminance", "Alpha"}, "Luminance"));
    pass_ =
        Add(*this, ImageInput("NormalsOrPosition", "NormalsOrPosition").MainInput(1).Required());
    map_ =
        Add(*this, ImageInput("Intensity/Size Map", "Intensity/Size Map").MainInput(2).Optional());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const LightVector light{NumberValue(red_, req), NumberValue(green_, req),
                            NumberValue(blue_, req)};
    const double size = NumberValue(size_, req), intensity = NumberValue(intensity_, req);
    const MapChannel channel = MapChannelOf(ChoiceValue(mapChannel_, req));
    const bool mapScalesSize = ChoiceValue(mapFunction_, req) == "Size";
    const Image* pass = ImageValue(pass_, req);
    const Image* map = ImageValue(map_, req);
    if (!pass) return;  // nothing to light: no image is set

    Image* result = NewImage({{ImageLike, pass}});
    // Every pixel of the result is written below, every channel included, so
    // only a result that stays empty needs clearing.
    if (map && !SameSize(map, pass)) {
      result->Fill(0, 0, 0, 0);
    } else if (!map) {
      const double slope = RampSlope(intensity, size);
      MapGrey(pass, result, [light, intensity, slope](const auto& px) {
        return LightMask(light, intensity, slope, px);
      });
    } else if (mapScalesSize) {
      MapGreyPairs(pass, map, result, [=](const auto& px, const auto& mapPx) {
        using D = WideOf<std::decay_t<decltype(px.r)>>;
        const D scaledSize = size * MapValue(channel, mapPx);
        return LightMask(light, Splat<D>(intensity), RampSlope(Splat<D>(intensity), scaledSize),
                         px);
      });
    } else {
      MapGreyPairs(pass, map, result, [=](const auto& px, const auto& mapPx) {
        using D = WideOf<std::decay_t<decltype(px.r)>>;
        const D scaledIntensity = intensity * MapValue(channel, mapPx);
        return LightMask(light, scaledIntensity, RampSlope(scaledIntensity, Splat<D>(size)), px);
      });
    }
    output_->Set(req, result);
  }

 private:
  Input* title_;
  Input* red_;
  Input* green_;
  Input* blue_;
  Input* intensity_;
  Input* size_;
  Input* mapFunction_;
  Input* mapChannel_;
  Input* pass_;
  Input* map_;
  Output* output_;
};

extern constinit const ToolRecord RelightRecord = {
    .registryId = "Quillmoor.IntuitiveRelighter",
    .name = "IntuitiveRelighter",
    .category = "Vexlan\\RelightTools",
    .shortName = "IntuitiveRelight",
    .description = "Intuitive Relighter",
    .buildText = "Built: Jan  4 2011",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Relight>,
};
