#include "host/random.h"

#include <cstdint>

namespace {
thread_local uint32_t state = 1;  // unseeded, as srand(1)
}

void Srand(unsigned seed) { state = seed; }

int Rand() {
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 0x7FFF);
}
