// Factories of the real Win32 implementations of the port. Only the program
// entry and the Wine test helpers call these.
#ifndef LEXORIA_PLATFORM_WIN32_ADAPTERS_H_
#define LEXORIA_PLATFORM_WIN32_ADAPTERS_H_

#include <memory>

#include "platform/platform.h"

namespace lexoria::platform::win32 {

std::unique_ptr<FileSystem> MakeFileSystem();
std::unique_ptr<Registry> MakeRegistry();
std::unique_ptr<Dialogs> MakeDialogs();
std::unique_ptr<Resources> MakeResources();
std::unique_ptr<Clock> MakeClock();
std::unique_ptr<SystemInfo> MakeSystemInfo();
std::unique_ptr<Processes> MakeProcesses();
std::unique_ptr<AppLink> MakeAppLink();
std::unique_ptr<VersionApi> MakeVersionApi();
std::unique_ptr<Gui> MakeGui();
std::unique_ptr<EventLog> MakeEventLog();
std::unique_ptr<RestartManager> MakeRestartManager();

// Owns one of each and lends them out as a Platform.
class Win32Platform {
 public:
  Win32Platform();
  Platform& platform() { return platform_; }

 private:
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<Resources> resources_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<SystemInfo> system_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<AppLink> app_link_;
  std::unique_ptr<VersionApi> versions_;
  std::unique_ptr<Gui> gui_;
  std::unique_ptr<EventLog> event_log_;
  std::unique_ptr<RestartManager> restart_manager_;
  Platform platform_;
};

}  // namespace lexoria::platform::win32

#endif  // LEXORIA_PLATFORM_WIN32_ADAPTERS_H_
