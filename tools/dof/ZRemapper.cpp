// Z depth remapper: turns a Z-depth pass into a map of how far each pixel
// lies out of focus, in metres: 0 inside the zone of sharpness, growing
// linearly in front of the near limit and behind the far limit. Depths and
// the plane of focus are in scene units and are divided by the scene scale
// first; the six fields show the camera values of that scaled plane of focus.
// The map can exceed 1: the Z depth divider scales it down.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/tool.h"
#include "tools/dof/camera.h"

namespace {

// The zone of sharpness in scaled units, as the pixel remap reads it.
struct SharpZone {
  double scale;  // scene units per metre: every depth is divided by it
  double focus;  // the plane of focus
  double near;
  double far;  // negative when the far limit is unbounded
};

// One pixel: blue, green, red and alpha go as two pairs of doubles, (blue,
// green) and (red, alpha), so that each pair takes one packed division.
// Alpha is worked out too and then dropped for the one read.
typedef double Double2 __attribute__((vector_size(16)));
typedef int64_t Int2 __attribute__((vector_size(16)));

// |v / k| of both lanes: divided in double precision, sign cleared.
inline Double2 ScaledDepths(Double2 v, double scale) {
  const Double2 quotient = v / scale;
  return reinterpret_cast<Double2>(reinterpret_cast<Int2>(quotient) & INT64_MAX);
}

inline Double2 Behind(Double2 depth, const SharpZone& zone) {
  return ((depth + zone.focus) - zone.far) - zone.focus;
}
inline Double2 InFront(Double2 depth, const SharpZone& zone) {
  return ((zone.focus - depth) + zone.near) - zone.focus;
}

// Remaps red, green and blue of one pixel; blue alone decides which side of
// the zone the pixel lies on, and each channel is then measured from its own
// value. The sums run in this order, in double precision: the results are
// the last bits a user compares against. Works on either pixel record.
template <typename Pixel>
inline void RemapPixel(const SharpZone& zone, Pixel& px) {
  const Double2 bg = ScaledDepths(Double2{px.Chan[ChanB], px.Chan[ChanG]}, zone.scale);
  const Double2 ra = ScaledDepths(Double2{px.Chan[ChanR], px.Chan[ChanA]}, zone.scale);
  const double zb = bg[0];
  // Behind the plane of focus an unbounded far limit keeps everything sharp;
  // in front of it (at it, or for a depth that is not a number) the near
  // limit decides.
  Double2 distanceBG = {}, distanceRA = {};
  if (zb > zone.focus) {
    if (!(zone.far < 0.0) && zb > zone.far)
      distanceBG = Behind(bg, zone), distanceRA = Behind(ra, zone);
  } else if (!(zb > zone.near)) {
    distanceBG = InFront(bg, zone), distanceRA = InFront(ra, zone);
  }
  px.B() = static_cast<float>(distanceBG[0]);
  px.G() = static_cast<float>(distanceBG[1]);
  px.R() = static_cast<float>(distanceRA[0]);
}

// The same remap for a row of the common layout, two pixels at a time in
// 512-bit registers. The divisions by the scene scale are what a render
// spends its time on, and eight at once keep the tool near the speed of a
// plain copy. Every operation is the same IEEE operation on the same values
// as in RemapPixel, so the result is the same to the bit.
__attribute__((target("avx512f"))) void RemapRowWide(const SharpZone& zone, const float* in,
                                                     float* out, int32_t width) {
  const __m512d scale = _mm512_set1_pd(zone.scale);
  const __m512d focus = _mm512_set1_pd(zone.focus);
  const __m512d near = _mm512_set1_pd(zone.near);
  const __m512d far = _mm512_set1_pd(zone.far);
  const bool farBounded = !(zone.far < 0.0);
  // Lanes 0 to 3 are the first pixel's blue, green, red, alpha; 4 to 7 the
  // second's. Each lane looks at its own pixel's blue.
  const __m512i blueOfPixel = _mm512_set_epi64(4, 4, 4, 4, 0, 0, 0, 0);
  // The masked forms with every lane set, because the unmasked ones start
  // from an undefined register that the compiler warns about.
  constexpr __mmask8 AllLanes = 0xFF;
  int32_t x = 0;
  for (; x + 2 <= width; x += 2) {
    const __m256 bgra = _mm256_loadu_ps(in + 4 * x);
    const __m512d depth =
        _mm512_abs_pd(_mm512_div_pd(_mm512_maskz_cvtps_pd(AllLanes, bgra), scale));
    const __m512d zb = _mm512_maskz_permutexvar_pd(AllLanes, blueOfPixel, depth);
    const __mmask8 behind = _mm512_cmp_pd_mask(zb, focus, _CMP_GT_OQ);
    const __mmask8 pastFar = farBounded ? _mm512_cmp_pd_mask(zb, far, _CMP_GT_OQ) : 0;
    const __mmask8 beforeNear = _mm512_cmp_pd_mask(zb, near, _CMP_NGT_UQ);
    const __mmask8 outside = (behind & pastFar) | (~behind & beforeNear);
    const __m512d back = _mm512_sub_pd(_mm512_sub_pd(_mm512_add_pd(depth, focus), far), focus);
    const __m512d front = _mm512_sub_pd(_mm512_add_pd(_mm512_sub_pd(focus, depth), near), focus);
    const __m512d distance =
        _mm512_maskz_mov_pd(outside, _mm512_mask_blend_pd(behind, front, back));
    const __m256 result = _mm256_blend_ps(_mm512_maskz_cvtpd_ps(AllLanes, distance), bgra, 0x88);
    _mm256_storeu_ps(out + 4 * x, result);
  }
  if (x < width) {
    FltPixel px;
    std::memcpy(px.Chan, in + 4 * x, 4 * sizeof(float));
    RemapPixel(zone, px);
    std::memcpy(out + 4 * x, px.Chan, 4 * sizeof(float));
  }
}

bool HasWideDivision() {
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
}

void RemapImage(const SharpZone& zone, const Image* src, Image* dst) {
  if (HasWideDivision() && src->FurtherCount() == 0 && dst->FurtherCount() == 0) {
    for (int32_t y = 0; y < src->Height(); ++y)
      RemapRowWide(zone, src->Group1(0, y), dst->Group1(0, y), src->Width());
    return;
  }
  MapPixels(src, dst, [&zone](auto& px) { RemapPixel(zone, px); });
}

}  // namespace

