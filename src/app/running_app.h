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

// True when a mapping named RunningMarkerName already exists: the probe's
// CreateFileMappingA of a 64-byte paging-file mapping reports
// ERROR_ALREADY_EXISTS, or fails with ERROR_ACCESS_DENIED (a name that does
// not exist can always be created in one's own session, so a refusal means
// that a Lexoria of another user, such as the standard user of an elevation
// by another account's password, holds it). False otherwise, any other
// failure included. The probe's handle is closed before it returns, so a
// probe that answers false leaves no mapping behind.
bool IsApplicationRunning(Services& s);

// Posts WM_QUIT (both parameters 0) to the top-level window of class
// MainWindowClass that FindWindowA returns, if there is one; does not wait
// and does not check that Lexoria ended. True when such a window was found:
// a Lexoria was asked to quit (or was already closing its window) and may
// still hold its files for a while.
bool CloseRunningApplication(Services& s);

// Makes Lexoria's folder (the path of ctx.InstallFolder, the folder the run
// holds; InstallDir before it took one) the process's current directory
// (for the rest of the run) and starts that folder + ProductShortName +
// ".exe" with SW_SHOWNORMAL, so
// that it runs as the logged-on user: through the desktop shell, on a worker
// thread with its own COM apartment, waited for at most 15 seconds. A shell
// that takes the start, fails in its own start call or does not answer in
// time gets no second start. Only when the desktop has no shell window, or
// the start never reached the shell's start call (no worker thread, no shell
// to ask), does the setup start it itself: only when its token's user is the
// user logged on to its session (WTSUserName and WTSDomainName of the
// session, looked up as a SID), and then with CreateProcessAsUserA, a token
// of the Safer level "Normal User" computed from its own and lowered to the
// medium integrity level (where the system has levels), the folder as the
// directory and the error mode the setup was started with. As the system
// account, as another user, when a fact of that check cannot be read, or
// when the token cannot be made or lowered or the start fails, it starts
// nothing and says why in ctx.Record. Reports nothing.
void LaunchApplication(Services& s);

// In an unattended run nothing: Lexoria is not started on a desktop nobody
// sees (noted in ctx.Record). Otherwise LaunchApplication, then up to 8 looks
// for the marker, each after a 512 ms pause, then up to 11 looks for the main
// window, each after a 1024 ms pause; a found window is shown with
// SW_SHOWNORMAL and made the foreground window. Gives up silently when a wait
// runs out. Pauses go through the port's clock:
// at least 1536 ms before an activation, at most 15360 ms in all (after
// the launch itself, which may take up to 15 s with a hung shell).
void LaunchAndActivateApplication(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUNNING_APP_H_
