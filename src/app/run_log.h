// The log file of one run, asked for with /log PATH: what the run did, step
// by step, as administrators collect installers' logs from their PCs.
#ifndef LEXORIA_APP_RUN_LOG_H_
#define LEXORIA_APP_RUN_LOG_H_

#include <cstdint>
#include <string>

#include "base/services.h"
#include "platform/file_system.h"
#include "platform/system_info.h"

namespace lexoria {

// Appends UTF-8 lines to one file. Main thread only.
class RunLog {
 public:
  RunLog(platform::FileSystem& files, platform::SystemInfo& system) noexcept
      : files_(files), system_(system) {}
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens `path` (as given: full, or below the current folder), creating it
  // where missing, for appending: every write lands at the end, also beside
  // another writer, which may read and append too. The setup runs elevated
  // and the path may lie in a folder users may change, so the name is
  // opened as itself (kFileFlagOpenReparsePoint) and a link there (also one
  // that only its name shows, as under Wine), a folder, a file with more
  // than one name (a hard link to another file) or one the open led to
  // under another name is left as it was and refused. On false, `*why` says
  // why, in English.
  bool Open(const std::string& path, std::string* why);
  // Appends `line` and CR LF, in UTF-8. A write that fails, or is short,
  // ends the log: nothing more is written to it, and failed() is true.
  void Write(const std::u16string& line);

  bool is_open() const { return file_ != platform::kInvalidHandleValue; }
  bool failed() const { return failed_; }

 private:
  void Close();

  platform::FileSystem& files_;
  platform::SystemInfo& system_;
  platform::Handle file_ = platform::kInvalidHandleValue;
  bool failed_ = false;
};

// Opens the log ctx.Options.log_path asks for, when it does, and points
// ctx.Record.log at it, after the header: the date and time, the setup's
// version `setup_version`, the command line, the account and session, and
// whether anybody can see the run. A log that cannot be had changes nothing
// else: the record says so.
void StartRunLog(Services& s, RunLog& log, const std::string& setup_version);

// The lines a failed call gives the log: the call, what it was about, its
// error code and the system's text for it.
std::u16string DescribeFailure(platform::SystemInfo& system, const FailedCall& failure,
                               bool with_text);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUN_LOG_H_
