// Falloff mask: a facing-ratio mask from a normal pass. It is 0 where a
// surface faces along the depth axis (towards the camera or straight away
// from it) and rises towards 1 where the surface is seen edge-on. "Intensity"
// scales the mask before it is clamped, and an optional map can scale
// "Intensity" per pixel by one of its channels. The mask is multiplied by
// the pass's alpha and written into red, green, blue and alpha alike.
#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

// The mask for one normal, used as stored (no remapping from 0 … 1). A zero
// normal has no direction: its facing ratio is not a number, which the clamp
// turns into the full mask, so such a pixel gets its own alpha.
// `intensity` is one double for the whole image or, with a map, a wide value
// per pixel.
template <typename F, typename Intensity, typename D = WideOf<F>>
inline D FalloffMask(const Rgba4<F>& n, Intensity intensity) {
  const F length = Sqrt(n.g * n.g + n.r * n.r + n.b * n.b);
  // The cosine against the view axis (0, 0, -1), with the normalised normal
  // in double: x·0 + y·0 + z·(-1). The x and y terms are kept so that a normal
  // without a direction (x or y divided to infinity or not a number) gives
  // no facing ratio at all. They are ±0 or not a number, and they are worked
  // in float, the same bits at a fraction of the cost of two double
  // divisions: a float quotient is finite exactly when the double one is,
  // since the length is at least the part it divides, or, where the squares
  // underflow, still large enough to keep the quotient far below the float
  // limit.
  const D across = Widen((n.r / length) * 0.0f + (n.g / length) * 0.0f);
  const D nz = Widen(n.b) / Widen(length);
  const D facing = Abs(across + nz * -1.0);
  return ClampMask((1.0 - facing) * intensity) * Widen(n.a);
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
      MapGrey(normals, result, [intensity](const auto& n) { return FalloffMask(n, intensity); });
    } else {
      MapGreyPairs(normals, map, result, [intensity, channel](const auto& n, const auto& mapPx) {
        return FalloffMask(n, intensity * MapValue(channel, mapPx));
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
