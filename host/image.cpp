#include "host/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <new>

// Under AddressSanitizer pixels come from the checked heap, uncached, and the
// padding after each channel group is poisoned: a read or write past an
// image's pixels, or of an image already released, is reported instead of
// landing in memory that happens to be mapped.
#if defined(__SANITIZE_ADDRESS__)
#define VX_CHECKED_PIXELS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_CHECKED_PIXELS 1
#endif
#endif
#ifdef VX_CHECKED_PIXELS
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t Alignment = 64;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

// Pixel memory. Large blocks come straight from the kernel with their pages
// mapped at once (every image is written whole, and one call maps them far
// faster than a fault per page), and are kept in a small cache when freed: a
// host renders frame after frame of one size, and a cached block is ready.
class PixelMemory {
 public:
  static std::byte* Take(size_t bytes) {
#ifdef VX_CHECKED_PIXELS
    void* checked = ::operator new(bytes, std::align_val_t(Alignment), std::nothrow);
    if (!checked) throw std::bad_alloc();
    return static_cast<std::byte*>(checked);
#endif
    {
      std::lock_guard<std::mutex> hold(Lock());
      auto& cache = Cache();
      auto it = cache.find(bytes);
      if (it != cache.end()) {
        std::byte* block = it->second;
        cache.erase(it);
        CachedBytes() -= bytes;
        return block;
      }
    }
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<std::byte*>(block);
  }

  static void Give(std::byte* block, size_t bytes) {
#ifdef VX_CHECKED_PIXELS
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
    ::operator delete(block, std::align_val_t(Alignment));
    return;
#endif
    {
      std::lock_guard<std::mutex> hold(Lock());
      auto& cache = Cache();
      if (cache.size() < MaxBlocks && CachedBytes() + bytes <= MaxBytes) {
        cache.emplace(bytes, block);
        CachedBytes() += bytes;
        return;
      }
    }
    munmap(block, bytes);
  }

 private:
  static constexpr size_t MaxBlocks = 8;
  static constexpr size_t MaxBytes = size_t(1) << 30;
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::multimap<size_t, std::byte*>& Cache() {
    static auto* cache = new std::multimap<size_t, std::byte*>();
    return *cache;
  }
  static size_t& CachedBytes() {
    static size_t bytes = 0;
    return bytes;
  }
};

void ReadFourChannels(FltPixel& px, const std::byte* g1, const std::byte*, const Image&) {
  std::memcpy(px.Chan, g1, 4 * sizeof(float));
}

void WriteFourChannels(const FltPixel& px, std::byte* g1, std::byte*, Image&) {
  std::memcpy(g1, px.Chan, 4 * sizeof(float));
}

void ReadAllChannels(FltPixel& px, const std::byte* g1, const std::byte* g2, const Image& img) {
  std::memcpy(px.Chan, g1, 4 * sizeof(float));
  std::memcpy(px.Chan + ChanFurther, g2, img.FurtherCount() * sizeof(float));
}

void WriteAllChannels(const FltPixel& px, std::byte* g1, std::byte* g2, Image& img) {
  std::memcpy(g1, px.Chan, 4 * sizeof(float));
  std::memcpy(g2, px.Chan + ChanFurther, img.FurtherCount() * sizeof(float));
}

int32_t Clamp(int32_t v, int32_t size) { return std::clamp(v, 0, size - 1); }

int32_t Wrap(int32_t v, int32_t size) {
  if (static_cast<uint32_t>(v) < static_cast<uint32_t>(size)) return v;  // inside: no division
  int32_t m = v % size;
  return m < 0 ? m + size : m;
}

}  // namespace

