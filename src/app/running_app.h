// The running Lexoria: detect it by its marker mapping, ask it to quit, start
// it and bring its main window to the front.
//
// Lexoria is another program: the setup knows it only by the mapping
// RunningMarkerName it holds while it runs, its top-level window of class
// MainWindowClass (which ends it on WM_QUIT) and its executable InstallDir +
// ProductShortName + ".exe". Nothing here reports to the user and no failure
// stops the update. Main thread only; every operation blocks its caller.
#ifndef LEXORIA_APP_RUNNING_APP_H_
#define LEXORIA_APP_RUNNING_APP_H_

#include "base/services.h"

namespace lexoria {

// True when a mapping named RunningMarkerName already exists (the probe's
// CreateFileMappingA of a 64-byte paging-file mapping reports
// ERROR_ALREADY_EXISTS); false otherwise, a failed creation included. The
// probe's handle is closed before it returns, so a probe that answers false
// leaves no mapping behind.
bool IsApplicationRunning(Services& s);

// Posts WM_QUIT (both parameters 0) to the top-level window of class
// MainWindowClass that FindWindowA returns, if there is one; does not wait
// and does not check that Lexoria ended.
void CloseRunningApplication(Services& s);

// Makes InstallDir the process's current directory (for the rest of the run)
// and asks the shell to open InstallDir + ProductShortName + ".exe" with
// SW_SHOWNORMAL. Results of both calls are ignored.
void LaunchApplication(Services& s);

// LaunchApplication, then up to 8 looks for the marker, each after a 512 ms
// pause, then up to 11 looks for the main window, each after a 1024 ms pause;
// a found window is shown with SW_SHOWNORMAL and made the foreground window.
// Gives up silently when a wait runs out. Pauses go through the port's clock:
// at least 1536 ms before an activation, at most 15360 ms in all.
void LaunchAndActivateApplication(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUNNING_APP_H_
