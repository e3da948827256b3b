// The depth-of-field tools on the demo scene: the calculator and the
// remapper with the scene's camera, the divider, and the blurs.
#include <cmath>
#include <string>

#include "cli/demo/scene.h"
#include "cli/demo/steps.h"

namespace {

// The scene's camera, as the dirty depth of field takes it, with the lens
// opened up from f/2.8 to f/1: at f/2.8 the blur circles of the demo's small
// picture are two or three pixels across and the blur hardly shows.
constexpr double OpenFstop = 1.0;

std::vector<std::string> BlurCamera() {
  return {Setting("PlaneOfFocus", DemoCamera::PlaneOfFocus),
          Setting("FocalLength", DemoCamera::FocalLength), Setting("Fstop", OpenFstop),
          Setting("ApertureWidth", DemoCamera::ApertureWidth),
          Setting("ApertureHeight", DemoCamera::ApertureHeight)};
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
  // far wall (no depth of the scene lies beyond it) behind the far limit the
  // calculator printed, rounded up to a whole metre.
  steps.push_back(
      {"ZDevider", "zdevider.exr", {"Input=zremapper.exr"}, {}, [](const PrintedFields& printed) {
         const double far = PrintedField(printed, "focalc.exr", "DoFF");
         return std::vector<std::string>{Setting("Zmax", std::ceil(SceneFarWall - far))};
       }});

  const std::vector<std::string> dofInputs = {"Image=beauty.exr", "Zdepth=depth.exr"};
  // Three times the default samples, for a smoother blur.
  std::vector<std::string> blurSettings = BlurCamera();
  blurSettings.push_back("cSamples=60");
  steps.push_back({"DirtyDof", "dirtydof.exr", dofInputs, blurSettings});
  // The blur-circle diameter of every pixel, for judging the camera settings.
  std::vector<std::string> mapSettings = BlurCamera();
  mapSettings.push_back("DoBlur=0");
  steps.push_back({"DirtyDof", "dirtydof_blurmap.exr", dofInputs, mapSettings});

  const std::vector<std::string> convolutionInputs = {"Image=beauty.exr", "Kernel=kernel.exr"};
  steps.push_back({"Convolution", "convolution.exr", convolutionInputs, {}});
  steps.push_back({"Convolution", "convolution_full.exr", convolutionInputs, {"Sampling=0"}});
}
