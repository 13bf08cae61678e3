// The record one run leaves in the Windows Application event log: what an
// administrator who rolled the update out reads afterwards.
#ifndef LEXORIA_APP_EVENT_LOG_RECORD_H_
#define LEXORIA_APP_EVENT_LOG_RECORD_H_

#include <cstdint>
#include <string>

#include "base/services.h"

namespace lexoria {

// The event source of the records, registered as the system's eventcreate
// registers a custom source: its message file prints the one string as it
// stands, for event ids 1 to 1000.
inline constexpr char16_t kEventSource[] = u"Lexoria Update";
inline constexpr char kEventSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Lexoria Update";
inline constexpr uint32_t kEventIdBase = 100;  // + the exit code

// The record's event id: kEventIdBase + `exit_code`, and 110 for 3010
// (restart pending), 118 for 1618 (another update in progress) and 139 for
// 1639 (invalid command line), which stay within the message file's ids.
uint32_t EventIdFor(int exit_code);

// The version of the package installed at `path`, as text: "none" when there
// is no file there. Reads bytes 6 and 7 only.
std::string InstalledPackageVersion(Services& s, const std::string& path);

// The record's text, in English, one item a line (CR LF): the exit code and
// `outcome` (ASCII); every box of ctx.Record with how it was answered, and
// its text; the installation folder; the package version before and after;
// the notes. UTF-16, each text converted from its own code page; cut after
// 30,000 units, or one before where a character would be split.
std::u16string ComposeRunRecord(Services& s, int exit_code, const std::string& outcome);

// Registers the event source, or completes a registration that lacks one of
// its values (values there are left as they are), then reports the record
// with `event_type` and event id EventIdFor(`exit_code`). Nothing that
// fails here is shown or raised: the run's outcome stays what it was.
void WriteRunRecord(Services& s, int exit_code, const std::string& outcome,
                    uint16_t event_type) noexcept;

}  // namespace lexoria

#endif  // LEXORIA_APP_EVENT_LOG_RECORD_H_
