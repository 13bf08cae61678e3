#include "app/running_app.h"

namespace lexoria {

// Placeholders until the running-application operations land.
bool IsApplicationRunning(Services&) { return false; }
void CloseRunningApplication(Services&) {}
void LaunchApplication(Services&) {}
void LaunchAndActivateApplication(Services&) {}

}  // namespace lexoria
