// The setup's own windows (user32, comctl32). Placeholder until the progress
// window lands.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32Gui final : public Gui {
 public:
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }
};

}  // namespace

std::unique_ptr<Gui> MakeGui() { return std::make_unique<Win32Gui>(); }

}  // namespace lexoria::platform::win32
