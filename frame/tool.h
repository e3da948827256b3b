// The tool frame: what every tool of the module shares.
//
// A tool is one class derived from ThreadedOperator. Its constructor adds the
// page "Settings", its inputs (frame/inputs.h) and its output; its Process
// renders one request. At the bottom of its file it defines its record:
//
//   extern const ToolRecord ZDeviderRecord = {
//       .registryId = "Quillmoor.ZDevider", ..., .factory = Factory<ZDevider>};
//
// The records are constant data; frame/registrations.cpp turns them into the
// module's registration objects, in the module's fixed order.
#pragma once

#include <cstring>
#include <new>
#include <optional>
#include <type_traits>

#include "frame/inputs.h"
#include "frame/kernels.h"
#include "host/host.h"

struct ToolRecord {
  const char* registryId;
  const char* name;
  const char* category;
  const char* shortName;
  const char* description;
  const char* buildText;
  int regInt4;
  std::optional<int> regInt3;  // absent from some records altogether
  std::optional<int> regInt19;
  FactoryFunc factory;
};

// A new tool object, or null when there is no memory for it. When the
// constructor throws, the memory is freed and the exception passes on.
template <typename Tool>
Operator* Factory(const Registry* reg, const ScriptVal& val, const TagList& tags) {
  return new (std::nothrow) Tool(reg, val, tags);
}

// The registration tag list of a record, in the host's order.
TagList RegistrationTags(const ToolRecord& rec, const ScriptInfo* script, const ResColor* tile);

// The four objects a tool registers with, built in this order and destroyed
// in reverse: tile colour, script information, registry ID, record.
template <typename Tool>
class ToolRegistration {
 public:
  explicit ToolRegistration(const ToolRecord& rec, RegistryList* list = &ClassRegistry)
      : tile_(nullptr, 0x002B2A27, 0x007A0CE8),
        script_(1, rec.registryId, "", ""),
        id_(rec.registryId, true),
        registry_(list, id_, RegistrationTags(rec, &script_, &tile_)) {}

  const Registry& Record() const { return registry_; }

 private:
  ResColor tile_;
  ScriptInfoT<Tool> script_;
  TextID id_;
  Registry registry_;
};

// The value of an input for the request, by kind.
inline double NumberValue(Input* in, Request* req) {
  return static_cast<Number*>(in->GetValue(req, 0))->Value();
}
inline TextID ChoiceValue(Input* in, Request* req) {
  return *static_cast<TextIDParam*>(in->GetValue(req, 0));
}
// A required image is always there: the host renders a tool only when every
// required image input is connected (host/render.h). An optional one is null
// when nothing is connected.
inline Image* ImageValue(Input* in, Request* req) {
  return static_cast<Image*>(in->GetValue(req, 0));
}

// Writes the value into a computed display field.
inline void ShowValue(Input* field, double value) {
  AutoNumber number(value);
  field->SetValue(number, 0.0, 1, nullptr);
}

using kernels::StreamingBytes;
using kernels::StreamsPixels;

// One row of the common layout, a block of pixels at a time: each pixel is
// changed in a block on the stack, and the block is then written whole, past
// the cache when `stream` is set.
template <typename Change>
inline void MapRow4(const float* in, float* out, int32_t width, bool stream, Change& change) {
  constexpr int32_t Block = 64;
  FltPixel4 block[Block];
  for (int32_t x = 0; x < width; x += Block) {
    const int32_t n = width - x < Block ? width - x : Block;
    std::memcpy(block, in + 4 * size_t(x), size_t(n) * sizeof(FltPixel4));
    for (int32_t i = 0; i < n; ++i) change(block[i]);
    kernels::CopyPixels(block[0].Chan, out + 4 * size_t(x), 4 * size_t(n), stream);
  }
}

// The pixel walk of the tools that map each source pixel to the result pixel
// at the same place: rows outer, columns inner, every channel read into the
// record, changed in place by `change`, and written. `dst` must be at least
// as large as `src`.
//
// When `change` takes any record (`[](auto& px)`), it cannot see or touch
// the further channels: it is given a FltPixel4 of a block on the stack, the
// further channels are copied row by row as they are, and large results are
// written past the cache, as a plain copy writes them.
template <typename Change>
void MapPixels(const Image* src, Image* dst, Change&& change) {
  const int32_t width = src->Width(), height = src->Height();
  if constexpr (std::is_invocable_v<Change&, FltPixel4&>) {
    if (src->FurtherCount() == dst->FurtherCount()) {
      const bool stream = kernels::StreamsPixels(size_t(width) * size_t(height));
      const size_t furtherBytes = size_t(width) * size_t(src->FurtherCount()) * sizeof(float);
      for (int32_t y = 0; y < height; ++y) {
        const float* in = src->Group1(0, y);
        float* out = dst->Group1(0, y);
        MapRow4(in, out, width, stream, change);
        if (furtherBytes > 0) std::memcpy(dst->Group2(0, y), src->Group2(0, y), furtherBytes);
      }
      if (stream) kernels::FinishStreaming();
      return;
    }
  }
  PixelCursor in(src), out(dst);
  FltPixel px;
  for (int32_t y = 0; y < height; ++y) {
    in.GotoRow(y);
    out.GotoRow(y);
    for (int32_t x = 0; x < width; ++x) {
      in.ReadPixel(px);
      change(px);
      out.WritePixel(px);
      in.NextPixel();
      out.NextPixel();
    }
  }
}

// Copies every pixel of `src` into `dst`, which is made like it; large
// results are written past the cache.
inline void CopyPixels(const Image* src, Image* dst) {
  const int32_t width = src->Width(), height = src->Height();
  const bool stream = kernels::StreamsPixels(size_t(width) * size_t(height));
  const size_t furtherBytes = size_t(width) * size_t(src->FurtherCount()) * sizeof(float);
  for (int32_t y = 0; y < height; ++y) {
    kernels::CopyPixels(src->Group1(0, y), dst->Group1(0, y), 4 * size_t(width), stream);
    if (furtherBytes > 0) std::memcpy(dst->Group2(0, y), src->Group2(0, y), furtherBytes);
  }
  if (stream) kernels::FinishStreaming();
}

// Copies row y of the source's further channels into the result, which has
// the same size and further channels. Group 2 rows are contiguous, the
// channels interleaved.
inline void CopyFurtherRow(const Image* src, Image* dst, int32_t y) {
  if (src->FurtherCount() == 0 || src->Width() == 0) return;
  std::memcpy(dst->Group2(0, y), src->Group2(0, y),
              size_t(src->Width()) * src->FurtherCount() * sizeof(float));
}

// The render of the row-threaded tools: `result` becomes a new image made
// like `like`, its rows are rendered by the tool's ProcessChunk (one chunk
// per row, or `chunks` chunks of the tool's own shape, several at once), and
// it is set as the output. The rows write blue, green, red and alpha;
// further channels they leave are cleared first.
enum class FurtherChannels { WrittenByRows, Cleared };
inline void RenderRows(ThreadedOperator& tool, Request* req, Output* output, const Image* like,
                       Image*& result, FurtherChannels further, int chunks = -1) {
  result = NewImage({{ImageLike, like}});
  if (further == FurtherChannels::Cleared && result->FurtherCount() > 0) result->Fill(0, 0, 0, 0);
  tool.DoMultiProcess(req, chunks < 0 ? like->Height() : chunks);
  output->Set(req, result);
}