class ZRemapper : public ThreadedOperator {
 public:
  ZRemapper(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Input Cam And Scene Info"));
    sceneScale_ = Add(*this, Slider("SceneScale", "Scene Scale").Default(1.0));
    focalLength_ =
        Add(*this, Slider("FocalLength", "Focal Length (mm)").LowerLimit(0.0).Default(50.0));
    planeOfFocus_ = Add(*this, Color("PlaneOfFocus", "Plane Of Focus (m)")
                                   .Default(9.107735)
                                   .ColorGroup(1)
                                   .ColorChannel(0));
    apertureWidth_ =
        Add(*this, Slider("ApertureWidth", "Aperture Width (inch)").LowerLimit(0.0).Default(0.98));
    apertureHeight_ = Add(
        *this, Slider("ApertureHeight", "Aperture Height (inch)").LowerLimit(0.0).Default(0.735));
    fstop_ = Add(*this, Slider("Fstop", "Fstop").LowerLimit(0.0).Default(2.8));
    outputLabel_ =
        Add(*this, Label("CDO", "Calculated DoF Output (not multiplied by scene scale)"));
    frameAspect_ = Add(*this, Slider("FrameAspect", "Frame Aspect").Default(1.0).Computed());
    coc_ = Add(*this, Slider("CoC", "Circle of confusion (mm)").Default(1.0).Computed());
    hyperFocal_ = Add(*this, Slider("HyperFocal", "HyperFocal (m)").Default(53.26039).Computed());
    infiniteNote_ =
        Add(*this, Label("DOFInfo", "If DofFar and DofTotal are infinite number output is 0.0"));
    dofNear_ = Add(*this, Slider("DoFN", "DoF Near (m)").Default(7.783956).Computed());
    dofFar_ = Add(*this, Slider("DoFF", "DoF Far (m)").Default(10.97404).Computed());
    dofTotal_ = Add(*this, Slider("DoFT", "DoF Total (m)").Default(3.19008).Computed());
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double scale = NumberValue(sceneScale_, req);
    const double planeOfFocus = std::fabs(NumberValue(planeOfFocus_, req) / scale);
    const double apertureWidth = NumberValue(apertureWidth_, req);
    const double apertureHeight = NumberValue(apertureHeight_, req);
    const double fstop = NumberValue(fstop_, req);
    const double focalLength = NumberValue(focalLength_, req);
    const DepthOfField dof =
        ComputeDepthOfField(focalLength, planeOfFocus, apertureWidth, apertureHeight, fstop);

    // The fields show the scaled values, not multiplied back by the scale.
    ShowValue(frameAspect_, dof.aspect);
    ShowValue(coc_, dof.coc);
    ShowValue(hyperFocal_, dof.hyperfocal);
    ShowValue(dofNear_, dof.near);
    ShowValue(dofFar_, ShownFar(dof));
    ShowValue(dofTotal_, ShownTotal(dof));

    Image* src = ImageValue(input_, req);
    // Without a depth pass there is nothing to remap: the fields are up to
    // date and the output stays empty, rather than reading through null.
    if (!src) return;
    Image* dst = NewImage({{ImageLike, src}});
    // The pixels see the far limit as it is, unbounded or not.
    const SharpZone zone{scale, planeOfFocus, dof.near, dof.far};
    RemapImage(zone, src, dst);
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* sceneScale_;
  Input* focalLength_;
  Input* planeOfFocus_;
  Input* apertureWidth_;
  Input* apertureHeight_;
  Input* fstop_;
  Input* outputLabel_;
  Input* frameAspect_;
  Input* coc_;
  Input* hyperFocal_;
  Input* infiniteNote_;
  Input* dofNear_;
  Input* dofFar_;
  Input* dofTotal_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord ZRemapperRecord = {
    .registryId = "Quillmoor.ZRemapper",
    .name = "ZRemapper",
    .category = "Vexlan\\DofTools",
    .shortName = "ZRemap",
    .description = "Z Depth Remap Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<ZRemapper>,
};
