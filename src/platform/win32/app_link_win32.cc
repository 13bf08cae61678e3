// Named file mappings and other programs' windows (kernel32, user32).
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32AppLink final : public AppLink {
 public:
  Handle CreateFileMappingA(Handle file, uint32_t protect, uint32_t maximum_size_high,
                            uint32_t maximum_size_low, const std::string& name) override {
    return reinterpret_cast<Handle>(
        ::CreateFileMappingA(reinterpret_cast<HANDLE>(file), /*lpFileMappingAttributes=*/nullptr,
                             protect, maximum_size_high, maximum_size_low, name.c_str()));
  }
  uint32_t GetLastError() override { return ::GetLastError(); }
  bool CloseHandle(Handle handle) override {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
  }
  HWnd FindWindowA(const std::string& class_name, const char* window_name) override {
    return reinterpret_cast<HWnd>(::FindWindowA(class_name.c_str(), window_name));
  }
  bool PostMessageA(HWnd window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return ::PostMessageA(reinterpret_cast<HWND>(window), message, wparam, lparam) != FALSE;
  }
  bool ShowWindow(HWnd window, int show_command) override {
    return ::ShowWindow(reinterpret_cast<HWND>(window), show_command) != FALSE;
  }
  bool SetForegroundWindow(HWnd window) override {
    return ::SetForegroundWindow(reinterpret_cast<HWND>(window)) != FALSE;
  }
  HWnd GetShellWindow() override { return reinterpret_cast<HWnd>(::GetShellWindow()); }
};

}  // namespace

std::unique_ptr<AppLink> MakeAppLink() { return std::make_unique<Win32AppLink>(); }

}  // namespace lexoria::platform::win32
