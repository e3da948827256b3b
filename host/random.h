// The standard pseudo-random generator the tools draw from: the srand/rand
// contract (values 0 to 32767) with the classic linear congruential step.
// Its state is private to each thread, so workers never share a sequence and
// one seed gives the same sequence on every platform and every thread.
#pragma once

#include <cstdint>

#include "host/export.h"

constexpr int RandMax = 0x7FFF;

VX_HOST void Srand(unsigned seed);
VX_HOST int Rand();

// The seed whose sequence goes on where the sequence of `seed` stands after
// `draws` draws: after Srand(RandSeedAfter(seed, n)), Rand() gives the value
// that the (n + 1)-th Rand() after Srand(seed) gives. Its cost grows with the
// number of bits of `draws`, not with `draws`.
VX_HOST unsigned RandSeedAfter(unsigned seed, uint64_t draws);
