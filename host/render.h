// Rendering a tool, as the host does it. Every program renders through
// RenderTool: the command, the tests, the fuzz drivers.
//
// A tool renders only when every image input it requires is connected, so a
// tool's Process may take its required images as given; an optional input
// left unconnected yields null and the tool defines what that means.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/operator.h"

// Drops one hold on a reference-counted host object.
struct VX_HOST DropHold {
  void operator()(RefObject* object) const {
    if (object) object->Recycle();
  }
};

// One hold on an image or a tool, dropped when the pointer goes.
using ImagePtr = std::unique_ptr<Image, DropHold>;
using ToolPtr = std::unique_ptr<Operator, DropHold>;

// A render refused because required image inputs are not connected.
class VX_HOST MissingImages : public std::runtime_error {
 public:
  MissingImages(const std::string& tool, std::vector<std::string> inputs);
  // The IDs of the unconnected inputs, in creation order.
  const std::vector<std::string>& Inputs() const { return inputs_; }

 private:
  std::vector<std::string> inputs_;
};

// The output that carries the tool's result: the one with ID "Output", else
// the first; null when the tool has none.
VX_HOST const Output* MainOutput(const Operator& tool);

// The required image inputs that have nothing connected, in creation order.
VX_HOST std::vector<std::string> MissingRequiredImages(const Operator& tool);

// Renders one request at `time`: throws MissingImages before Process when a
// required image is not connected, then hands back the image the tool set
// on its main output, or null when it set none. What Process throws passes
// through.
VX_HOST ImagePtr RenderTool(Operator& tool, double time = 0.0);
