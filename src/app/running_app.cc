#include "app/running_app.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "install/pinned_folder.h"
#include "platform/app_link.h"
#include "platform/gui.h"
#include "platform/processes.h"
#include "platform/scope_exit.h"
#include "platform/scoped_handles.h"
#include "platform/system_info.h"

namespace lexoria {

namespace {

// The probe only asks whether the name exists; when it does not, the probe's
// own mapping lives for a moment, so it is kept small.
constexpr uint32_t kMarkerSizeHigh = 0;
constexpr uint32_t kMarkerSizeLow = 64;

constexpr uint32_t kMarkerPollInterval = 512;
constexpr int kMarkerPollLimit = 8;
constexpr uint32_t kWindowPollInterval = 1024;
constexpr int kWindowPollLimit = 11;

// How long the launch waits for the desktop shell to take the start. Its
// calls cross into the shell's process, which a dead network drive or a
// deadlocked extension can hang; a caller of "modest runapp" waits for our
// exit code meanwhile.
constexpr uint32_t kDesktopStartLimit = 15000;

// Lexoria's folder as the run holds it, so that the program started is the
// one in the folder that was checked and written to; InstallDir before the
// run took it.
const std::string& InstallFolderPath(const SetupContext& ctx) {
  return ctx.InstallFolder ? ctx.InstallFolder->path() : ctx.InstallDir;
}

platform::HWnd FindMainWindow(Services& s) {
  return s.os.app_link.FindWindowA(s.ctx.MainWindowClass, /*window_name=*/nullptr);
}

// One start through the desktop shell, shared by the thread that asks for it
// and the worker that makes the calls, and freed by the last of the two to
// let go: after a time-out the asking thread goes on, and the worker may come
// back from the shell much later, or never before the process ends. It holds
// copies of its texts, so that it depends on nothing of the asking thread's.
class DesktopStart {
 public:
  DesktopStart(platform::Processes& processes, std::string file, std::string directory)
      : processes_(processes), file_(std::move(file)), directory_(std::move(directory)) {}
  DesktopStart(const DesktopStart&) = delete;
  DesktopStart& operator=(const DesktopStart&) = delete;

  void AddOwner() { owners_.fetch_add(1); }
  void Release() {
    if (owners_.fetch_sub(1) == 1) delete this;
  }

  // The worker's body: the shell's calls, then the worker's release. Nothing
  // may leave a thread's body as an exception.
  static uint32_t Run(void* parameter) {
    DesktopStart* start = static_cast<DesktopStart*>(parameter);
    platform::DesktopShellResult result = platform::DesktopShellResult::kFailed;
    try {
      result = start->processes_.ShellExecuteOnDesktop("open", start->file_, /*parameters=*/"",
                                                       start->directory_, platform::kSwShowNormal);
    } catch (...) {
      // Thrown from inside the call: it may have reached the shell's start.
      result = platform::DesktopShellResult::kFailed;
    }
    start->result_.store(result);
    const bool started = result == platform::DesktopShellResult::kStarted;
    start->Release();
    return started ? 0 : 1;
  }

  // What the worker's call came to; read once the worker has ended.
  platform::DesktopShellResult result() const { return result_.load(); }

 private:
  ~DesktopStart() = default;

