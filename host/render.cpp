#include "host/render.h"

#include "host/registry.h"

namespace {

std::string MissingText(const std::string& tool, const std::vector<std::string>& inputs) {
  std::string text = tool + " needs an image on ";
  for (size_t i = 0; i < inputs.size(); ++i) text += (i ? ", " : "") + inputs[i];
  return text;
}

// A required image input with nothing connected. The connection is looked
// at first: it is a pointer, the attributes a list to search.
bool IsMissing(const Input& in) {
  return in.Kind() == InputKind::Image && !in.IsConnected() && in.IsRequired();
}

}  // namespace

MissingImages::MissingImages(const std::string& tool, std::vector<std::string> inputs)
    : std::runtime_error(MissingText(tool, inputs)), inputs_(std::move(inputs)) {}

namespace {

// The output named "Output", else the first. Called within this library
// without going through its table of exported functions.
const Output* FindMainOutput(const Operator& tool) {
  static const TextID main("Output");  // interned: compared as a pointer
  for (const auto& out : tool.Outputs())
    if (out->ID() == main) return out.get();
  return tool.Outputs().empty() ? nullptr : tool.Outputs().front().get();
}

[[noreturn, gnu::noinline, gnu::cold]] void RefuseMissing(const Operator& tool) {
  const Registry* reg = tool.GetRegistry();
  throw MissingImages(reg && reg->Name() ? reg->Name() : "the tool", MissingRequiredImages(tool));
}

}  // namespace

const Output* MainOutput(const Operator& tool) { return FindMainOutput(tool); }

std::vector<std::string> MissingRequiredImages(const Operator& tool) {
  std::vector<std::string> missing;
  for (const auto& in : tool.Inputs())
    if (IsMissing(*in)) missing.emplace_back(in->ID().Text());
  return missing;
}

ImagePtr RenderTool(Operator& tool, double time) {
  for (const auto& in : tool.Inputs())
    if (IsMissing(*in)) RefuseMissing(tool);
  Request request(time);
  tool.Process(&request);
  const Output* output = FindMainOutput(tool);
  return ImagePtr(output ? request.TakeResult(output) : nullptr);
}