Image::Image(int32_t width, int32_t height, const std::vector<std::string>& furtherNames)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      furtherNames_(furtherNames),
      step1_(4 * sizeof(float)),
      step2_(0),
      read_(ReadFourChannels),
      write_(WriteFourChannels) {
  if (furtherNames_.size() > MaxFurtherChannels) furtherNames_.resize(MaxFurtherChannels);
  const size_t pixels = size_t(width_) * size_t(height_);
  const size_t further = furtherNames_.size();
  const size_t bytes1 = RoundUp(pixels * 4 * sizeof(float), Alignment);
  const size_t bytes2 = RoundUp(pixels * further * sizeof(float), Alignment);
  bytes_ = std::max<size_t>(bytes1 + bytes2, Alignment);
  memory_ = PixelMemory::Take(bytes_);
#ifdef VX_CHECKED_PIXELS
  const size_t used1 = pixels * 4 * sizeof(float), used2 = pixels * further * sizeof(float);
  ASAN_POISON_MEMORY_REGION(memory_ + used1, bytes1 - used1);
  ASAN_POISON_MEMORY_REGION(memory_ + bytes1 + used2, bytes_ - bytes1 - used2);
#endif

  const size_t row1 = size_t(width_) * 4 * sizeof(float);
  rows1_.resize(height_);
  for (int32_t y = 0; y < height_; ++y) rows1_[y] = memory_ + y * row1;
  if (further > 0) {
    step2_ = static_cast<ptrdiff_t>(further * sizeof(float));
    read_ = ReadAllChannels;
    write_ = WriteAllChannels;
    const size_t row2 = size_t(width_) * further * sizeof(float);
    rows2_.resize(height_);
    for (int32_t y = 0; y < height_; ++y) rows2_[y] = memory_ + bytes1 + y * row2;
  }
}

Image::~Image() { PixelMemory::Give(memory_, bytes_); }

std::byte* const* Image::RowTable(int group) const {
  if (group == 1) return rows1_.data();
  return rows2_.empty() ? nullptr : rows2_.data();
}

float* Image::Group1(int32_t x, int32_t y) const {
  return reinterpret_cast<float*>(rows1_[y] + x * step1_);
}

float* Image::Group2(int32_t x, int32_t y) const {
  return rows2_.empty() ? nullptr : reinterpret_cast<float*>(rows2_[y] + x * step2_);
}

void Image::GetPixel(int32_t x, int32_t y, FltPixel& px) const {
  const std::byte* group1 = rows1_[y] + x * step1_;
  if (rows2_.empty()) {
    // The common layout, inline: every sample comes through here.
    std::memcpy(px.Chan, group1, 4 * sizeof(float));
    return;
  }
  read_(px, group1, rows2_[y] + x * step2_, *this);
}

void Image::SetPixel(int32_t x, int32_t y, const FltPixel& px) {
  write_(px, reinterpret_cast<std::byte*>(Group1(x, y)), reinterpret_cast<std::byte*>(Group2(x, y)),
         *this);
}

void Image::Fill(float r, float g, float b, float a) {
  const float bgra[4] = {b, g, r, a};
  for (int32_t y = 0; y < height_; ++y) {
    float* p = reinterpret_cast<float*>(rows1_[y]);
    for (int32_t x = 0; x < width_; ++x, p += 4) std::memcpy(p, bgra, sizeof bgra);
    if (!rows2_.empty()) std::memset(rows2_[y], 0, size_t(width_) * step2_);
  }
}

void Image::SamplePixelD(int32_t x, int32_t y, FltPixel& px) const {
  if (width_ == 0 || height_ == 0) return SamplePixelB(x, y, px);
  GetPixel(Clamp(x >> 16, width_), Clamp(y >> 16, height_), px);
}

void Image::SamplePixelW(int32_t x, int32_t y, FltPixel& px) const {
  if (width_ == 0 || height_ == 0) return SamplePixelB(x, y, px);
  GetPixel(Wrap(x >> 16, width_), Wrap(y >> 16, height_), px);
}

void Image::SamplePixelB(int32_t x, int32_t y, FltPixel& px) const {
  const int32_t px_x = x >> 16, px_y = y >> 16;
  if (px_x < 0 || px_y < 0 || px_x >= width_ || px_y >= height_) {
    std::fill_n(px.Chan, ChannelCount(), 0.0f);
    return;
  }
  GetPixel(px_x, px_y, px);
}

Image* NewImage(const TagList& tags) {
  const auto* like = static_cast<const Image*>(tags.GetPointer(ImageLike));
  if (!like) return nullptr;
  return NewImage(like->Width(), like->Height(), like->FurtherNames());
}

Image* NewImage(int32_t width, int32_t height, const std::vector<std::string>& furtherNames) {
  return new Image(width, height, furtherNames);
}
