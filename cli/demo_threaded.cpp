#include <cstdio>
#include <string>

#include "cli/demo.h"

namespace {

std::string Setting(const char* id, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%s=%g", id, value);
  return text;
}

// The scene's camera, as the dirty depth of field takes it, with the lens
// opened up from f/2.8 to f/1: at f/2.8 the blur circles of the demo's small
// picture are two or three pixels across and the blur hardly shows.
constexpr double OpenFstop = 1.0;

std::vector<std::string> CameraSettings() {
  return {Setting("PlaneOfFocus", DemoCamera::PlaneOfFocus),
          Setting("FocalLength", DemoCamera::FocalLength), Setting("Fstop", OpenFstop),
          Setting("ApertureWidth", DemoCamera::ApertureWidth),
          Setting("ApertureHeight", DemoCamera::ApertureHeight)};
}

}  // namespace

void AddThreadedDemoSteps(std::vector<DemoStep>& steps) {
  const std::vector<std::string> dofInputs = {"Image=beauty.exr", "Zdepth=depth.exr"};
  // Three times the default samples, for a smoother blur.
  std::vector<std::string> blurSettings = CameraSettings();
  blurSettings.push_back("cSamples=60");
  steps.push_back({"DirtyDof", "dirtydof.exr", dofInputs, blurSettings});
  // The blur-circle diameter of every pixel, for judging the camera settings.
  std::vector<std::string> mapSettings = CameraSettings();
  mapSettings.push_back("DoBlur=0");
  steps.push_back({"DirtyDof", "dirtydof_blurmap.exr", dofInputs, mapSettings});

  const std::vector<std::string> convolutionInputs = {"Image=beauty.exr", "Kernel=kernel.exr"};
  steps.push_back({"Convolution", "convolution.exr", convolutionInputs, {}});
  steps.push_back({"Convolution", "convolution_full.exr", convolutionInputs, {"Sampling=0"}});

  // The occlusion reads its normals encoded 0 .. 1; the contact shadows are
  // faint at intensity 1.
  steps.push_back(
      {"SSAO", "ssao.exr", {"Normals=normal01.exr", "Position=position.exr"}, {"Intensity=4"}});
}
