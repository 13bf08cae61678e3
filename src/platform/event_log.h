// The Windows event log (advapi32): where a run leaves its record for the
// administrator.
#ifndef LEXORIA_PLATFORM_EVENT_LOG_H_
#define LEXORIA_PLATFORM_EVENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace lexoria::platform {

// Event types (wType of ReportEventW).
inline constexpr uint16_t kEventlogErrorType = 0x0001;
inline constexpr uint16_t kEventlogWarningType = 0x0002;
inline constexpr uint16_t kEventlogInformationType = 0x0004;

class EventLog {
 public:
  virtual ~EventLog() = default;
  // RegisterEventSourceW on the local computer (server name null) for the
  // source `source_name`. Returns the handle, or kNullHandle on failure. A
  // source that is not registered still gets a handle: the Application log
  // takes its records.
  virtual Handle RegisterEventSourceW(const std::u16string& source_name) = 0;
  // ReportEventW with no user SID and no binary data. The strings are UTF-16,
  // as WCHAR holds it, and go to the call unconverted. True when the record
  // was written.
  virtual bool ReportEventW(Handle event_log, uint16_t type, uint16_t category, uint32_t event_id,
                            const std::vector<std::u16string>& strings) = 0;
  virtual bool DeregisterEventSource(Handle event_log) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_EVENT_LOG_H_
