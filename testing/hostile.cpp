#include "testing/hostile.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "frame/tools.h"
#include "host/render.h"

namespace {

[[noreturn]] void Fail(const ToolRecord& rec, const char* what) {
  std::fprintf(stderr, "%s: %s\n", rec.registryId, what);
  std::fflush(stderr);
  std::abort();
}

// The values a render wrote into the computed display fields, bit for bit.
std::vector<uint64_t> ComputedFields(const Operator& tool) {
  std::vector<uint64_t> fields;
  for (const auto& in : tool.Inputs())
    if (in->IsComputedField()) {
      const double value = in->NumberValue();
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      fields.push_back(bits);
    }
  return fields;
}

struct Render {
  ImagePtr result;
  std::vector<uint64_t> fields;
};

Render RenderOnce(Operator& tool, int threads) {
  SetWorkerThreadLimit(threads);
  Render render;
  render.result = RenderTool(tool);
  render.fields = ComputedFields(tool);
  return render;
}

bool IsPassThrough(const ToolRecord& rec) { return &rec == &StereoSwitchRecord; }

}  // namespace

ImageSnapshot Snapshot(const Image& img) {
  ImageSnapshot snap;
  snap.width = img.Width();
  snap.height = img.Height();
  snap.further = img.FurtherNames();
  const size_t channels = static_cast<size_t>(img.ChannelCount());
  snap.bytes.reserve(size_t(snap.width) * size_t(snap.height) * channels * sizeof(float));
  FltPixel px;
  for (int32_t y = 0; y < snap.height; ++y)
    for (int32_t x = 0; x < snap.width; ++x) {
      img.GetPixel(x, y, px);
      const auto* bytes = reinterpret_cast<const uint8_t*>(px.Chan);
      snap.bytes.insert(snap.bytes.end(), bytes, bytes + channels * sizeof(float));
    }
  return snap;
}

std::string CheckRenders(const ToolRecord& rec, Operator& tool, int threads) {
  // The images on the tool's inputs, each once.
  std::vector<Image*> images;
  for (const auto& input : tool.Inputs())
    if (Image* img = input->Connected();
        img && std::find(images.begin(), images.end(), img) == images.end())
      images.push_back(img);
  std::vector<ImageSnapshot> before;
  std::vector<int32_t> holders;
  for (Image* img : images) {
    before.push_back(Snapshot(*img));
    holders.push_back(img->Holders());
  }

  Render first = RenderOnce(tool, 1);
  if (!first.result && !IsPassThrough(rec)) return "no image was set on the output";
  std::optional<ImageSnapshot> firstBytes;
  if (first.result) firstBytes = Snapshot(*first.result);
  for (size_t i = 0; i < images.size(); ++i)
    if (!(Snapshot(*images[i]) == before[i])) return "an input image was changed";

  Render second = RenderOnce(tool, threads);
  SetWorkerThreadLimit(0);
  if (bool(first.result) != bool(second.result))
    return "a second render set an output where the first did not, or the reverse";
  if (first.result && !(Snapshot(*second.result) == *firstBytes))
    return "a second render on " + std::to_string(threads) + " workers gave other bytes";
  if (first.fields != second.fields) return "a second render showed other computed values";

  first.result.reset();
  second.result.reset();
  for (size_t i = 0; i < images.size(); ++i)
    if (images[i]->Holders() != holders[i])
      return "a render left an input image with " + std::to_string(images[i]->Holders()) +
             " holders instead of " + std::to_string(holders[i]);
  return "";
}

void FuzzTool(const ToolRecord& rec, const uint8_t* data, size_t size) {
  ByteStream in(data, size);
  RegistryList list;
  Registry registry(&list, TextID(rec.registryId), RegistrationTags(rec, nullptr, nullptr));
  ToolPtr tool(registry.Create());
  if (!tool) Fail(rec, "the factory gave no tool");

  const std::vector<ImagePtr> images = SetUpFromBytes(*tool, in);
  // The threaded tools render on one worker first, then on several.
  const int threads = 1 + in.Byte() % 4;
  const std::string broken = CheckRenders(rec, *tool, threads);
  if (!broken.empty()) Fail(rec, broken.c_str());
}

const NamedTool Tools[] = {
#define VEXLAN_NAMED_TOOL(Class) {#Class, &Class##Record},
    VEXLAN_TOOLS(VEXLAN_NAMED_TOOL)
#undef VEXLAN_NAMED_TOOL
};

std::span<const NamedTool> AllTools() { return Tools; }

const ToolRecord* ToolRecordByClass(std::string_view name) {
  for (const NamedTool& tool : Tools)
    if (name == tool.className) return tool.record;
  return nullptr;
}
