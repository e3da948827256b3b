// Falloff mask: a facing-ratio mask from a normal pass. It is 0 where a
// surface faces along the depth axis (towards the camera or straight away
// from it) and rises towards 1 where the surface is seen edge-on. "Intensity"
// scales the mask before it is clamped, and an optional map can scale
// "Intensity" per pixel by one of its channels. The mask is multiplied by
// the pass's alpha and written into red, green, blue and alpha alike.
#include "frame/tool.h"
#include "tools/relight/channels.h"

namespace {

// The mask for one normal, used as stored (no remapping from 0 … 1): the
// cosine against the view axis (0, 0, -1) with the normal made unit length,
// taken as 0 … 1 and turned round, so that faces towards or away from the
// camera give 0 and faces seen edge-on give 1.
//
// A normal has a direction only where its x and y are finite and its length
// is above 0 (its squares may underflow to a length of 0, or overflow to an
// infinite one, where every quotient is then 0). Elsewhere, x or y divided by
// the length is not a finite number and no facing ratio exists: the clamp
// turns that into the full mask, so such a pixel gets its own alpha. The
// test for it needs no division: x·0 + y·0 is ±0 exactly when x and y are
// finite, so adding the length gives a value above 0 exactly then.
// `intensity` is one double for the whole image or, with a map, a wide value
// per pixel.
template <typename F, typename Intensity, typename D = WideOf<F>>
inline D FalloffMask(const Rgba4<F>& n, Intensity intensity) {
  const F length = Sqrt(n.g * n.g + n.r * n.r + n.b * n.b);
  const F direction = (n.r * 0.0f + n.g * 0.0f) + length;
  const D facing = IfPositiveElseNaN(direction, Abs(Widen(n.b) / Widen(length)));
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
