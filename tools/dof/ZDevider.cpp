// Z depth divider: divides the red, green and blue of a depth map by one
// number, Zmax, so that depths up to Zmax fall into 0 to 1. Zmax is usually
// picked from the remapper's out-of-focus map. Nothing is clamped.
// GCC 12 warns of the undefined start values inside its own AVX-512
// intrinsics once they are inlined here; they are overwritten entirely.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/tool.h"

namespace {

// Pixels of the common layout in blocks of four (sixteen floats), each
// division the correctly rounded one of the pixel-by-pixel walk, so the
// result has its bits. The kernels are built for AVX-512, AVX2 and plain
// x86-64; the loader picks the widest the processor runs.
// Not under ThreadSanitizer: a clone's resolver runs while the program or
// the module is still being relocated, before the sanitizer's hooks that it
// calls can be reached.
#if defined(__x86_64__) && defined(__ELF__) && !defined(__SANITIZE_THREAD__)
#define DividerKernel __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define DividerKernel
#endif

using Float16 = float __attribute__((vector_size(64)));
using Float8 = float __attribute__((vector_size(32)));
using Double8 = double __attribute__((vector_size(64)));
using Int16 = int32_t __attribute__((vector_size(64)));

// Alpha is carried as it is, not divided.
constexpr Int16 AlphaLanes = {0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1};

// Large results are written past the cache, as a plain copy of that size
// writes them: they do not fit in it, and the cache would first read every
// line of the result only to overwrite it.
template <bool Stream>
__attribute__((always_inline)) inline void PutBlock(float* out, const Float16& block) {
  if constexpr (Stream) {
    _mm_stream_ps(out, __m128(__builtin_shufflevector(block, block, 0, 1, 2, 3)));
    _mm_stream_ps(out + 4, __m128(__builtin_shufflevector(block, block, 4, 5, 6, 7)));
    _mm_stream_ps(out + 8, __m128(__builtin_shufflevector(block, block, 8, 9, 10, 11)));
    _mm_stream_ps(out + 12, __m128(__builtin_shufflevector(block, block, 12, 13, 14, 15)));
  } else {
    std::memcpy(out, &block, sizeof block);
  }
}

// The last pixels of a run, one by one.
inline void DivideRest(const float* in, float* out, size_t pixels, double zmax) {
  for (size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
    out[ChanB] = static_cast<float>(in[ChanB] / zmax);
    out[ChanG] = static_cast<float>(in[ChanG] / zmax);
    out[ChanR] = static_cast<float>(in[ChanR] / zmax);
    out[ChanA] = in[ChanA];
  }
}

// Float quotients of a float Zmax.
template <bool Stream>
__attribute__((always_inline)) inline void DivideByFloat(const float* in, float* out, size_t pixels,
                                                         float zmax) {
  Float16 divisor;  // every lane Zmax, -0 included
  for (int k = 0; k < 16; ++k) divisor[k] = zmax;
  size_t i = 0;
  for (; i + 4 <= pixels; i += 4, in += 16, out += 16) {
    Float16 v;
    std::memcpy(&v, in, sizeof v);
    PutBlock<Stream>(out, AlphaLanes ? v : v / divisor);
  }
  for (; i < pixels; ++i, in += 4, out += 4) {
    out[ChanB] = in[ChanB] / zmax;
    out[ChanG] = in[ChanG] / zmax;
    out[ChanR] = in[ChanR] / zmax;
    out[ChanA] = in[ChanA];
  }
}

// Double quotients of a Zmax that is no float, narrowed to float: the
// portable kernel, a division per channel.
template <bool Stream>
__attribute__((always_inline)) inline void DivideByDouble(const float* in, float* out,
                                                          size_t pixels, double zmax) {
  Double8 divisor;  // every lane Zmax, -0 included
  for (int k = 0; k < 8; ++k) divisor[k] = zmax;
  size_t i = 0;
  for (; i + 4 <= pixels; i += 4, in += 16, out += 16) {
    Float16 v;
    std::memcpy(&v, in, sizeof v);
    const Float8 low = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
    const Float8 high = __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
    const Float8 lowQ =
        __builtin_convertvector(__builtin_convertvector(low, Double8) / divisor, Float8);
    const Float8 highQ =
        __builtin_convertvector(__builtin_convertvector(high, Double8) / divisor, Float8);
    const Float16 q =
        __builtin_shufflevector(lowQ, highQ, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    PutBlock<Stream>(out, AlphaLanes ? v : q);
  }
  DivideRest(in, out, pixels - i, zmax);
}

// The colour lanes of eight quotients (two pixels) that the reciprocal may
// not give exactly: near a halfway point, or outside the normal float range.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __mmask8 UnsafeLanes(__m512d q) {
  const __m512i bits = _mm512_castpd_si512(q);
  const __m512i magnitude = _mm512_and_si512(bits, _mm512_set1_epi64(INT64_MAX));
  const __m512i fromStart =
      _mm512_sub_epi64(_mm512_and_si512(bits, _mm512_set1_epi64((int64_t(1) << 29) - 1)),
                       _mm512_set1_epi64((int64_t(1) << 28) - 8));
  const __mmask8 near = _mm512_cmple_epu64_mask(fromStart, _mm512_set1_epi64(16));
  const __m512i leastNormal = _mm512_set1_epi64(int64_t(1023 - 126) << 52);  // 2^-126
  const __mmask8 subnormal = _mm512_cmplt_epi64_mask(magnitude, leastNormal) &
                             _mm512_cmpneq_epi64_mask(magnitude, _mm512_setzero_si512());
  const __m512i tooLarge = _mm512_set1_epi64(int64_t(1023 + 127) << 52);  // 2^127
  const __mmask8 large = _mm512_cmpge_epi64_mask(magnitude, tooLarge);
  return __mmask8((near | subnormal | large) & 0x77);  // not alpha
}

// The same with AVX-512, where a division per channel is most of the time of
// the walk. A block is first worked with the reciprocal: q = x * (1 / Zmax)
// lies within 2.0001 double units of the last place (ulps) of the exact
// quotient, so within about 4 ulps of the double quotient that the walk
// narrows, and both narrow to the same float unless a point halfway between
// two floats lies between them. The halfway points of the normal float range
// are the doubles whose 29 low mantissa bits are 1 followed by 28 zeros; a
// quotient within 8 ulps of one, or outside the normal float range
// (subnormal, too large, infinite, not a number), sends its block through
// the division. Ordinary depths do that about once in a few million blocks.
__attribute__((target("avx512f,avx512dq"))) void DivideDoubleWide(const float* in, float* out,
                                                                  size_t pixels, double zmax,
                                                                  bool stream) {
  const double reciprocal = 1.0 / zmax;
  const bool useReciprocal = std::isfinite(zmax) && std::fpclassify(reciprocal) == FP_NORMAL;
  const __m512d scale = _mm512_set1_pd(reciprocal), divisor = _mm512_set1_pd(zmax);
  const __mmask16 colour = 0x7777;  // blue, green, red of four pixels
  const bool aligned = reinterpret_cast<uintptr_t>(out) % 64 == 0;
  stream = stream && aligned;
  size_t i = 0;
  for (; i + 4 <= pixels; i += 4, in += 16, out += 16) {
    const __m512 v = _mm512_loadu_ps(in);
    const __m512d low = _mm512_cvtps_pd(_mm512_castps512_ps256(v));
    const __m512d high = _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1));
    __m512d lowQ, highQ;
    if (useReciprocal) {
      lowQ = _mm512_mul_pd(low, scale);
      highQ = _mm512_mul_pd(high, scale);
      if (UnsafeLanes(lowQ) | UnsafeLanes(highQ)) {
        lowQ = _mm512_div_pd(low, divisor);
        highQ = _mm512_div_pd(high, divisor);
      }
    } else {
      lowQ = _mm512_div_pd(low, divisor);
      highQ = _mm512_div_pd(high, divisor);
    }
    const __m512 q = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lowQ)),
                                        _mm512_cvtpd_ps(highQ), 1);
    const __m512 result = _mm512_mask_blend_ps(colour, v, q);
    if (stream)
      _mm512_stream_ps(out, result);
    else
      _mm512_storeu_ps(out, result);
  }
  DivideRest(in, out, pixels - i, zmax);
}

