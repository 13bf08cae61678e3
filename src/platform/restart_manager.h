// The Restart Manager (rstrtmgr.dll, Windows Vista and later): which
// processes, in any session, hold a file. The setup only asks; it never has
// a program shut down through it.
#ifndef LEXORIA_PLATFORM_RESTART_MANAGER_H_
#define LEXORIA_PLATFORM_RESTART_MANAGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace lexoria::platform {

// The parts of RM_PROCESS_INFO the setup reads.
struct RmProcessInfo {
  uint32_t process_id = 0;  // Process.dwProcessId
  std::u16string app_name;  // strAppName: the program's name as it shows it
  uint32_t session_id = 0;  // TSSessionId
};

// Every call returns the Win32 error code of the call it stands for
// (kErrorSuccess on success), or kErrorCallNotImplemented where the system
// has no Restart Manager (Windows XP: no rstrtmgr.dll).
class RestartManager {
 public:
  virtual ~RestartManager() = default;
  // RmStartSession: a session of the caller's own.
  virtual uint32_t RmStartSession(uint32_t* session) = 0;
  // RmRegisterResources with files only (full paths).
  virtual uint32_t RmRegisterResources(uint32_t session,
                                       const std::vector<std::u16string>& files) = 0;
  // RmGetList, asked for the count and then for the list: the processes that
  // hold the registered files, and why a restart would be needed
  // (lpdwRebootReasons, RmRebootReason* bits).
  virtual uint32_t RmGetList(uint32_t session, std::vector<RmProcessInfo>* processes,
                             uint32_t* reboot_reasons) = 0;
  virtual uint32_t RmEndSession(uint32_t session) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_RESTART_MANAGER_H_
