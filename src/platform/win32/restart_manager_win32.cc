// The Restart Manager (rstrtmgr.dll), loaded from the system directory by
// its full path when a held file is to be explained; absent on Windows XP.
#include <windows.h>
// windows.h first: the Restart Manager's header builds on its types.
#include <restartmanager.h>

#include <memory>
#include <new>
#include <vector>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"

namespace lexoria::platform::win32 {

namespace {

struct RmFunctions {
  decltype(&::RmStartSession) start_session = nullptr;
  decltype(&::RmRegisterResources) register_resources = nullptr;
  decltype(&::RmGetList) get_list = nullptr;
  decltype(&::RmEndSession) end_session = nullptr;

  // True when every function was found; the library stays loaded.
  bool Load() {
    start_session = SystemFunction<decltype(start_session)>("rstrtmgr.dll", "RmStartSession");
    register_resources =
        SystemFunction<decltype(register_resources)>("rstrtmgr.dll", "RmRegisterResources");
    get_list = SystemFunction<decltype(get_list)>("rstrtmgr.dll", "RmGetList");
    end_session = SystemFunction<decltype(end_session)>("rstrtmgr.dll", "RmEndSession");
    return start_session && register_resources && get_list && end_session;
  }
};

class Win32RestartManager final : public RestartManager {
 public:
  uint32_t RmStartSession(uint32_t* session) override {
    if (!Loaded()) return ERROR_CALL_NOT_IMPLEMENTED;
    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    const DWORD error = rm_.start_session(&handle, /*dwSessionFlags=*/0, key);
    *session = handle;
    return error;
  }
  uint32_t RmRegisterResources(uint32_t session,
                               const std::vector<std::u16string>& files) override {
    if (!Loaded()) return ERROR_CALL_NOT_IMPLEMENTED;
    std::vector<LPCWSTR> names;
    for (const std::u16string& file : files) {
      names.push_back(reinterpret_cast<LPCWSTR>(file.c_str()));
    }
    return rm_.register_resources(session, static_cast<UINT>(names.size()), names.data(),
                                  /*nApplications=*/0, /*rgApplications=*/nullptr,
                                  /*nServices=*/0, /*rgsServiceNames=*/nullptr);
  }
  uint32_t RmGetList(uint32_t session, std::vector<RmProcessInfo>* processes,
                     uint32_t* reboot_reasons) override {
    if (!Loaded()) return ERROR_CALL_NOT_IMPLEMENTED;
    processes->clear();
    // Asked for the count, then for the list; a process that takes the
    // file between the two calls makes the second fail, and nobody is named.
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    DWORD error = rm_.get_list(session, &needed, &count, /*rgAffectedApps=*/nullptr, &reasons);
    std::unique_ptr<RM_PROCESS_INFO[]> found;
    if (error == ERROR_MORE_DATA) {
      count = needed;
      found.reset(new (std::nothrow) RM_PROCESS_INFO[count]);
      if (!found) return ERROR_NOT_ENOUGH_MEMORY;
      error = rm_.get_list(session, &needed, &count, found.get(), &reasons);
    }
    *reboot_reasons = reasons;
    if (error != ERROR_SUCCESS) return error;
    for (UINT i = 0; found && i < count; ++i) {
      const RM_PROCESS_INFO& info = found[i];
      RmProcessInfo process;
      process.process_id = info.Process.dwProcessId;
      process.app_name = reinterpret_cast<const char16_t*>(info.strAppName);
      process.session_id = info.TSSessionId;
      processes->push_back(process);
    }
    return ERROR_SUCCESS;
  }
  uint32_t RmEndSession(uint32_t session) override {
    if (!Loaded()) return ERROR_CALL_NOT_IMPLEMENTED;
    return rm_.end_session(session);
  }

 private:
  bool Loaded() {
    if (!tried_) loaded_ = rm_.Load(), tried_ = true;
    return loaded_;
  }

  RmFunctions rm_;
  bool tried_ = false;
  bool loaded_ = false;
};

}  // namespace

std::unique_ptr<RestartManager> MakeRestartManager() {
  return std::make_unique<Win32RestartManager>();
}

}  // namespace lexoria::platform::win32
