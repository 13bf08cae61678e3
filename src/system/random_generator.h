// The setup's pseudo-random generator: seeded once from the clock at start-up,
// drawn from only for the name of the temporary file of the "ver" probe.
#ifndef LEXORIA_SYSTEM_RANDOM_GENERATOR_H_
#define LEXORIA_SYSTEM_RANDOM_GENERATOR_H_

#include <cstdint>

#include "platform/clock.h"

namespace lexoria {

// splitmix64: small, fast and uniform enough for file names; the same seed
// gives the same sequence on every build. Not thread-safe.
class RandomGenerator {
 public:
  explicit RandomGenerator(uint64_t seed = 0) : state_(seed) {}

  // Seeds from the high-resolution performance counter, or from the system
  // tick count when the machine has none.
  static RandomGenerator FromClock(platform::Clock& clock);

  void Seed(uint64_t seed) { state_ = seed; }
  uint64_t Next();
  // A number in [0, bound), every one equally likely. REQUIRES: bound > 0.
  uint32_t Below(uint32_t bound);

 private:
  uint64_t state_;
};

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_RANDOM_GENERATOR_H_
