// kernel32 pauses and counters.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32Clock final : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  bool QueryPerformanceCounter(int64_t* count) override {
    LARGE_INTEGER value;
    if (!::QueryPerformanceCounter(&value)) return false;
    *count = value.QuadPart;
    return true;
  }
  LocalTime GetLocalTime() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  }
};

}  // namespace

std::unique_ptr<Clock> MakeClock() { return std::make_unique<Win32Clock>(); }

}  // namespace lexoria::platform::win32
