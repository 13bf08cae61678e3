#include "app/event_log_record.h"

#include "app/environment.h"
#include "app/run_log.h"
#include "app/run_update.h"
#include "install/pinned_folder.h"
#include "install/version_readers.h"
#include "platform/dialogs.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/scoped_handles.h"
#include "platform/system_info.h"
#include "system/registry_accessor.h"
#include "ui/messages.h"

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

// "Question box, answered No:" and the like, on a line of its own: how the
// box was answered. Appended piece by piece, which keeps the setup small.
std::string BoxHeading(const BoxRecord& box, bool quiet) {
  std::string heading = box.information ? "\r\nInformation box, "
                        : box.error     ? "\r\nError box, "
                                        : "\r\nQuestion box, ";
  if (!box.shown) {
    heading += quiet ? "not shown (/quiet), " : "not shown (nobody could answer), ";
    heading += ButtonName(box.answer);
    heading += " taken";
  } else if (box.answer == 0) {
    heading += box.error ? "could not be shown" : "could not be shown, taken as No";
  } else {
    heading += "answered ";
    heading += ButtonName(box.answer);
  }
  heading += ":\r\n";
  return heading;
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
  // The record's own words are ASCII, in the setup's code page; a box's text
  // was converted as the box was shown.
  std::u16string text;
  const auto add = [&text, &system](const TaggedText& words) { text += words.ToUtf16(system); };
  add(OwnText("Exit code " + std::to_string(exit_code) + ": " + outcome + "."));
  for (const BoxRecord& box : ctx.Record.boxes) {
    add(OwnText(BoxHeading(box, ctx.Options.quiet && !ctx.Unattended)));
    text += box.english;
  }
  if (IsAbsolutePath(ctx.InstallDir)) {
    add("\r\nInstallation folder: " + SystemText(ctx.InstallDir));
    // Read only in the folder the run holds: by InstallDir's name it could
    // be any folder by now.
    if (ctx.InstallFolder) {
      const std::string after = InstalledPackageVersion(
          s, ctx.InstallFolder->path() + ctx.PackageName + "." + ctx.PackageType);
      const std::string& before =
          ctx.Record.package_before.empty() ? after : ctx.Record.package_before;
      add(OwnText("\r\nPackage version before: " + before + ", after: " + after + "."));
    } else if (ctx.Record.package_before == "none") {
      add("\r\nPackage version before: none, after: none.");
    } else {
      // The run ended before it took the folder: nothing was read by name.
      add("\r\nPackage version: not read.");
    }
  } else {
    add("\r\nInstallation folder: not found.");
  }
  for (const std::u16string& note : ctx.Record.notes) {
    text += u"\r\n";
    text += note;
  }
  // The calls that failed, with their error codes; the log adds the system's
  // text for each.
  for (const FailedCall& failure : ctx.Record.failures) {
    text += u"\r\n" + DescribeFailure(system, failure, /*with_text=*/false);
  }
  if (text.size() > kMaxRecordLength) {
    // A high surrogate at the cut would stand without the low one it pairs with.
    const char16_t last = text[kMaxRecordLength - 1];
    text.resize(last >= 0xD800 && last < 0xDC00 ? kMaxRecordLength - 1 : kMaxRecordLength);
  }
  return text;
}

uint32_t EventIdFor(int exit_code) {
  switch (exit_code) {
    case kExitRestartPending:
      return kEventIdBase + 10;
    case kExitAnotherUpdateRunning:
      return kEventIdBase + 18;
    case kExitInvalidCommandLine:
      return kEventIdBase + 39;
    default:
      return kEventIdBase + static_cast<uint32_t>(exit_code);
  }
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
    // The log file, when there is one, gets the record too, and the system's
    // text of each failed call.
    const RunRecord& record = s.ctx.Record;
    for (const FailedCall& failure : record.failures) {
      record.Step(DescribeFailure(s.os.system, failure, /*with_text=*/true));
    }
    record.Step(u"Record, event id " +
                OwnText(std::to_string(EventIdFor(exit_code))).ToUtf16(s.os.system) + u":");
    record.Step(strings[0]);
    platform::EventLog& log = s.os.event_log;
    const platform::ScopedEventSource source(log, log.RegisterEventSourceW(kEventSource));
    if (!source) return;
    log.ReportEventW(source.get(), event_type, /*category=*/0, EventIdFor(exit_code), strings);
  } catch (...) {
  }
}

}  // namespace lexoria
