// The Application event log (advapi32).
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

class Win32EventLog final : public EventLog {
 public:
  Handle RegisterEventSourceW(const std::u16string& source_name) override {
    return reinterpret_cast<Handle>(
        ::RegisterEventSourceW(/*lpUNCServerName=*/nullptr, Wide(source_name)));
  }
  bool ReportEventW(Handle event_log, uint16_t type, uint16_t category, uint32_t event_id,
                    const std::vector<std::u16string>& strings) override {
    std::vector<LPCWSTR> pointers;
    for (const std::u16string& text : strings) pointers.push_back(Wide(text));
    return ::ReportEventW(reinterpret_cast<HANDLE>(event_log), type, category, event_id,
                          /*lpUserSid=*/nullptr, static_cast<WORD>(pointers.size()),
                          /*dwDataSize=*/0, pointers.empty() ? nullptr : pointers.data(),
                          /*lpRawData=*/nullptr) != FALSE;
  }
  bool DeregisterEventSource(Handle event_log) override {
    return ::DeregisterEventSource(reinterpret_cast<HANDLE>(event_log)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<EventLog> MakeEventLog() { return std::make_unique<Win32EventLog>(); }

}  // namespace lexoria::platform::win32