DividerKernel void DivideFloat(const float* in, float* out, size_t pixels, float zmax,
                               bool stream) {
  if (stream)
    DivideByFloat<true>(in, out, pixels, zmax);
  else
    DivideByFloat<false>(in, out, pixels, zmax);
}

DividerKernel void DivideDoublePortable(const float* in, float* out, size_t pixels, double zmax,
                                        bool stream) {
  if (stream)
    DivideByDouble<true>(in, out, pixels, zmax);
  else
    DivideByDouble<false>(in, out, pixels, zmax);
}

void DivideDouble(const float* in, float* out, size_t pixels, double zmax, bool stream) {
  static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  if (wide)
    DivideDoubleWide(in, out, pixels, zmax, stream);
  else
    DivideDoublePortable(in, out, pixels, zmax, stream);
}

}  // namespace

class ZDevider : public ThreadedOperator {
 public:
  ZDevider(const Registry* reg, const ScriptVal& val, const TagList& tags)
      : ThreadedOperator(reg, val, tags) {
    AddControlPage("Settings");
    title_ = Add(*this, Label("ICI", "Devides Zdepth values to supress superwhites"));
    zmax_ = Add(*this, Color("Zmax", "Pick Zmax from Remapped Z depth")
                           .Default(1.0)
                           .ColorGroup(1)
                           .ColorChannel(0));
    input_ = Add(*this, ImageInput("Input", "Input").MainInput(1));
    output_ = AddImageOutput(*this);
  }

