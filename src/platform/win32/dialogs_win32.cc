// user32 message boxes.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

class Win32Dialogs final : public Dialogs {
 public:
  int MessageBoxW(HWnd owner, const std::u16string& text, const std::u16string& caption,
                  uint32_t type) override {
    return ::MessageBoxW(reinterpret_cast<HWND>(owner), Wide(text), Wide(caption), type);
  }
  int MessageBoxExW(HWnd owner, const std::u16string& text, const std::u16string& caption,
                    uint32_t type, uint16_t language_id) override {
    return ::MessageBoxExW(reinterpret_cast<HWND>(owner), Wide(text), Wide(caption), type,
                           language_id);
  }
};

}  // namespace

std::unique_ptr<Dialogs> MakeDialogs() { return std::make_unique<Win32Dialogs>(); }

}  // namespace lexoria::platform::win32
