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

// The same remap for a row of the common layout, eight pixels at a time in
// 512-bit registers, on processors that have them. The divisions by the
// scene scale are what a render spends its time on: sorted into eight blues,
// eight greens and eight reds, they take three wide divisions for eight
// pixels, which keeps the tool near the speed of a plain copy. Every
// operation is the same IEEE operation on the same values as in RemapPixel,
// so the result is the same to the bit.
//
// The compiler's own 512-bit conversions and half moves start from a
// deliberately undefined register, which it then warns about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define WIDE __attribute__((target("avx512f"), always_inline)) inline

WIDE __m512d WideDepths(__m256 channel, __m512d scale) {
  return _mm512_abs_pd(_mm512_div_pd(_mm512_cvtps_pd(channel), scale));
}
WIDE __m256 LowHalf(__m512 v) { return _mm512_castps512_ps256(v); }
WIDE __m256 HighHalf(__m512 v) {
  return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}
WIDE __m512 Join(__m256 low, __m256 high) {
  return _mm512_castpd_ps(
      _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low)), _mm256_castps_pd(high), 1));
}

struct WideZone {
  __m512d scale, focus, near, far;
  __mmask8 farBounded;  // every lane, or none when the far limit is unbounded
};

// One channel of eight pixels whose sides have been decided from their
// blues: `behind` the plane of focus or not, and `outside` the zone or not.
WIDE __m256 WideDistance(const WideZone& zone, __m512d depth, __mmask8 behind, __mmask8 outside) {
  const __m512d back =
      _mm512_sub_pd(_mm512_sub_pd(_mm512_add_pd(depth, zone.focus), zone.far), zone.focus);
  const __m512d front =
      _mm512_sub_pd(_mm512_add_pd(_mm512_sub_pd(zone.focus, depth), zone.near), zone.focus);
  return _mm512_cvtpd_ps(_mm512_maskz_mov_pd(outside, _mm512_mask_blend_pd(behind, front, back)));
}

__attribute__((target("avx512f"))) void RemapRowWide(const SharpZone& sharp, const float* in,
                                                     float* out, int32_t width) {
  const WideZone zone = {_mm512_set1_pd(sharp.scale), _mm512_set1_pd(sharp.focus),
                         _mm512_set1_pd(sharp.near), _mm512_set1_pd(sharp.far),
                         __mmask8(sharp.far < 0.0 ? 0x00 : 0xFF)};
  // Eight pixels are 32 floats in two registers. These pick the eight blues
  // and greens, and the eight reds and alphas, into one register each, and
  // put them back in pixel order.
  const __m512i pickBG =
      _mm512_setr_epi32(0, 4, 8, 12, 16, 20, 24, 28, 1, 5, 9, 13, 17, 21, 25, 29);
  const __m512i pickRA =
      _mm512_setr_epi32(2, 6, 10, 14, 18, 22, 26, 30, 3, 7, 11, 15, 19, 23, 27, 31);
  const __m512i firstFour =
      _mm512_setr_epi32(0, 8, 16, 24, 1, 9, 17, 25, 2, 10, 18, 26, 3, 11, 19, 27);
  const __m512i lastFour =
      _mm512_setr_epi32(4, 12, 20, 28, 5, 13, 21, 29, 6, 14, 22, 30, 7, 15, 23, 31);
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m512 first = _mm512_loadu_ps(in + 4 * x), last = _mm512_loadu_ps(in + 4 * x + 16);
    const __m512 bg = _mm512_permutex2var_ps(first, pickBG, last);
    const __m512 ra = _mm512_permutex2var_ps(first, pickRA, last);
    const __m512d zb = WideDepths(LowHalf(bg), zone.scale);
    const __mmask8 behind = _mm512_cmp_pd_mask(zb, zone.focus, _CMP_GT_OQ);
    const __mmask8 pastFar = _mm512_cmp_pd_mask(zb, zone.far, _CMP_GT_OQ) & zone.farBounded;
    const __mmask8 beforeNear = _mm512_cmp_pd_mask(zb, zone.near, _CMP_NGT_UQ);
    const __mmask8 outside = (behind & pastFar) | (~behind & beforeNear);
    const __m512 newBG =
        Join(WideDistance(zone, zb, behind, outside),
             WideDistance(zone, WideDepths(HighHalf(bg), zone.scale), behind, outside));
    const __m512 newRA = Join(
        WideDistance(zone, WideDepths(LowHalf(ra), zone.scale), behind, outside), HighHalf(ra));
    _mm512_storeu_ps(out + 4 * x, _mm512_permutex2var_ps(newBG, firstFour, newRA));
    _mm512_storeu_ps(out + 4 * x + 16, _mm512_permutex2var_ps(newBG, lastFour, newRA));
  }
  for (; x < width; ++x) {
    FltPixel px;
    std::memcpy(px.Chan, in + 4 * x, 4 * sizeof(float));
    RemapPixel(sharp, px);
    std::memcpy(out + 4 * x, px.Chan, 4 * sizeof(float));
  }
}
#undef WIDE
#pragma GCC diagnostic pop

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
