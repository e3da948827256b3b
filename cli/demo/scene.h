// The demo scene: four spheres on a ground plane before a far wall, seen by
// a pinhole camera with the lens and film gate of DemoCamera, rendered by a
// small ray caster into the passes that the tools read.
#pragma once

#include <string>
#include <vector>

#include "cli/files/image_io.h"

// How a pass is turned into a viewable preview.
enum class PreviewKind {
  Colour,    // linear colour, clamped and display-encoded
  Depth,     // metres scaled into 0..1 over the scene's depth
  Position,  // world position scaled into 0..1 over the scene's extent
  Signed,    // -1..1 into 0..1 (normals)
  Motion,    // pixels scaled by the largest motion into 0..1
  Plain,     // already 0..1
};

struct ScenePass {
  std::string name;  // file name without extension: "beauty", "depth", ...
  FloatImage image;
  PreviewKind preview;
};

constexpr int SceneWidth = 640;
constexpr int SceneHeight = 360;
constexpr double SceneFarWall = 40.0;  // metres from the camera

// Every pass of the scene, in the order of cli/demo/steps.h.
std::vector<ScenePass> RenderScenePasses();

// An RGB preview of the pass, 0..1, for an 8-bit file.
FloatImage PreviewOf(const FloatImage& pass, PreviewKind kind);
