#include "system/random_generator.h"

namespace lexoria {

RandomGenerator RandomGenerator::FromClock(platform::Clock& clock) {
  int64_t counter = 0;
  if (clock.QueryPerformanceCounter(&counter)) {
    return RandomGenerator(static_cast<uint64_t>(counter));
  }
  return RandomGenerator(clock.GetTickCount());
}

uint64_t RandomGenerator::Next() {
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t RandomGenerator::Below(uint32_t bound) {
  // Draws above the largest multiple of `bound` are thrown back, so that no
  // result is favoured by the remainder.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t value;
  do {
    value = Next();
  } while (value >= limit);
  return static_cast<uint32_t>(value % bound);
}

}  // namespace lexoria
