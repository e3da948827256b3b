// Falloff mask: a facing-ratio mask from a normal pass. It is 0 where a
// surface faces along the depth axis (towards the camera or straight away
// from it) and rises towards 1 where the surface is seen edge-on. "Intensity"
// scales the mask before it is clamped, and an optional map can scale
// "Intensity" per pixel by one of its channels. The mask is multiplied by
// the pass's alpha and written into red, green, blue and alpha alike.
#include <cmath>

#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

// The mask for one normal, used as stored (no remapping from 0 … 1). A zero
// normal has no direction: its facing ratio is not a number, which the clamp
// turns into the full mask, so such a pixel gets its own alpha.
inline double FalloffMask(float r, float g, float b, float alpha, double intensity) {
  const float length = std::sqrt(g * g + r * r + b * b);
  const double nx = double(r) / length, ny = double(g) / length, nz = double(b) / length;
  // The cosine against the view axis (0, 0, -1), written out in full so that
  // an infinite component leaves no direction, just as a zero normal does.
  const double facing = std::fabs(nx * 0.0 + ny * 0.0 + nz * -1.0);
  return ClampMask((1.0 - facing) * intensity) * alpha;
}

}  // namespace

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
    const MapChannel channel = MapChannelOf(ChoiceValue(mapChannel_, req));
    const Image* normals = ImageValue(normals_, req);
    const Image* map = ImageValue(map_, req);
    if (!normals) return;  // nothing to mask: no image is set

    Image* result = NewImage({{ImageLike, normals}});
    // Every pixel of the result is written below, every channel included, so
    // only a result that stays empty needs clearing.
    if (map && !SameSize(map, normals)) {
      result->Fill(0, 0, 0, 0);
    } else if (!map) {
      MapPixels(normals, result, [intensity](auto& px) {
        SetGrey(px, FalloffMask(px.R(), px.G(), px.B(), px.A(), intensity));
      });
    } else {
      MapPixelPairs(normals, map, result, [&](FltPixel& px, const FltPixel& mapPx) {
        const double scaled = intensity * MapValue(channel, mapPx);
        SetGrey(px, FalloffMask(px.R(), px.G(), px.B(), px.A(), scaled));
      });
    }
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
