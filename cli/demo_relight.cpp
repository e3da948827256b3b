#include "cli/demo.h"

void AddRelightDemoSteps(std::vector<DemoStep>&) {}
