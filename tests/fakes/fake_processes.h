// Process start and shell services, recorded, with the results set by the
// test and hooks that let a started program "come up" in the other fakes.
#ifndef LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
#define LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_

#include <cstdint>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace lexoria::testing {

class FakeProcesses final : public platform::Processes {
 public:
  struct ShellExecuteCall {
    platform::HWnd owner;
    std::string operation;
    std::string file;
    std::string parameters;
    std::string directory;
    int show_command;
    std::string current_directory;  // the process's current directory then
    bool on_desktop;                // through ShellExecuteOnDesktop (no owner)
  };
  struct CreateProcessCall {
    std::string application;
    std::string command_line;
    uint32_t creation_flags;
    platform::StartupInfo startup;
  };
  struct WaitCall {
    platform::Handle handle;
    uint32_t milliseconds;
  };

  bool is_admin = true;
  bool is_local_system = false;

  // The shell: the result ShellExecuteA returns (above 32 is success; 2 is
  // "file not found"; by either path the file starts only when above 32) and
  // a hook run after each successful start. Whether a desktop shell answers
  // ShellExecuteOnDesktop; every call of either kind is recorded, a refused
  // desktop call included. Only kStarted starts the file.
  uintptr_t shell_execute_result = 42;
  platform::DesktopShellResult desktop_shell = platform::DesktopShellResult::kStarted;
  bool desktop_shell_throws = false;  // the call raises before the shell's start
  std::function<void(const ShellExecuteCall&)> on_shell_execute;
  std::vector<ShellExecuteCall> shell_calls;
  std::vector<std::string> shell_executed;  // the files some shell took

  // The current directory, and every SetCurrentDirectoryA argument.
  std::string current_directory = "C:\\Users\\u\\Downloads";
  bool set_current_directory_fails = false;
  std::vector<std::string> current_directories;

  // CreateProcessA fails unless `process_starts` is set; then the hook runs
  // (to stage what the process does) and two handles are handed out.
  bool process_starts = false;
  std::function<void(const CreateProcessCall&)> on_create_process;
  std::vector<CreateProcessCall> create_process_calls;
  uint32_t wait_result = platform::kWaitObject0;
  std::vector<WaitCall> waits;
  std::vector<platform::Handle> terminated;  // TerminateProcess arguments
  int bad_closes = 0;                        // CloseHandle on a handle that was not open

  size_t OpenHandles() const { return open_handles_.size(); }

  bool IsUserAnAdmin() override { return is_admin; }
  bool IsLocalSystem() override { return is_local_system; }
  uintptr_t ShellExecuteA(platform::HWnd owner, const std::string& operation,
                          const std::string& file, const std::string& parameters,
                          const std::string& directory, int show_command) override {
    shell_calls.push_back(ShellExecuteCall{owner, operation, file, parameters, directory,
                                           show_command, current_directory,
                                           /*on_desktop=*/false});
    shell_executed.push_back(file);
    if (shell_execute_result > 32 && on_shell_execute) on_shell_execute(shell_calls.back());
    return shell_execute_result;
  }
  platform::DesktopShellResult ShellExecuteOnDesktop(const std::string& operation,
                                                     const std::string& file,
                                                     const std::string& parameters,
                                                     const std::string& directory,
                                                     int show_command) override {
    shell_calls.push_back(ShellExecuteCall{platform::kNullHandle, operation, file, parameters,
                                           directory, show_command, current_directory,
                                           /*on_desktop=*/true});
    if (desktop_shell_throws) throw std::runtime_error("COM failure");
    if (desktop_shell != platform::DesktopShellResult::kStarted) return desktop_shell;
    shell_executed.push_back(file);
    if (shell_execute_result > 32 && on_shell_execute) on_shell_execute(shell_calls.back());
    return desktop_shell;
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    current_directories.push_back(path);
    if (set_current_directory_fails) return false;
    current_directory = path;
    return true;
  }
  bool CreateProcessA(const std::string& application, const std::string& command_line,
                      uint32_t creation_flags, const platform::StartupInfo& startup,
                      platform::ProcessInformation* info) override {
    create_process_calls.push_back(
        CreateProcessCall{application, command_line, creation_flags, startup});
    if (!process_starts) return false;
    info->process = next_handle_++;
    info->thread = next_handle_++;
    open_handles_.insert(info->process);
    open_handles_.insert(info->thread);
    if (on_create_process) on_create_process(create_process_calls.back());
    return true;
  }
  uint32_t WaitForSingleObject(platform::Handle handle, uint32_t milliseconds) override {
    waits.push_back(WaitCall{handle, milliseconds});
    return wait_result;
  }
  bool TerminateProcess(platform::Handle process, uint32_t /*exit_code*/) override {
    terminated.push_back(process);
    return open_handles_.count(process) != 0;
  }
  bool CloseHandle(platform::Handle handle) override {
    if (open_handles_.erase(handle) == 0) {
      ++bad_closes;
      return false;
    }
    return true;
  }

 private:
  platform::Handle next_handle_ = 0x700;
  std::set<platform::Handle> open_handles_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
