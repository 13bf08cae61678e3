// Process start and shell services (kernel32, shell32).
#include <windows.h>
// windows.h first: the shell headers build on its types.
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32Processes final : public Processes {
 public:
  bool IsUserAnAdmin() override { return ::IsUserAnAdmin() != FALSE; }
  uintptr_t ShellExecuteA(HWnd owner, const std::string& operation, const std::string& file,
                          const std::string& parameters, const std::string& directory,
                          int show_command) override {
    return reinterpret_cast<uintptr_t>(
        ::ShellExecuteA(reinterpret_cast<HWND>(owner), operation.c_str(), file.c_str(),
                        parameters.c_str(), directory.c_str(), show_command));
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
  }
  bool CreateProcessA(const std::string& application, const std::string& command_line,
                      uint32_t creation_flags, const StartupInfo& startup,
                      ProcessInformation* info) override {
    STARTUPINFOA si;
    ::ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = startup.flags;
    si.wShowWindow = startup.show_window;
    PROCESS_INFORMATION pi;
    ::ZeroMemory(&pi, sizeof(pi));
    // CreateProcessA may write into the command line: give it a copy.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    if (!::CreateProcessA(application.c_str(), line.data(),
                          /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                          /*bInheritHandles=*/FALSE, creation_flags, /*lpEnvironment=*/nullptr,
                          /*lpCurrentDirectory=*/nullptr, &si, &pi)) {
      return false;
    }
    info->process = reinterpret_cast<Handle>(pi.hProcess);
    info->thread = reinterpret_cast<Handle>(pi.hThread);
    return true;
  }
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
  }
  bool TerminateProcess(Handle process, uint32_t exit_code) override {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exit_code) != FALSE;
  }
  bool CloseHandle(Handle handle) override {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<Processes> MakeProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace lexoria::platform::win32