  platform::Processes& processes_;
  const std::string file_;
  const std::string directory_;
  std::atomic<int> owners_{1};
  std::atomic<platform::DesktopShellResult> result_{platform::DesktopShellResult::kFailed};
};

// Asks the desktop shell, on a worker thread with its own COM apartment, to
// start `file` in InstallDir, and waits for it at most kDesktopStartLimit.
// True when the start is settled: the shell took it, or failed or did not
// answer in time (a shell that failed may have started Lexoria already, and
// one that did not answer may still do so). False when no worker ran, or the
// worker found no shell to ask: nothing was started.
bool StartThroughDesktopShell(Services& s, const std::string& file) {
  platform::Gui& gui = s.os.gui;
  DesktopStart* start = new DesktopStart(s.os.processes, file, InstallFolderPath(s.ctx));
  start->AddOwner();  // the worker's share
  uint32_t thread_id = 0;
  platform::ScopedThread thread(gui);
  try {
    thread.reset(gui.CreateThread(&DesktopStart::Run, start, &thread_id));
  } catch (...) {
    start->Release();
    start->Release();
    throw;
  }
  bool settled = false;
  if (!thread) {
    start->Release();  // no worker ran: its share goes too
  } else {
    settled = gui.WaitForSingleObject(thread.get(), kDesktopStartLimit) != platform::kWaitObject0 ||
              start->result() != platform::DesktopShellResult::kNoDesktopShell;
  }
  start->Release();
  return settled;
}

enum class SessionUser { kSame, kOther, kUnknown };

// Whether the setup's token belongs to the user logged on to its session. An
// administrator who typed a password into a standard user's session (or used
// Run as) runs the setup as another user: that is kOther. Every fact must be
// read: a session without a user name, or one whose name does not resolve
// here, is kUnknown.
SessionUser CompareWithSessionUser(Services& s) {
  platform::Processes& processes = s.os.processes;
  std::u16string user;
  std::u16string domain;
  platform::Sid session_user;
  platform::Sid token_user;
  if (!s.os.system.WTSQuerySessionInformationW(platform::kWtsUserName, &user) || user.empty() ||
      !s.os.system.WTSQuerySessionInformationW(platform::kWtsDomainName, &domain) ||
      !processes.LookupAccountNameW(domain + u"\\" + user, &session_user) ||
      !processes.GetProcessTokenUser(&token_user)) {
    return SessionUser::kUnknown;
  }
  return processes.EqualSid(session_user, token_user) ? SessionUser::kSame : SessionUser::kOther;
}

// A primary token with a normal user's rights, made from the setup's own:
// Safer's "Normal User" level, or, where Safer hands out no token that can be
// used (Wine's Safer is a stub), the same restriction made directly: every
// privilege but one removed and the Administrators group kept for deny only.
// None when none can be made.
platform::ScopedProcessHandle NormalUserToken(platform::Processes& processes) {
  platform::ScopedProcessHandle token(processes);
  platform::Handle made = platform::kNullHandle;
  platform::Handle opened = platform::kNullHandle;
  if (processes.SaferCreateLevel(platform::kSaferScopeIdUser, platform::kSaferLevelIdNormalUser,
                                 platform::kSaferLevelOpen, &opened)) {
    const platform::ScopedSaferLevel level(processes, opened);
    if (processes.SaferComputeTokenFromLevel(level.get(),
                                             /*in_access_token=*/platform::kNullHandle, &made,
                                             /*flags=*/0)) {
      token.reset(made);
    }
  }
  platform::Sid user;
  if (token && !processes.GetTokenUser(token.get(), &user)) token.reset();
  if (!token && processes.CreateRestrictedToken(platform::kDisableMaxPrivilege,
                                                platform::kAdministratorsSid, &made)) {
    token.reset(made);
  }
  return token;
}

// Lowers `token` to the medium integrity level, where a standard user's
// programs run, where the system has levels: made from the setup's, it has
// the setup's high level, and a program at that level may still drive the
// windows of elevated ones. Returns why it could not, or the empty text.
std::string LowerToMediumLevel(platform::Processes& processes, platform::Handle token) {
  uint32_t level = 0;
  bool at_most_medium = false;
  if (processes.GetTokenIntegrityLevel(token, &level)) {
    at_most_medium = level <= platform::kSecurityMandatoryMediumRid ||
                     processes.SetTokenIntegrityLevel(token, platform::kSecurityMandatoryMediumRid);
  } else {
    // Windows XP has no levels: it does not know the question, and a token
    // there is a normal user's without one. Any other failure to answer is
    // a system with levels.
    at_most_medium = processes.GetLastError() == platform::kErrorInvalidParameter;
  }
  if (at_most_medium) return {};
  return "its integrity level could not be lowered to medium (error " +
         std::to_string(processes.GetLastError()) + ").";
}

// Starts `file` in InstallDir with the rights of a normal user
// (NormalUserToken), with the error mode the setup was started with. Returns
// why nothing started, or the empty text after a start.
std::string StartAsNormalUser(Services& s, const std::string& file) {
  platform::Processes& processes = s.os.processes;
  const platform::ScopedProcessHandle token = NormalUserToken(processes);
  if (!token) return "no normal user's rights could be made for it.";
  if (std::string why = LowerToMediumLevel(processes, token.get()); !why.empty()) return why;
  const std::string command_line = "\"" + file + "\"";
  platform::StartupInfo startup;
  startup.flags = platform::kStartfUseShowWindow;
  startup.show_window = platform::kSwShowNormal;
  platform::ProcessInformation process;
  platform::ScopedProcessInformation owned(processes);
  bool started = false;
  uint32_t error = platform::kErrorSuccess;
  {
    // The error mode the process was started with, while the setup starts a
    // program itself, so that the program does not inherit the setup's own
    // (no "No disk" box); the setup's comes back after.
    const uint32_t ours = s.os.system.SetErrorMode(s.ctx.InheritedErrorMode);
    const platform::ScopeExit restore([&] { s.os.system.SetErrorMode(ours); });
    started = processes.CreateProcessAsUserA(token.get(), file, command_line,
                                             /*creation_flags=*/0, InstallFolderPath(s.ctx),
                                             startup, &process);
    if (started) {
      owned.Own(process);
    } else {
      error = processes.GetLastError();
    }
  }
  if (!started) {
    return "its start with a normal user's rights failed with error " + std::to_string(error) + ".";
  }
  return {};
}

}  // namespace

bool IsApplicationRunning(Services& s) {
  platform::AppLink& link = s.os.app_link;
  // The probe's handle goes on every way out, so the setup never keeps
  // Lexoria's marker (or a marker of its own) alive.
  const platform::ScopedMapping mapping(
      link, link.CreateFileMappingA(platform::kInvalidHandleValue, platform::kPageReadwrite,
                                    kMarkerSizeHigh, kMarkerSizeLow, s.ctx.RunningMarkerName));
  // Read at once: the owner's construction calls nothing, but any later
  // call could overwrite the last error. A refused creation means the name
  // exists: a Lexoria of another user (the standard user whose session an
  // administrator's password elevated) holds a marker that denies us.
  const uint32_t error = link.GetLastError();
  return error == platform::kErrorAlreadyExists ||
         (!mapping && error == platform::kErrorAccessDenied);
}

bool CloseRunningApplication(Services& s) {
  const platform::HWnd window = FindMainWindow(s);
  if (window == platform::kNullHandle) return false;
  // Asynchronous: the update goes on at once, and only the replacement of a
  // file Lexoria still holds waits for it to let go.
  s.os.app_link.PostMessageA(window, platform::kWmQuit, /*wparam=*/0, /*lparam=*/0);
  return true;
}

void LaunchApplication(Services& s) {
  platform::Processes& processes = s.os.processes;
  // Lexoria looks for its own files relative to the current directory.
  const std::string& folder = InstallFolderPath(s.ctx);
  processes.SetCurrentDirectoryA(folder);
  const std::string file = folder + s.ctx.ProductShortName + ".exe";
  // Started by the desktop shell, Lexoria runs as the logged-on user, not
  // with the setup's administrator rights (nor as the administrator whose
  // password a standard user typed). The shell's process has a current
  // directory of its own, so InstallDir is named to it.
  if (s.os.app_link.GetShellWindow() != platform::kNullHandle &&
      StartThroughDesktopShell(s, file)) {
    return;
  }
  // No desktop shell to ask: the setup starts Lexoria itself, from a folder
  // standard users may be able to write into. As the system account that
  // would be a Lexoria running as the system.
  if (s.ctx.SystemAccount) {
    s.ctx.Record.AddNote(
        "Lexoria was not started: the setup runs as the system account and no desktop shell "
        "started it as its user.");
    return;
  }
  // As another user than the session's (an administrator's password typed
  // for a standard user), it would run with that administrator's rights in
  // the standard user's session. Even as the session's own user it gets a
  // normal user's rights only, not the setup's.
  std::string why;
  switch (CompareWithSessionUser(s)) {
    case SessionUser::kSame:
      why = StartAsNormalUser(s, file);
      break;
    case SessionUser::kOther:
      why = "the setup's user is not the user logged on to this session.";
      break;
    case SessionUser::kUnknown:
      why = "the user logged on to this session could not be told.";
      break;
  }
  if (!why.empty()) {
    s.ctx.Record.AddNote("Lexoria was not started: the desktop shell could not start it, and " +
                         why);
  }
}

void LaunchAndActivateApplication(Services& s) {
  // Started on a desktop nobody sees, Lexoria would run there unseen, and as
  // a management tool's service account.
  if (s.ctx.Unattended) {
    s.ctx.Record.AddNote("Lexoria was not started: nobody can see this run's desktop.");
    return;
  }
  LaunchApplication(s);

  // The marker comes first in Lexoria's start-up; without it there is no
  // point in waiting for a window (the start most likely failed).
  bool marker_found = false;
  for (int look = 0; look < kMarkerPollLimit && !marker_found; ++look) {
    s.os.clock.Sleep(kMarkerPollInterval);
    marker_found = IsApplicationRunning(s);
  }
  if (!marker_found) return;

  platform::HWnd window = platform::kNullHandle;
  for (int look = 0; look < kWindowPollLimit && window == platform::kNullHandle; ++look) {
    s.os.clock.Sleep(kWindowPollInterval);
    window = FindMainWindow(s);
  }
  if (window == platform::kNullHandle) return;

  s.os.app_link.ShowWindow(window, platform::kSwShowNormal);
  s.os.app_link.SetForegroundWindow(window);
}

}  // namespace lexoria
