#include <charconv>
#include <cmath>
#include <string>

#include "cli/demo.h"
#include "cli/scene.h"
#include "tools/dof/camera.h"

namespace {

// "ID=VALUE" with the shortest text that reads back as the same number.
std::string Setting(const char* id, double value) {
  char text[32];
  return std::string(id) + "=" +
         std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace

void AddDofDemoSteps(std::vector<DemoStep>& steps) {
  const std::vector<std::string> camera = {
      Setting("FocalLength", DemoCamera::FocalLength),
      Setting("PlaneOfFocus", DemoCamera::PlaneOfFocus),
      Setting("ApertureWidth", DemoCamera::ApertureWidth),
      Setting("ApertureHeight", DemoCamera::ApertureHeight),
      Setting("Fstop", DemoCamera::Fstop),
  };
  // The calculator shows the scene camera's depth of field and passes the
  // beauty pass on.
  steps.push_back({"FoCalc", "focalc.exr", {"Input=beauty.exr"}, camera});
  // The out-of-focus map of the depth pass, in metres (the scene is in
  // metres, so a scene scale of 1).
  std::vector<std::string> remap = camera;
  remap.push_back(Setting("SceneScale", 1.0));
  steps.push_back({"ZRemapper", "zremapper.exr", {"Input=depth.exr"}, remap});
  // Scaled into 0 .. 1 by the largest distance out of focus, that of the
  // far wall (no depth of the scene lies beyond it) behind the far limit,
  // rounded up to a whole metre.
  const DepthOfField dof =
      ComputeDepthOfField(DemoCamera::FocalLength, DemoCamera::PlaneOfFocus,
                          DemoCamera::ApertureWidth, DemoCamera::ApertureHeight, DemoCamera::Fstop);
  const double zmax = std::ceil(SceneFarWall - dof.far);
  steps.push_back({"ZDevider", "zdevider.exr", {"Input=zremapper.exr"}, {Setting("Zmax", zmax)}});
}
