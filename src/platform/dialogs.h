// Message boxes (user32).
#ifndef LEXORIA_PLATFORM_DIALOGS_H_
#define LEXORIA_PLATFORM_DIALOGS_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbIconStop = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbTaskModal = 0x2000;
inline constexpr uint32_t kMbTopmost = 0x00040000;
inline constexpr uint32_t kMbServiceNotification = 0x00200000;

inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Texts are UTF-16, as WCHAR holds them, and show as they are on a system of
// any code page. Both calls block until the box is closed and return the
// button pressed, or 0 when the box could not be shown. MessageBoxExW's
// `language_id` picks the language of the box's own buttons.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual int MessageBoxW(HWnd owner, const std::u16string& text, const std::u16string& caption,
                          uint32_t type) = 0;
  virtual int MessageBoxExW(HWnd owner, const std::u16string& text, const std::u16string& caption,
                            uint32_t type, uint16_t language_id) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_DIALOGS_H_
