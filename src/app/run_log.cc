#include "app/run_log.h"

#include "platform/clock.h"
#include "platform/processes.h"
#include "system/command_line.h"
#include "ui/messages.h"

namespace lexoria {

namespace {

// FILE_APPEND_DATA: writes go to the end of the file, whoever else appends.
constexpr uint32_t kFileAppendData = 0x0004;

// "2026-12-09 20:15:07".
std::string TimeText(const platform::LocalTime& time) {
  const auto two = [](unsigned value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
           static_cast<char>('0' + value % 10);
  };
  return std::to_string(time.year) + "-" + two(time.month) + "-" + two(time.day) + " " +
         two(time.hour) + ":" + two(time.minute) + ":" + two(time.second);
}

// The SID's standard text, "S-1-5-18": revision, authority, sub-authorities.
std::string SidText(const platform::Sid& sid) {
  if (sid.size() < 8 || sid.size() != 8 + 4 * size_t{sid[1]}) return "(unknown)";
  uint64_t authority = 0;
  for (size_t i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (size_t i = 8; i < sid.size(); i += 4) {
    const uint32_t sub =
        sid[i] | sid[i + 1] << 8 | sid[i + 2] << 16 | static_cast<uint32_t>(sid[i + 3]) << 24;
    text += "-" + std::to_string(sub);
  }
  return text;
}

// The last name of a path, letter case aside, for comparing names.
std::string LastName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  return LowerAsciiLetters(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

RunLog::~RunLog() { Close(); }

void RunLog::Close() {
  if (is_open()) files_.CloseHandle(file_);
  file_ = platform::kInvalidHandleValue;
}

bool RunLog::Open(const std::string& path, std::string* why) {
  // Wine shows a link by its name only, and opens its target even when asked
  // for the link itself: looked at by name first.
  const uint32_t by_name = files_.GetFileAttributesA(path);
  if (by_name != platform::kInvalidFileAttributes &&
      (by_name & (platform::kFileAttributeReparsePoint | platform::kFileAttributeDirectory)) != 0) {
    *why = "a link or a folder stands at its name";
    return false;
  }
  file_ = files_.CreateFileA(
      path, kFileAppendData | platform::kSynchronize | platform::kFileReadAttributes,
      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenAlways,
      platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint);
  if (!is_open()) {
    *why = "it cannot be opened (error " + std::to_string(files_.GetLastError()) + ")";
    return false;
  }
  platform::ByHandleFileInformation info;
  std::u16string final;
  std::string final_path;
  bool replaced = false;
  if (!files_.GetFileInformationByHandle(file_, &info) ||
      (info.attributes &
       (platform::kFileAttributeReparsePoint | platform::kFileAttributeDirectory)) != 0 ||
      info.number_of_links != 1) {
    *why = "it is a link, a folder or a file with more than one name";
    Close();
    return false;
  }
  // A name an open followed elsewhere ends in another name; where the system
  // gives no final path (Windows XP), the checks above stand alone.
  if (files_.GetFinalPathNameByHandleW(file_, &final,
                                       platform::kFileNameNormalized | platform::kVolumeNameDos) &&
      system_.WideCharToMultiByte(platform::kCpAcp, platform::kWcNoBestFitChars, final, &final_path,
                                  &replaced) &&
      LastName(final_path) != LastName(path)) {
    *why = "its name leads to another file";
    Close();
    return false;
  }
  return true;
}

void RunLog::Write(const std::u16string& line) {
  if (!is_open()) return;
  std::string bytes;
  bool replaced = false;
  uint32_t written = 0;
  if (!system_.WideCharToMultiByte(platform::kCpUtf8, /*flags=*/0, line + u"\r\n", &bytes,
                                   &replaced) ||
      !files_.WriteFile(file_, bytes.data(), static_cast<uint32_t>(bytes.size()), &written) ||
      written != bytes.size()) {
    failed_ = true;
    Close();
  }
}

std::u16string DescribeFailure(platform::SystemInfo& system, const FailedCall& failure,
                               bool with_text) {
  std::u16string text = (OwnText("Failed: " + failure.call + " ") + SystemText(failure.subject) +
                         OwnText(": error " + std::to_string(failure.error)))
                            .ToUtf16(system);
  std::u16string description;
  if (with_text && system.FormatMessageW(failure.error, &description)) {
    text += u" (" + description + u")";
  }
  return text + u".";
}

void StartRunLog(Services& s, RunLog& log, const std::string& setup_version) {
  SetupContext& ctx = s.ctx;
  if (ctx.Options.log_path.empty()) return;
  std::string why;
  if (!log.Open(ctx.Options.log_path, &why)) {
    ctx.Record.notes.push_back((OwnText("The log file ") + SystemText(ctx.Options.log_path) +
                                OwnText(" was not written: " + why + "."))
                                   .ToUtf16(s.os.system));
    return;
  }
  ctx.Record.log = [&log](const std::u16string& line) { log.Write(line); };
  platform::SystemInfo& system = s.os.system;
  std::string line = "==== Lexoria update ";
  line += setup_version;
  line += ", ";
  line += TimeText(s.os.clock.GetLocalTime());
  ctx.Record.Step(OwnText(line).ToUtf16(system));
  ctx.Record.Step(("Command line: " + SystemText(system.GetCommandLineA())).ToUtf16(system));
  // The account by its name where it has one here, and by its SID always:
  // a name alone may stand for another account on another PC.
  std::u16string account = u"Account: ";
  platform::Sid user;
  std::u16string name;
  if (!s.os.processes.GetProcessTokenUser(&user)) {
    account += u"(unknown)";
  } else if (s.os.processes.LookupAccountSidW(user, &name)) {
    account += name + OwnText(" (" + SidText(user) + ")").ToUtf16(system);
  } else {
    account += OwnText(SidText(user)).ToUtf16(system);
  }
  line = ctx.SystemAccount ? " (the system account)" : "";
  line += "; session ";
  uint32_t session = 0;
  line += system.ProcessIdToSessionId(&session) ? std::to_string(session) : "unknown";
  line += ctx.Unattended      ? "; nobody can see this run."
          : ctx.Options.quiet ? "; no box is shown (/quiet)."
                              : "; someone may see this run.";
  ctx.Record.Step(account + OwnText(line).ToUtf16(system));
}

}  // namespace lexoria
