#include "app/run_update.h"

#include <exception>
#include <new>
#include <type_traits>

#include "app/environment.h"
#include "app/event_log_record.h"
#include "app/running_app.h"
#include "install/extract.h"
#include "install/installed_size.h"
#include "install/pinned_folder.h"
#include "install/self_check.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "system/command_line.h"
#include "system/settings.h"
#include "ui/lang_unit.h"
#include "ui/messages.h"
#include "ui/progress_window.h"

namespace lexoria {

namespace {

constexpr char kJoinedPackageName[] = "lxq";
constexpr char kQuietArgument[] = "modest";
constexpr char kRunAppArgument[] = "runapp";

// The captions of the setup's boxes.
void SetUpdateTitles(SetupContext& ctx) {
  ctx.UpdateTitleRu = "Обновление Lexoria";
  ctx.UpdateTitleEn = "Lexoria update";
}

// Derives the names and titles the rest of the flow and every message box
// rely on; returns PackageFileName, which the flow keeps to itself.
std::string DeriveNames(SetupContext& ctx) {
  std::string package_file_name = ctx.PackageName + "." + ctx.PackageType;
  ctx.PackageVersionText = std::to_string(ctx.PackageVersion);
  ctx.ProductShortName = "Lexoria";
  SetUpdateTitles(ctx);
  ctx.PackageFullTitle = ctx.PackageTitle + ctx.PackageVersionText;
  return package_file_name;
}

// The uncaught failure's box; a failure in start-up comes before the titles
// are derived, and gets them here.
void ShowFailure(Services& s, const char* description) {
  if (s.ctx.UpdateTitleEn.empty()) SetUpdateTitles(s.ctx);
  ShowUncaughtFailure(s, description);
}

// What an outcome means to the programs that start the setup (its exit code)
// and to the administrator (how the event-log record names it, and its type:
// an error for a failure, a warning where the update did not happen although
// nothing failed, information otherwise).
struct OutcomeInfo {
  int exit_code;
  const char* text;
  uint16_t event_type;
};

OutcomeInfo DescribeOutcome(UpdateOutcome outcome) {
  constexpr uint16_t kError = platform::kEventlogErrorType;
  constexpr uint16_t kWarning = platform::kEventlogWarningType;
  constexpr uint16_t kInformation = platform::kEventlogInformationType;
  switch (outcome) {
    case UpdateOutcome::kUpdated:
      return {kExitUpdated, "the package was written", kInformation};
    case UpdateOutcome::kScheduled:
      return {kExitRestartPending,
              "the package is written and replaces the installed one at the next restart",
              kWarning};
    case UpdateOutcome::kDeclined:
      return {kExitUpdated, "the update was declined: nothing was changed", kInformation};
    case UpdateOutcome::kNewerKept:
      return {kExitUpdated, "the newer installed package was kept", kWarning};
    case UpdateOutcome::kUnanswered:
      return {kExitUnanswered, "a question nobody could answer: nothing was changed", kWarning};
    case UpdateOutcome::kNotAdministrator:
      return {kExitNotAdministrator, "no administrator rights", kError};
    case UpdateOutcome::kSetupDamaged:
      return {kExitSetupDamaged, "the setup's own file is damaged or cannot be read", kError};
    case UpdateOutcome::kNoInstallation:
      return {kExitNoInstallation, "no installation of Lexoria to update", kError};
    case UpdateOutcome::kRegistryUnreadable:
      return {kExitRegistryUnreadable, "the user's shell folders in the registry cannot be read",
              kError};
    case UpdateOutcome::kPackageNotWritten:
      return {kExitPackageNotWritten, "the package could not be written", kError};
    case UpdateOutcome::kUncaughtFailure:
      break;
  }
  return {kExitUncaughtFailure, "a failure that nothing else handled", kError};
}

}  // namespace

std::string DefaultPackageTitle() { return "\"Озвучка русско-английских заданий\" версии "; }

int ExitCodeFor(UpdateOutcome outcome) { return DescribeOutcome(outcome).exit_code; }

UpdateOutcome RunUpdate(Services& s) {
  SetupContext& ctx = s.ctx;

  // 1. Names and titles.
  const std::string package_file_name = DeriveNames(ctx);

  // 2. Where Lexoria is installed.
  if (!DiscoverEnvironment(s)) return UpdateOutcome::kRegistryUnreadable;

  // 3. Only an administrator may install.
  if (!ctx.IsAdmin) {
    ShowError(s, "You have no right to install applications!",
              "У Вас нет права устанавливать программы!");
    return UpdateOutcome::kNotAdministrator;
  }

  // 4. A running Lexoria is asked to quit; the flow does not wait for it
  // here. A Lexoria that holds the package while it closes is waited for by
  // the replacement of step 9 only. Closing it is part of what the
  // confirmation consents to: an unattended run of normal mode, which nobody
  // can confirm, leaves it alone.
  bool quit_requested = false;
  if (IsApplicationRunning(s)) {
    if (ctx.Unattended && ctx.FirstArgument != kQuietArgument) {
      ctx.Record.AddNote(
          "A running Lexoria was not asked to quit: nobody could confirm the update.");
    } else {
      quit_requested = CloseRunningApplication(s);
    }
  }

  // 5. The setup's own file must be intact before anything is written.
  if (!SetupFileIsIntact(s.os)) {
    ShowError(s, "The setup file is damaged. Please download it again.",
              "Файл установки повреждён. Пожалуйста, загрузите его заново.");
    return UpdateOutcome::kSetupDamaged;
  }

  // 6. Quiet mode.
  ctx.QuietMode = ctx.FirstArgument == kQuietArgument;

  // 7. There must be an installation to update. A directory that is no
  // absolute path would be found below the current directory of the process
  // (a Downloads folder), which holds no installation of Lexoria. The folder
  // is taken and held from here to the end of the run, so that the folder
  // checked is the folder written to (PinnedFolder); one that is there but
  // may not be trusted is written to by nobody.
  const std::string target_path = ctx.InstallDir + package_file_name;
  const auto no_installation = [&] {
    ShowError(s,
              "There's no subject of update - the Lexoria installed.\r\n"
              "Please, install the program at first.",
              "Нет предмета обновления - установленной программы Lexoria.\r\n"
              "Пожалуйста, сначала установите программу.");
    return UpdateOutcome::kNoInstallation;
  };
  if (!IsAbsolutePath(ctx.InstallDir)) return no_installation();
  try {
    ctx.InstallFolder.reset(new PinnedFolder(s.os, ctx.InstallDir));
  } catch (const FolderMissing&) {
    ctx.Record.package_before = "none";
    return no_installation();
  } catch (const FolderRefused& refused) {
    ShowError(s, "Can't install file " + target_path, "Не удается установить файл " + target_path);
    ctx.Record.notes.push_back(s.os.system.MultiByteToWideChar(
        platform::kCpAcp, std::string("The installation folder was refused: ") + refused.what()));
    return UpdateOutcome::kPackageNotWritten;
  }
  const PinnedFolder& folder = *ctx.InstallFolder;
  ctx.Record.package_before = InstalledPackageVersion(s, folder.path() + package_file_name);
  if (!folder.IsFile("Lexoria.exe")) return no_installation();

  // 8. Confirmation. Its English text and the launch offer's are the setup's
  // own words, the package title among them (code page 1251 text).
  if (!ctx.QuietMode) {
    const bool confirmed = AskQuestion(
        s,
        "Would you like to setup\r\n" + ctx.UpdateTitleEn + " -\r\n" + ctx.PackageFullTitle + "?",
        "Вы действительно хотите установить\r\n" + ctx.UpdateTitleRu + " -\r\n" +
            ctx.PackageFullTitle + "?",
        kOwnCodePage);
    // Only a No is the user's: a box nobody could answer, or one that could
    // not be shown (0), has no answer.
    const BoxRecord& box = ctx.Record.boxes.back();
    if (!confirmed) {
      return box.shown && box.answer != 0 ? UpdateOutcome::kDeclined : UpdateOutcome::kUnanswered;
    }
  }

  // 9. The package; failures are reported inside and the flow goes on. A
  // package still held by another program (a Lexoria open in another
  // session, which no quit request reaches) is replaced at the next restart
  // where nobody can be told; a person is shown the failure.
  const HeldTarget held = ctx.Unattended   ? (quit_requested ? HeldTarget::kWaitThenReplaceAtRestart
                                                             : HeldTarget::kReplaceAtRestart)
                          : quit_requested ? HeldTarget::kWaitForRelease
                                           : HeldTarget::kFail;
  int32_t version_in_place = -1;
  const WriteResult written =
      ctx.PackageName == kJoinedPackageName
          ? JoinResourcesToFile(s, folder, ctx.PackageName, ctx.PackageType, target_path,
                                &version_in_place)
          : ExtractResourceToFile(s, folder, ctx.PackageName, ctx.PackageType, target_path,
                                  /*check=*/true, held, &version_in_place);

  // 10. The new installed size, and the version the folder holds once a
  // replacement pending for the restart is done: the value a management
  // tool's detection rule looks for. A run that changed nothing there
  // leaves it as it was.
  RecordInstalledSize(s);
  if (written != WriteResult::kFailed) {
    RecordPackageVersion(s, package_file_name, version_in_place);
  }

  // 11. Start Lexoria.
  if (ctx.QuietMode) {
    const std::string second =
        LowerAsciiLetters(CommandLineArgument(s.os.system.GetCommandLineA(), 2));
    if (second == kRunAppArgument) LaunchAndActivateApplication(s);
  } else {
    const bool launch =
        AskQuestionWithCaption(s,
                               "На Ваш компьютер установлено\r\n" + ctx.UpdateTitleRu + " -\r\n" +
                                   ctx.PackageFullTitle + "\r\n\r\nЗапустить программу?",
                               ctx.UpdateTitleEn, kRussianLanguageId,
                               /*english=*/"Installed on your computer:\r\n" + ctx.UpdateTitleEn +
                                   " -\r\n" + ctx.PackageFullTitle + "\r\n\r\nStart the program?",
                               kOwnCodePage);
    if (launch) LaunchAndActivateApplication(s);
  }

  switch (written) {
    case WriteResult::kWritten:
      return UpdateOutcome::kUpdated;
    case WriteResult::kScheduled:
      return UpdateOutcome::kScheduled;
    case WriteResult::kKept:
      return UpdateOutcome::kNewerKept;
    case WriteResult::kFailed:
      break;
  }
  return UpdateOutcome::kPackageNotWritten;
}

int RunProgram(platform::Platform& os, const PackageConfig& config) {
  SetupContext ctx;
  // Before anything touches a drive: an empty card reader or optical drive
  // (an installation directory on one, a path the registry names) must fail
  // the call, not bring up the system's "No disk" box, which would wait for
  // a click in quiet mode too. Bits the process inherited are kept; the
  // programs the setup starts itself get the mode it inherited.
  constexpr uint32_t kErrorMode =
      platform::kSemFailCriticalErrors | platform::kSemNoOpenFileErrorBox;
  ctx.InheritedErrorMode = os.system.SetErrorMode(kErrorMode);
  if ((ctx.InheritedErrorMode | kErrorMode) != kErrorMode) {
    os.system.SetErrorMode(ctx.InheritedErrorMode | kErrorMode);
  }

  // Neither creates anything until used, and neither constructor can fail:
  // the failure box below needs them.
  static_assert(std::is_nothrow_constructible_v<ProgressWindow, platform::Platform&>);
  static_assert(std::is_nothrow_default_constructible_v<LangUnit>);
  ProgressWindow progress(os);
  LangUnit lang;
  Services s{ctx, os, progress, lang};
  UpdateOutcome outcome = UpdateOutcome::kUncaughtFailure;
  // Start-up belongs to the handled part: a failure there gets the same box
  // and exit code as one during the update.
  try {
    InitializeSettings(ctx, os);
    ctx.PackageTitle = config.title;
    ctx.PackageName = config.name;
    ctx.PackageVersion = config.version;
    outcome = RunUpdate(s);
  } catch (const std::bad_alloc&) {
    ShowFailure(s, "Out of memory");
  } catch (const std::exception& e) {
    ShowFailure(s, e.what());
  } catch (...) {
    ShowFailure(s, "Unknown failure");
  }
  const OutcomeInfo info = DescribeOutcome(outcome);
  WriteRunRecord(s, info.exit_code, info.text, info.event_type);
  FinalizeSettings(ctx);
  return info.exit_code;
}

}  // namespace lexoria
