#include "app/event_log_record.h"

#include "app/environment.h"
#include "app/run_update.h"
#include "install/pinned_folder.h"
#include "install/version_readers.h"
#include "platform/dialogs.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/scoped_handles.h"
#include "platform/system_info.h"
#include "system/registry_accessor.h"

namespace lexoria {

namespace {

constexpr char kEventMessageFile[] = "%SystemRoot%\\System32\\EventCreate.exe";
constexpr int32_t kTypesSupported = 7;  // error, warning, information
// ReportEventW takes at most 31,839 characters a string; box texts come
// from files and the registry, so the record is cut well below that (in
// UTF-16 units, as the call counts).
constexpr size_t kMaxRecordLength = 30000;

std::string ButtonName(int answer) {
  switch (answer) {
    case platform::kIdOk:
      return "OK";
    case platform::kIdYes:
      return "Yes";
    case platform::kIdNo:
      return "No";
    case 2:
      return "Cancel";
    default:
      return "button " + std::to_string(answer);
  }
}

// "Question box, answered No:" and the like: how the box was answered.
std::string BoxHeading(const BoxRecord& box) {
  std::string heading = box.error ? "Error box, " : "Question box, ";
  if (!box.shown) {
    heading += "not shown (nobody could answer), " + ButtonName(box.answer) + " taken";
  } else if (box.answer == 0) {
    heading += box.error ? "could not be shown" : "could not be shown, taken as No";
  } else {
    heading += "answered " + ButtonName(box.answer);
  }
  return heading + ":";
}

// The source as the system's eventcreate registers one. A key there already
// keeps the values it has; one that lacks any (a registration cut short, or
// a key some other program made) gets the missing ones.
void RegisterEventSource(platform::Registry& api) {
  TRegistry registry(api, platform::kKeyRead);
  registry.SetRootKey(platform::kHkeyLocalMachine);
  KeyCloser closer(registry);
  const std::string key = std::string("\\") + kEventSourceKey;
  if (registry.OpenKey(key, /*create=*/false) && registry.ValueExists("EventMessageFile") &&
      registry.ValueExists("TypesSupported") && registry.ValueExists("CustomSource")) {
    return;
  }
  registry.SetAccess(platform::kKeyAllAccess);
  if (!registry.OpenKey(key, /*create=*/true)) return;
  if (!registry.ValueExists("EventMessageFile")) {
    registry.WriteExpandString("EventMessageFile", kEventMessageFile);
  }
  if (!registry.ValueExists("TypesSupported")) {
    registry.WriteInteger("TypesSupported", kTypesSupported);
  }
  if (!registry.ValueExists("CustomSource")) registry.WriteInteger("CustomSource", 1);
}

}  // namespace

std::string InstalledPackageVersion(Services& s, const std::string& path) {
  if (!platform::IsFileAt(s.os.files, path)) return "none";
  return std::to_string(ReadPakVersion(s.os.files, path));
}

std::u16string ComposeRunRecord(Services& s, int exit_code, const std::string& outcome) {
  const SetupContext& ctx = s.ctx;
  platform::SystemInfo& system = s.os.system;
  // The record's own words: ASCII, in the setup's code page.
  const auto own = [&system](const std::string& text) {
    return system.MultiByteToWideChar(kOwnCodePage, text);
  };
  std::u16string text = own("Exit code " + std::to_string(exit_code) + ": " + outcome + ".");
  for (const BoxRecord& box : ctx.Record.boxes) {
    text += own("\r\n" + BoxHeading(box) + "\r\n") +
            system.MultiByteToWideChar(box.code_page, box.english);
  }
  if (IsAbsolutePath(ctx.InstallDir)) {
    text += own("\r\nInstallation folder: ") +
            system.MultiByteToWideChar(platform::kCpAcp, ctx.InstallDir);
    // Read only in the folder the run holds: by InstallDir's name it could
    // be any folder by now.
    if (ctx.InstallFolder) {
      const std::string after = InstalledPackageVersion(
          s, ctx.InstallFolder->path() + ctx.PackageName + "." + ctx.PackageType);
      const std::string& before =
          ctx.Record.package_before.empty() ? after : ctx.Record.package_before;
      text += own("\r\nPackage version before: " + before + ", after: " + after + ".");
    } else if (ctx.Record.package_before == "none") {
      text += own("\r\nPackage version before: none, after: none.");
    } else {
      // The run ended before it took the folder: nothing was read by name.
      text += own("\r\nPackage version: not read.");
    }
  } else {
    text += own("\r\nInstallation folder: not found.");
  }
  for (const std::u16string& note : ctx.Record.notes) text += u"\r\n" + note;
  if (text.size() > kMaxRecordLength) {
    // A high surrogate at the cut would stand without the low one it pairs with.
    const char16_t last = text[kMaxRecordLength - 1];
    text.resize(last >= 0xD800 && last < 0xDC00 ? kMaxRecordLength - 1 : kMaxRecordLength);
  }
  return text;
}

uint32_t EventIdFor(int exit_code) {
  return kEventIdBase + static_cast<uint32_t>(exit_code == kExitRestartPending ? 10 : exit_code);
}

void WriteRunRecord(Services& s, int exit_code, const std::string& outcome,
                    uint16_t event_type) noexcept {
  try {
    // Needs the administrator's rights: a refused registration still leaves
    // the record, which the log keeps without its message file.
    RegisterEventSource(s.os.registry);
  } catch (...) {
  }
  try {
    const std::vector<std::u16string> strings{ComposeRunRecord(s, exit_code, outcome)};
    platform::EventLog& log = s.os.event_log;
    const platform::ScopedEventSource source(log, log.RegisterEventSourceW(kEventSource));
    if (!source) return;
    log.ReportEventW(source.get(), event_type, /*category=*/0, EventIdFor(exit_code), strings);
  } catch (...) {
  }
}

}  // namespace lexoria
