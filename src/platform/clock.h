// Pauses and time (kernel32), so that waits can run at once in tests.
#ifndef LEXORIA_PLATFORM_CLOCK_H_
#define LEXORIA_PLATFORM_CLOCK_H_

#include <cstdint>

namespace lexoria::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // A plain pause of the calling thread; no messages are processed.
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual uint32_t GetTickCount() = 0;
  // False when there is no high-resolution counter.
  virtual bool QueryPerformanceCounter(int64_t* count) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_CLOCK_H_