  void Process(Request* req) override {
    const double zmax = NumberValue(zmax_, req);
    Image* src = ImageValue(input_, req);
    Image* dst = NewImage({{ImageLike, src}});
    const float zmaxFloat = static_cast<float>(zmax);
    const bool floatZmax = static_cast<double>(zmaxFloat) == zmax;
    if (src->FurtherCount() == 0 && src->Width() > 0 && src->Height() > 0) {
      // The common layout: the rows of both images follow each other in one
      // block, so the whole image is one run of pixels.
      const size_t pixels = size_t(src->Width()) * size_t(src->Height());
      const bool stream = pixels * 4 * sizeof(float) >= StreamingBytes;
      if (floatZmax)
        DivideFloat(src->Group1(0, 0), dst->Group1(0, 0), pixels, zmaxFloat, stream);
      else
        DivideDouble(src->Group1(0, 0), dst->Group1(0, 0), pixels, zmax, stream);
      if (stream) _mm_sfence();
    } else if (floatZmax) {
      // A float quotient of floats, worked in double and narrowed, equals
      // the float division itself: double carries more than twice a float's
      // precision. So when Zmax is a float, divide in float, four at a time.
      MapPixels(src, dst, [zmaxFloat](auto& px) {
        px.R() /= zmaxFloat;
        px.G() /= zmaxFloat;
        px.B() /= zmaxFloat;
      });
    } else {
      MapPixels(src, dst, [zmax](auto& px) {
        px.R() = static_cast<float>(px.R() / zmax);
        px.G() = static_cast<float>(px.G() / zmax);
        px.B() = static_cast<float>(px.B() / zmax);
      });
    }
    output_->Set(req, dst);
  }

 private:
  Input* title_;
  Input* zmax_;
  Input* input_;
  Output* output_;
};

extern constinit const ToolRecord ZDeviderRecord = {
    .registryId = "Quillmoor.ZDevider",
    .name = "ZDevider",
    .category = "Vexlan\\DofTools",
    .shortName = "ZDevider",
    .description = "Z Depth Devider Tool",
    .buildText = "Built: Dec 11 2010",
    .regInt4 = 343,
    .regInt3 = 1,
    .regInt19 = 1,
    .factory = Factory<ZDevider>,
};
