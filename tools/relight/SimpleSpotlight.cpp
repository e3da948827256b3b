// Spot relighter: the light a spotlight throws on a scene given as a position
// pass. The light sits at a point and aims at a target; its beam falls off
// with the angle from its axis as a power of the cosine ("Light Cone Size" is
// the exponent: larger is narrower). An optional normal pass adds a diffuse
// term, lit as by a distant light along the beam's axis. The result is a grey
// light value in red, green, blue and alpha alike.
// The rule is relight::SpotGrey (tools/relight/rules.h).
#include "frame/tool.h"
#include "tools/relight/channels.h"

using relight::Vec3;

class SimpleSpotlight : public ThreadedOperator {
 public:
  SimpleSpotlight(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("Spot Relight", "Simple Spotlight (Relighter)"));
    light_.Add(*this, "Light Position", 2, "Red", "Green", "Blue");
    target_.Add(*this, "Light Target", 3, "Red2", "Green2", "Blue2");
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
    double lx, ly, lz, tx, ty, tz;
    light_.Read(req, lx, ly, lz);
    target_.Read(req, tx, ty, tz);
    // The differences are taken in double before they are narrowed, so a
    // light and target far from the origin keep their separation.
    const Vec3<float> axis = relight::Normalized(Vec3<float>{
        static_cast<float>(lx - tx), static_cast<float>(ly - ty), static_cast<float>(lz - tz)});
    const double intensity = NumberValue(intensity_, req);
    const double exponent = NumberValue(coneSize_, req);
    const Image* position = ImageValue(position_, req);
    const Image* normals = ImageValue(normals_, req);

    const relight::Spotlight light{
        {static_cast<float>(lx), static_cast<float>(ly), static_cast<float>(lz)},
        axis,
        relight::ConePower(exponent),
        intensity};
    Image* result = NewImage({{ImageLike, position}});
    relight::RenderGrey(
        position, normals, result, [&](auto... row) { relight::SpotRow(light, row...); },
        [&](bool paired, const auto& px, const auto& normal) {
          return relight::SpotGrey(light, paired, px, normal);
        });
    output_->Set(req, result);
  }

 private:
  Input* title_;
  relight::ColorPoint light_;
  relight::ColorPoint target_;
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
