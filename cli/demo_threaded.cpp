#include "cli/demo.h"

void AddThreadedDemoSteps(std::vector<DemoStep>&) {}
