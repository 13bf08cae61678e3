// The running Lexoria: detect it by its marker mapping, ask it to quit, start
// it and bring its main window to the front.
#ifndef LEXORIA_APP_RUNNING_APP_H_
#define LEXORIA_APP_RUNNING_APP_H_

#include "app/services.h"

namespace lexoria {

// True when the mapping RunningMarkerName exists; holds no handle afterwards.
bool IsApplicationRunning(Services& s);
// Posts WM_QUIT to the top-level window of class MainWindowClass, if any; does
// not wait.
void CloseRunningApplication(Services& s);
// Starts InstallDir + ProductShortName + ".exe" through the shell, with
// InstallDir as the current directory; reports nothing.
void LaunchApplication(Services& s);
// Starts Lexoria, waits for its marker and its window (through the port's
// clock) and brings the window to the front; gives up silently.
void LaunchAndActivateApplication(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUNNING_APP_H_
