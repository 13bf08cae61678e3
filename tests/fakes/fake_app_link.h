// Other programs' marker mappings and windows, staged by the test.
#ifndef LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_
#define LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_

#include <set>
#include <string>

#include "platform/app_link.h"

namespace lexoria::testing {

class FakeAppLink final : public platform::AppLink {
 public:
  std::set<std::string> mappings;  // names of mappings another process holds

  platform::Handle CreateFileMappingA(platform::Handle, uint32_t, uint32_t, uint32_t,
                                      const std::string& name) override {
    last_error_ = mappings.count(name) ? platform::kErrorAlreadyExists : platform::kErrorSuccess;
    return 0x500;
  }
  uint32_t GetLastError() override { return last_error_; }
  bool CloseHandle(platform::Handle) override { return true; }
  platform::HWnd FindWindowA(const std::string&, const char*) override { return 0; }
  bool PostMessageA(platform::HWnd, uint32_t, uintptr_t, intptr_t) override { return false; }
  bool ShowWindow(platform::HWnd, int) override { return false; }
  bool SetForegroundWindow(platform::HWnd) override { return false; }

 private:
  uint32_t last_error_ = 0;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_
