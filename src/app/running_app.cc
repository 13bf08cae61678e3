#include "app/running_app.h"

#include <cstdint>
#include <string>

#include "platform/app_link.h"
#include "platform/processes.h"

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

// Closes the probe's mapping handle on every way out of the probe, so the
// setup never keeps Lexoria's marker (or a marker of its own) alive.
class MappingCloser {
 public:
  MappingCloser(platform::AppLink& link, platform::Handle mapping)
      : link_(link), mapping_(mapping) {}
  ~MappingCloser() {
    if (mapping_ != platform::kNullHandle) link_.CloseHandle(mapping_);
  }
  MappingCloser(const MappingCloser&) = delete;
  MappingCloser& operator=(const MappingCloser&) = delete;

 private:
  platform::AppLink& link_;
  platform::Handle mapping_;
};

platform::HWnd FindMainWindow(Services& s) {
  return s.os.app_link.FindWindowA(s.ctx.MainWindowClass, /*window_name=*/nullptr);
}

}  // namespace

bool IsApplicationRunning(Services& s) {
  platform::AppLink& link = s.os.app_link;
  const platform::Handle mapping =
      link.CreateFileMappingA(platform::kInvalidHandleValue, platform::kPageReadwrite,
                              kMarkerSizeHigh, kMarkerSizeLow, s.ctx.RunningMarkerName);
  MappingCloser closer(link, mapping);
  // Read at once: the closer's construction calls nothing, but any later
  // call could overwrite the last error.
  return link.GetLastError() == platform::kErrorAlreadyExists;
}

void CloseRunningApplication(Services& s) {
  const platform::HWnd window = FindMainWindow(s);
  if (window == platform::kNullHandle) return;
  // Fire and forget: the update goes on whether or not Lexoria obeys.
  s.os.app_link.PostMessageA(window, platform::kWmQuit, /*wparam=*/0, /*lparam=*/0);
}

void LaunchApplication(Services& s) {
  platform::Processes& processes = s.os.processes;
  // Lexoria looks for its own files relative to the current directory.
  processes.SetCurrentDirectoryA(s.ctx.InstallDir);
  const std::string file = s.ctx.InstallDir + s.ctx.ProductShortName + ".exe";
  // Started by the desktop shell, Lexoria runs as the logged-on user, not
  // with the setup's administrator rights (nor as the administrator whose
  // password a standard user typed). The shell's process has a current
  // directory of its own, so InstallDir is named to it.
  if (processes.ShellExecuteOnDesktop("open", file, /*parameters=*/"", s.ctx.InstallDir,
                                      platform::kSwShowNormal)) {
    return;
  }
  // No desktop shell (none running, or it did not answer): the setup starts
  // Lexoria itself, and the shell starts it in our current directory (the
  // directory argument is left empty).
  processes.ShellExecuteA(/*owner=*/platform::kNullHandle, "open", file, /*parameters=*/"",
                          /*directory=*/"", platform::kSwShowNormal);
}

void LaunchAndActivateApplication(Services& s) {
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
