// user32 message boxes.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32Dialogs final : public Dialogs {
 public:
  int MessageBoxA(HWnd owner, const std::string& text, const std::string& caption,
                  uint32_t type) override {
    return ::MessageBoxA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
  }
  int MessageBoxExA(HWnd owner, const std::string& text, const std::string& caption, uint32_t type,
                    uint16_t language_id) override {
    return ::MessageBoxExA(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(), type,
                           language_id);
  }
};

}  // namespace

std::unique_ptr<Dialogs> MakeDialogs() { return std::make_unique<Win32Dialogs>(); }

}  // namespace lexoria::platform::win32
