// SetupContext: the process-wide record of names, paths and flags of one run
// of the setup. One instance, owned by the program entry, read and written on
// the main thread only.
#ifndef LEXORIA_BASE_SETUP_CONTEXT_H_
#define LEXORIA_BASE_SETUP_CONTEXT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/command_line_options.h"
#include "base/run_record.h"

namespace lexoria {

// The registry accessor lives in system/, above this foundation; the context
// only owns one. Its deleter is defined beside TRegistry, so that nothing
// here needs the class itself.
class TRegistry;
struct TRegistryDeleter {
  TRegistryDeleter() = default;
  // Lets a std::unique_ptr<TRegistry> (std::make_unique) be moved in.
  TRegistryDeleter(std::default_delete<TRegistry>) {}  // NOLINT: implicit on purpose
  void operator()(TRegistry* registry) const;
};

// Lexoria's folder as the run holds it (install/), owned here alike.
class PinnedFolder;
struct PinnedFolderDeleter {
  void operator()(PinnedFolder* folder) const;
};

// The lock against a second run (app/), owned here alike.
class RunLock;
struct RunLockDeleter {
  void operator()(RunLock* lock) const;
};

struct SetupContext {
  // Package configuration.
  std::string PackageTitle;
  std::string PackageName;
  int32_t PackageVersion = 0;
  std::string PackageType = "pak";
  std::string PackageVersionText;
  std::string PackageFullTitle;
  std::string ProductShortName;
  std::string UpdateTitleRu;
  std::string UpdateTitleEn;
  std::string MainWindowClass = "TLXMainForm";
  std::string RunningMarkerName = "lexoria_memfile";
  bool QuietMode = false;

  // Installation environment.
  std::string SystemDir;
  std::string WindowsDir;
  std::string TempDir;
  std::string CommonDesktopDir;
  std::string CommonProgramsDir;
  std::string UserProgramsDir;
  std::string UserDesktopDir;
  std::string StartupDir;
  std::string UninstallKeyRoot;
  std::string VendorKeyPath;
  std::string CommonGroupDir;
  std::string CommonGroupDirAlt;
  std::string UserGroupDirRu;
  std::string UserGroupDirEn;
  std::string InstallDir;
  std::string Wow64UninstallKey;
  bool IsAdmin = false;
  // InstallDir as the run holds it, from the check of the installation to
  // the end of the run: every access into the folder goes under its path.
  // Null before that check, and where the folder could not be taken.
  std::unique_ptr<PinnedFolder, PinnedFolderDeleter> InstallFolder;

  // Start-up settings.
  bool RussianUi = false;
  bool Is64BitWindows = false;
  std::string FirstArgument;
  // The switches and arguments of the command line (ParseCommandLine).
  CommandLineOptions Options;
  std::unique_ptr<TRegistry, TRegistryDeleter> SharedRegistry;
  // Nobody can see or answer a box of this run (a window station that is not
  // visible, or session 0): every box takes its answer without being shown.
  bool Unattended = false;
  // The setup runs as the system account (a management tool's service).
  bool SystemAccount = false;
  // The error mode the process was started with, for the programs it starts.
  uint32_t InheritedErrorMode = 0;

  // The lock against another run, from the administrator test to the end of
  // the run; null before.
  std::unique_ptr<RunLock, RunLockDeleter> Lock;

  // What the run showed and left undone, for its event-log record.
  RunRecord Record;

  // Language files.
  int32_t LanguageIndex = -1;
  int32_t MessageLanguageId = -1;
};

// Appends a backslash to a non-empty text that does not end in one; an empty
// text stays empty.
void EnsureTrailingBackslash(std::string& path);

}  // namespace lexoria

#endif  // LEXORIA_BASE_SETUP_CONTEXT_H_
