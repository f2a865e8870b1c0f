// The process-wide pseudo-random generator. Its sequence is fixed so that the
// same seed draws the same questions on every platform:
//   state = state * 214013 + 2531011 (mod 2^32), value = (state >> 16) & 32767
#pragma once

#include <cstdint>

namespace qova {

struct RandomGenerator {
  uint32_t state = 1;
  void seed(uint32_t s) { state = s; }
  // Next value, 0..32767.
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 32767u);
  }
};

constexpr int kRandomMax = 32767;

// The generator of the process (srand/rand), seeded once at start-up.
RandomGenerator& processRandom();
inline void seedRandom(uint32_t seed) { processRandom().seed(seed); }
inline int nextRandom() { return processRandom().next(); }

}  // namespace qova
