#include "cli/demo.h"

void AddUtilityDemoSteps(std::vector<DemoStep>&) {}
