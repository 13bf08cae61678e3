// The Restart Manager: the holders a test names, every session ended.
#ifndef LEXORIA_TESTS_FAKES_FAKE_RESTART_MANAGER_H_
#define LEXORIA_TESTS_FAKES_FAKE_RESTART_MANAGER_H_

#include <string>
#include <vector>

#include "platform/restart_manager.h"

namespace lexoria::testing {

class FakeRestartManager final : public platform::RestartManager {
 public:
  // What RmGetList lists; `present` false: no rstrtmgr.dll (Windows XP).
  std::vector<platform::RmProcessInfo> holders;
  bool present = true;
  std::vector<std::u16string> registered;  // every file registered
  int open_sessions = 0;

  uint32_t RmStartSession(uint32_t* session) override {
    if (!present) return platform::kErrorCallNotImplemented;
    *session = 7;
    ++open_sessions;
    return platform::kErrorSuccess;
  }
  uint32_t RmRegisterResources(uint32_t, const std::vector<std::u16string>& files) override {
    registered.insert(registered.end(), files.begin(), files.end());
    return platform::kErrorSuccess;
  }
  uint32_t RmGetList(uint32_t, std::vector<platform::RmProcessInfo>* processes,
                     uint32_t* reboot_reasons) override {
    *processes = holders;
    *reboot_reasons = 0;
    return platform::kErrorSuccess;
  }
  uint32_t RmEndSession(uint32_t) override {
    --open_sessions;
    return platform::kErrorSuccess;
  }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_RESTART_MANAGER_H_
