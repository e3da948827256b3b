// Intuitive relighter: turns a position or normal pass into a grey light
// mask around a light vector. Each pixel's red, green and blue are taken as a
// point; its distance to the light vector runs through a linear ramp between
// "Light Size" (full light) and "Light Intensity" (no light), and the mask is
// multiplied by the pass's alpha. With a position pass the light is a point;
// with unit normals and a unit light vector the distance grows with the
// angle between them, so the same ramp gives a directional light. An optional
// map scales one of the two radii per pixel by one of its channels.
#include <cmath>

#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

struct LightRamp {
  double x, y, z;    // the light vector, compared with red, green, blue
  double intensity;  // the distance where the light has died out
  double size;       // the distance up to which it is full
};

// The mask for one pass pixel. S < I: full within S, falling linearly to 0
// at I. S > I: the ramp turns round. S = I: the slope is infinite, which
// gives 0 up to and including that radius and alpha beyond it.
inline double LightMask(const LightRamp& light, double r, double g, double b, double alpha) {
  const double slope = 1.0 / (light.size - light.intensity);
  const double dr = r - light.x, dg = g - light.y, db = b - light.z;
  const double d = std::sqrt(dr * dr + dg * dg + db * db);
  const double t = 1.0 - (d - light.intensity) * slope;
  return (1.0 - ClampMask(t)) * alpha;
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
    LightRamp light;
    light.x = NumberValue(red_, req);
    light.y = NumberValue(green_, req);
    light.z = NumberValue(blue_, req);
    light.size = NumberValue(size_, req);
    light.intensity = NumberValue(intensity_, req);
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
      MapPixels(pass, result, [&light](auto& px) {
        SetGrey(px, LightMask(light, px.R(), px.G(), px.B(), px.A()));
      });
    } else {
      MapPixelPairs(pass, map, result, [&](FltPixel& px, const FltPixel& mapPx) {
        LightRamp scaled = light;
        const double m = MapValue(channel, mapPx);
        if (mapScalesSize)
          scaled.size *= m;
        else
          scaled.intensity *= m;
        SetGrey(px, LightMask(scaled, px.R(), px.G(), px.B(), px.A()));
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
