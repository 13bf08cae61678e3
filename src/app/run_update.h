// The one pass of the update, and the program around it.
#ifndef LEXORIA_APP_RUN_UPDATE_H_
#define LEXORIA_APP_RUN_UPDATE_H_

#include <cstdint>
#include <string>

#include "base/services.h"
#include "platform/platform.h"

namespace lexoria {

// The package this setup carries, fixed at build time.
struct PackageConfig {
  std::string title;  // PackageTitle
  std::string name;   // PackageName: resource name and installed base name
  int32_t version;    // PackageVersion
};

// "Озвучка русско-английских заданий" (with its quotes) and " версии ".
std::string DefaultPackageTitle();

// How one pass of the update ended.
enum class UpdateOutcome {
  kUpdated,             // the package was written
  kScheduled,           // the package is written and replaces the installed one
                        // at the next restart (the installed one was held)
  kDeclined,            // the user said No to the confirmation
  kNewerKept,           // No to replacing a newer installed package: it stays
  kUnanswered,          // a question nobody could answer: nothing was changed
  kNotAdministrator,    // "You have no right to install applications!"
  kAnotherRun,          // "Another update of Lexoria is in progress...": nothing changed
  kSetupDamaged,        // "The setup file is damaged..."
  kNoInstallation,      // "There's no subject of update..."
  kRegistryUnreadable,  // "No access to system registry"
  kPackageNotWritten,   // "Can't install file ..." (the flow went on)
  kUncaughtFailure,     // a failure that no operation handled
  kUsage,               // the usage text, asked for (/?): nothing else done
  kInvalidCommandLine,  // an argument that is no switch of the setup: the usage
                        // text, nothing else done
};

// The process exit codes, stable for the programs that start the setup
// (README, "Exit codes").
inline constexpr int kExitUpdated = 0;  // also after the user's own No
inline constexpr int kExitUncaughtFailure = 1;
inline constexpr int kExitNotAdministrator = 2;
inline constexpr int kExitSetupDamaged = 3;
inline constexpr int kExitNoInstallation = 4;
inline constexpr int kExitRegistryUnreadable = 5;
inline constexpr int kExitPackageNotWritten = 6;
inline constexpr int kExitUnanswered = 7;
// ERROR_SUCCESS_REBOOT_REQUIRED, which management tools read as "done,
// restart pending".
inline constexpr int kExitRestartPending = 3010;
// ERROR_INSTALL_ALREADY_RUNNING: another run of the setup is in progress, and
// this one changed nothing; management tools try again later.
inline constexpr int kExitAnotherUpdateRunning = 1618;
// ERROR_INVALID_COMMAND_LINE, as msiexec ends for a switch it does not know.
inline constexpr int kExitInvalidCommandLine = 1639;

int ExitCodeFor(UpdateOutcome outcome);

// Runs the steps of the update in their fixed order; each refusal ends it
// after its message. A package that could not be written is reported and the
// flow goes on; the outcome then still says so. Failures that no operation
// handles leave as exceptions.
UpdateOutcome RunUpdate(Services& s);

// The whole program: start-up settings, the package configuration, RunUpdate
// and shut-down. Returns ExitCodeFor the outcome, or kExitUncaughtFailure
// after a failure that escaped start-up or RunUpdate (shown in a task-modal
// error box). Every run ends by leaving its record in the Application event
// log (WriteRunRecord), whatever the outcome.
int RunProgram(platform::Platform& os, const PackageConfig& config);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUN_UPDATE_H_
