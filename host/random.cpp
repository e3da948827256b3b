#include "host/random.h"

#include <cstdint>

namespace {
thread_local uint32_t state = 1;  // unseeded, as srand(1)
constexpr uint32_t Multiplier = 214013u, Increment = 2531011u;
}  // namespace

void Srand(unsigned seed) { state = seed; }

int Rand() {
  state = state * Multiplier + Increment;
  return static_cast<int>((state >> 16) & 0x7FFF);
}

unsigned RandSeedAfter(unsigned seed, uint64_t draws) {
  // A step is s -> a s + c; two steps of (a, c) are one step of
  // (a a, a c + c). The steps of the bits of `draws` are applied in turn.
  uint32_t s = seed, a = Multiplier, c = Increment;
  for (; draws != 0; draws >>= 1) {
    if (draws & 1) s = a * s + c;
    c = a * c + c;
    a = a * a;
  }
  return s;
}
