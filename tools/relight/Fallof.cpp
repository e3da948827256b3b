// Falloff mask: a facing-ratio mask from a normal pass. It is 0 where a
// surface faces along the depth axis (towards the camera or straight away
// from it) and rises towards 1 where the surface is seen edge-on. "Intensity"
// scales the mask before it is clamped, and an optional map can scale
// "Intensity" per pixel by one of its channels. The mask is multiplied by
// the pass's alpha and written into red, green, blue and alpha alike.
// The rule is relight::FalloffMask (tools/relight/rules.h).
#include "frame/tool.h"
#include "tools/relight/channels.h"

using relight::MapChannel;

class Fallof : public ThreadedOperator {
 public:
  Fallof(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("Falloff", "Falloff"));
    intensity_ = Add(*this, Slider("Intensity", "Intensity").Default(1.0));
    mapChannel_ = Add(*this, Choice("Map Channel", "Multiply By Channel",
                                    {"Red", "Green", "Blue", "Luminance", "Alpha"}, "Luminance"));
    normals_ = Add(*this, ImageInput("Normals", "Normals").MainInput(1).Required());
    map_ = Add(*this, ImageInput("Intensity Map", "Intensity Map").MainInput(2).Optional());
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double intensity = NumberValue(intensity_, req);
    const relight::Falloff falloff{intensity, relight::MapChannelOf(ChoiceValue(mapChannel_, req))};
    const Image* normals = ImageValue(normals_, req);
    const Image* map = ImageValue(map_, req);

    Image* result = NewImage({{ImageLike, normals}});
    relight::RenderGrey(
        normals, map, result, [&](auto... row) { relight::FalloffRow(falloff, row...); },
        [&](bool paired, const auto& n, const auto& m) {
          return relight::FalloffGrey(falloff, paired, n, m);
        });
    output_->Set(req, result);
  }

 private:
  Input* title_;
  Input* intensity_;
  Input* mapChannel_;
  Input* normals_;
  Input* map_;
  Output* output_;
};

extern constinit const ToolRecord FallofRecord = {
    .registryId = "Quillmoor.Falloff",
    .name = "Falloff",
    .category = "Vexlan\\RelightTools",
    .shortName = "Falloff",
    .description = "Falloff Mask",
    .buildText = "Built: Oct  4 2012",
    .regInt4 = 354,
    .regInt3 = 0,
    .regInt19 = 0,
    .factory = Factory<Fallof>,
};
