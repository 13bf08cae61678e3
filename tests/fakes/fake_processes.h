// Process start and shell services, recorded.
#ifndef LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
#define LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_

#include <string>
#include <vector>

#include "platform/processes.h"

namespace lexoria::testing {

class FakeProcesses final : public platform::Processes {
 public:
  bool is_admin = true;
  std::vector<std::string> shell_executed;  // files opened through the shell
  std::vector<std::string> current_directories;

  bool IsUserAnAdmin() override { return is_admin; }
  uintptr_t ShellExecuteA(platform::HWnd, const std::string&, const std::string& file,
                          const std::string&, const std::string&, int) override {
    shell_executed.push_back(file);
    return 42;
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    current_directories.push_back(path);
    return true;
  }
  bool CreateProcessA(const std::string&, uint32_t, const platform::StartupInfo&,
                      platform::ProcessInformation*) override {
    return false;
  }
  uint32_t WaitForSingleObject(platform::Handle, uint32_t) override { return 0; }
  bool CloseHandle(platform::Handle) override { return true; }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
