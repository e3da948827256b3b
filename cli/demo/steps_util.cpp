// The image utilities on the demo scene. Its depths run from about 3.3 m (the
// nearest ground) to the wall at 40 m; its motion vectors are 4 to 30 pixels
// long; the UV pass runs 0 to 1 across each object.
#include "cli/demo/steps.h"

void AddUtilityDemoSteps(std::vector<DemoStep>& steps) {
  // The depth pass stretched to 0 .. 1 over everything nearer than 30 m; the
  // wall at 40 m, left out of the range, lands above 1.
  steps.push_back({"Normalizer",
                   "normalizer.exr",
                   {"Input=depth.exr"},
                   {"RTreshMax=30", "GTreshMax=30", "BTreshMax=30"}});

  // Motion vectors longer than 12 pixels scaled back to 12.
  steps.push_back({"ClipMotionVectors", "clipmotion.exr", {"Image=motion.exr"}, {"MaxLenght=12"}});

  // The right eye of the stereo pair, passed on as it came.
  steps.push_back({"StereoSwitch",
                   "stereo_right.exr",
                   {"LeftImage=left.exr", "RightImage=right.exr"},
                   {"Input=Right"}});

  // The checker texture placed on every object through the UV pass, repeated
  // twice each way and shifted a quarter across.
  steps.push_back({"UVpositioner",
                   "uvpositioner.exr",
                   {"UV=uv.exr", "Image=texture.exr"},
                   {"SampleMode=Wrap", "Uscale=2", "Vscale=2", "Xoffset=0.25"}});

  // The beauty pass carried into texture space, each pixel written as a
  // 2 x 2 block so that the stretched parts show no gaps.
  steps.push_back({"UVunwrap",
                   "uvunwrap.exr",
                   {"Image=beauty.exr", "UV=uv.exr"},
                   {"Interpolate pixel setting=1"}});
}
