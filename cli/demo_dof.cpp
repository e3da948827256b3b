#include "cli/demo.h"

void AddDofDemoSteps(std::vector<DemoStep>& steps) {
  steps.push_back({"ZDevider", "zdevider.exr", {"Input=depth.exr"}, {"Zmax=20"}});
}
