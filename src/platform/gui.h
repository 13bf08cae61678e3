// Windows of the setup's own: the window class, window creation and message
// loop of the progress window's thread (user32, comctl32, gdi32, kernel32).
#ifndef LEXORIA_PLATFORM_GUI_H_
#define LEXORIA_PLATFORM_GUI_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

class Gui {
 public:
  virtual ~Gui() = default;
  virtual int GetSystemMetrics(int index) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_GUI_H_
