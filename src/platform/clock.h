// Pauses and time (kernel32), so that waits can run at once in tests.
#ifndef LEXORIA_PLATFORM_CLOCK_H_
#define LEXORIA_PLATFORM_CLOCK_H_

#include <cstdint>

namespace lexoria::platform {

// The SYSTEMTIME fields the setup shows.
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // A plain pause of the calling thread; no messages are processed.
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual uint32_t GetTickCount() = 0;
  // False when there is no high-resolution counter.
  virtual bool QueryPerformanceCounter(int64_t* count) = 0;
  // The date and time of the computer's time zone (GetLocalTime).
  virtual LocalTime GetLocalTime() = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_CLOCK_H_
