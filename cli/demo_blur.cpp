#include "cli/demo.h"

void AddBlurDemoSteps(std::vector<DemoStep>&) {}
