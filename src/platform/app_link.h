// What the setup uses to meet another running program: named file mappings
// and top-level windows (kernel32, user32).
#ifndef LEXORIA_PLATFORM_APP_LINK_H_
#define LEXORIA_PLATFORM_APP_LINK_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

inline constexpr uint32_t kPageReadwrite = 0x04;
inline constexpr uint32_t kWmQuit = 0x0012;

class AppLink {
 public:
  virtual ~AppLink() = default;
  // A mapping backed by the paging file (file handle INVALID_HANDLE_VALUE),
  // no security attributes. Returns kNullHandle on failure; GetLastError()
  // is kErrorAlreadyExists when a mapping of that name existed before.
  virtual Handle CreateFileMappingA(Handle file, uint32_t protect, uint32_t maximum_size_high,
                                    uint32_t maximum_size_low, const std::string& name) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // `window_name` null matches any title.
  virtual HWnd FindWindowA(const std::string& class_name, const char* window_name) = 0;
  virtual bool PostMessageA(HWnd window, uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
  virtual bool ShowWindow(HWnd window, int show_command) = 0;
  virtual bool SetForegroundWindow(HWnd window) = 0;
  // The desktop window of the shell serving this session (GetShellWindow);
  // kNullHandle when the desktop has no shell (none runs, or one that does
  // not register its desktop, such as a kiosk shell).
  virtual HWnd GetShellWindow() = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_APP_LINK_H_
