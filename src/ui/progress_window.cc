#include "ui/progress_window.h"

namespace lexoria {

// Placeholder until the window thread lands: the flow never shows the window
// before an older-version question.
void ProgressWindow::ShowProgressWindow(const std::string&, const std::string&) {}
void ProgressWindow::HideProgressWindow() {}

}  // namespace lexoria
