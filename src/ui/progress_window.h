// TSetupForm: the progress window, on a thread of its own.
#ifndef LEXORIA_UI_PROGRESS_WINDOW_H_
#define LEXORIA_UI_PROGRESS_WINDOW_H_

#include <string>

#include "platform/platform.h"

namespace lexoria {

// The one progress window of the process. Its operations are called from the
// main thread only.
class ProgressWindow {
 public:
  explicit ProgressWindow(platform::Platform& os) : os_(os) {}
  void ShowProgressWindow(const std::string& caption, const std::string& label);
  void HideProgressWindow();

 private:
  platform::Platform& os_;
};

}  // namespace lexoria

#endif  // LEXORIA_UI_PROGRESS_WINDOW_H_
