// Intuitive relighter: turns a position or normal pass into a grey light
// mask around a light vector. Each pixel's red, green and blue are taken as a
// point; its distance to the light vector runs through a linear ramp between
// "Light Size" (full light) and "Light Intensity" (no light), and the mask is
// multiplied by the pass's alpha. With a position pass the light is a point;
// with unit normals and a unit light vector the distance grows with the
// angle between them, so the same ramp gives a directional light. An optional
// map scales one of the two radii per pixel by one of its channels.
// The rule is relight::LightMask (tools/relight/rules.h).
#include "frame/tool.h"
#include "tools/relight/channels.h"

class Relight : public ThreadedOperator {
 public:
  Relight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("Relight", "Intuitive Relighter"));
    light_.Add(*this, "Light Position/Direction", 2, "Red", "Green", "Blue");
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
    relight::Light light{0,
                         0,
                         0,
                         NumberValue(intensity_, req),
                         NumberValue(size_, req),
                         relight::MapChannelOf(ChoiceValue(mapChannel_, req)),
                         ChoiceValue(mapFunction_, req) == "Size"};
    light_.Read(req, light.x, light.y, light.z);
    const Image* pass = ImageValue(pass_, req);
    const Image* map = ImageValue(map_, req);
    if (!pass) return;  // nothing to light: no image is set

    Image* result = NewImage({{ImageLike, pass}});
    relight::RenderGrey(
        pass, map, result, [&](auto... row) { relight::LightRow(light, row...); },
        [&](bool paired, const auto& px, const auto& m) {
          return relight::LightGrey(light, paired, px, m);
        });
    output_->Set(req, result);
  }

 private:
  Input* title_;
  relight::ColorPoint light_;
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
