// The Application event log (advapi32).
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

// Text of the ANSI code page as UTF-16, as MessageBoxA would show it; false
// when the conversion fails.
bool Widen(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<size_t>(needed));
  return ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide->data(), needed) == needed;
}

class Win32EventLog final : public EventLog {
 public:
  Handle RegisterEventSourceW(const std::string& source_name) override {
    std::wstring source;
    if (!Widen(source_name, &source)) return kNullHandle;
    return reinterpret_cast<Handle>(
        ::RegisterEventSourceW(/*lpUNCServerName=*/nullptr, source.c_str()));
  }
  bool ReportEventW(Handle event_log, uint16_t type, uint16_t category, uint32_t event_id,
                    const std::vector<std::string>& strings) override {
    std::vector<std::wstring> wide(strings.size());
    std::vector<LPCWSTR> pointers;
    for (size_t i = 0; i < strings.size(); ++i) {
      if (!Widen(strings[i], &wide[i])) return false;
      pointers.push_back(wide[i].c_str());
    }
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
