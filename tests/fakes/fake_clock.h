// A clock that never waits: Sleep advances the time at once and can run a
// hook, so that another program's start-up can be staged at given times.
#ifndef LEXORIA_TESTS_FAKES_FAKE_CLOCK_H_
#define LEXORIA_TESTS_FAKES_FAKE_CLOCK_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/clock.h"

namespace lexoria::testing {

class FakeClock final : public platform::Clock {
 public:
  uint64_t now_ms = 0;
  bool has_performance_counter = true;
  int64_t performance_counter = 123456789;
  std::vector<uint32_t> sleeps;
  // Runs after each pause with the new time.
  std::function<void(uint64_t now_ms)> on_sleep;

  void Sleep(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    now_ms += milliseconds;
    if (on_sleep) on_sleep(now_ms);
  }
  uint32_t GetTickCount() override { return static_cast<uint32_t>(now_ms); }
  bool QueryPerformanceCounter(int64_t* count) override {
    if (!has_performance_counter) return false;
    *count = performance_counter;
    return true;
  }
  platform::LocalTime local_time{2026, 12, 9, 20, 15, 7};
  platform::LocalTime GetLocalTime() override { return local_time; }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_CLOCK_H_
