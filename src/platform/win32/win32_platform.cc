#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

Win32Platform::Win32Platform()
    : files_(MakeFileSystem()),
      registry_(MakeRegistry()),
      dialogs_(MakeDialogs()),
      resources_(MakeResources()),
      clock_(MakeClock()),
      system_(MakeSystemInfo()),
      processes_(MakeProcesses()),
      app_link_(MakeAppLink()),
      versions_(MakeVersionApi()),
      gui_(MakeGui()),
      event_log_(MakeEventLog()),
      restart_manager_(MakeRestartManager()),
      platform_{*files_,     *registry_, *dialogs_,  *resources_, *clock_,     *system_,
                *processes_, *app_link_, *versions_, *gui_,       *event_log_, *restart_manager_} {}

}  // namespace lexoria::platform::win32
