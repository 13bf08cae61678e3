#include "app/run_update.h"

#include <exception>
#include <new>
#include <type_traits>

#include "app/environment.h"
#include "app/event_log_record.h"
#include "app/run_lock.h"
#include "app/run_log.h"
#include "app/running_app.h"
#include "install/extract.h"
#include "install/installed_size.h"
#include "install/pinned_folder.h"
#include "install/self_check.h"
#include "install/version_readers.h"
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

// No box of this run is shown: nobody can see it (ctx.Unattended), or the
// command line asked for none (/quiet).
bool NobodyIsAsked(const SetupContext& ctx) { return ctx.Unattended || ctx.Options.quiet; }

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
    case UpdateOutcome::kAnotherRun:
      return {kExitAnotherUpdateRunning,
              "another update of Lexoria is in progress: nothing was changed", kWarning};
    case UpdateOutcome::kSetupDamaged:
      return {kExitSetupDamaged, "the setup's own file is damaged or cannot be read", kError};
    case UpdateOutcome::kNoInstallation:
      return {kExitNoInstallation, "no installation of Lexoria to update", kError};
    case UpdateOutcome::kRegistryUnreadable:
      return {kExitRegistryUnreadable, "the user's shell folders in the registry cannot be read",
              kError};
    case UpdateOutcome::kPackageNotWritten:
      return {kExitPackageNotWritten, "the package could not be written", kError};
    case UpdateOutcome::kUsage:
      return {kExitUpdated, "the usage text was asked for: nothing else was done", kInformation};
    case UpdateOutcome::kInvalidCommandLine:
      return {kExitInvalidCommandLine, "the command line is invalid: nothing was done", kError};
    case UpdateOutcome::kUncaughtFailure:
      break;
  }
  return {kExitUncaughtFailure, "a failure that nothing else handled", kError};
}

// One line of the run's steps, for the log file.
void Step(Services& s, const TaggedText& line) { s.ctx.Record.Step(line.ToUtf16(s.os.system)); }
void Step(Services& s, const char* line) { Step(s, OwnText(line)); }
// A line with a text of the system's (a path) between the setup's words: one
// place that joins them, which keeps the setup small.
void Step(Services& s, const char* head, const std::string& named, const char* tail = ".") {
  Step(s, OwnText(head) + SystemText(named) + OwnText(tail));
}

// The usage text: every switch and exit code, in the interface language; a
// box where someone can see it, else only the record. An argument that is no
// switch of the setup (`invalid`) is named first, in an error box.
void ShowUsage(Services& s, const std::string& invalid) {
  const TaggedText english(
      "Usage: lexoria-update.exe [modest [runapp]] [/quiet] [/log PATH]\r\n\r\n"
      "modest - no confirmation and no launch question; the box of a failure and the "
      "question before a newer package is replaced still come where someone can see them\r\n"
      "modest runapp - the same, then Lexoria is started\r\n"
      "/quiet (/q, /qn, /s, /silent, /verysilent) - no box at all: each takes the answer that "
      "changes least; with runapp after it, Lexoria is started at the end\r\n"
      "/log PATH (/log=PATH, /log:PATH) - a log of the run is appended to PATH\r\n"
      "/norestart, /suppressmsgboxes - accepted; the setup never restarts Windows\r\n"
      "/?, /h, /help - this text\r\n\r\n"
      "Exit codes: 0 done; 1 a failure; 2 no administrator rights; 3 the setup file is "
      "damaged; 4 Lexoria is not installed; 5 the registry cannot be read; 6 the package "
      "could not be written; 7 a question nobody could answer; 1618 another update is in "
      "progress; 1639 an invalid command line; 3010 done at the next restart.");
  const TaggedText russian(
      "Запуск: lexoria-update.exe [modest [runapp]] [/quiet] [/log ПУТЬ]\r\n\r\n"
      "modest - без подтверждения и без вопроса о запуске; сообщение об ошибке и вопрос перед "
      "заменой более новой версии появляются, если их кто-то может увидеть\r\n"
      "modest runapp - то же, затем запускается Lexoria\r\n"
      "/quiet (/q, /qn, /s, /silent, /verysilent) - без окон: на каждый вопрос берётся ответ, "
      "меняющий меньше всего; с runapp после него в конце запускается Lexoria\r\n"
      "/log ПУТЬ (/log=ПУТЬ, /log:ПУТЬ) - журнал запуска дописывается в файл ПУТЬ\r\n"
      "/norestart, /suppressmsgboxes - допускаются; установка никогда не перезапускает "
      "Windows\r\n"
      "/?, /h, /help - этот текст\r\n\r\n"
      "Коды завершения: 0 выполнено; 1 сбой; 2 нет прав администратора; 3 файл установки "
      "повреждён; 4 Lexoria не установлена; 5 реестр недоступен; 6 пакет не удалось записать; "
      "7 вопрос, на который некому ответить; 1618 выполняется другое обновление; 1639 неверная "
      "командная строка; 3010 выполнено, завершится при следующем перезапуске.");
  if (invalid.empty()) {
    ShowInformation(s, english, russian);
  } else {
    ShowError(s, "Unknown argument: " + SystemText(invalid) + "\r\n\r\n" + english,
              "Неизвестный параметр: " + SystemText(invalid) + "\r\n\r\n" + russian);
  }
}

}  // namespace

std::string DefaultPackageTitle() { return "\"Озвучка русско-английских заданий\" версии "; }

int ExitCodeFor(UpdateOutcome outcome) { return DescribeOutcome(outcome).exit_code; }

UpdateOutcome RunUpdate(Services& s) {
  SetupContext& ctx = s.ctx;

  // 1. Names and titles. A command line that asks for the usage text, or
  // holds an argument the setup does not know, gets that text and nothing
  // else: a run that went on would not be the one its caller meant.
  const std::string package_file_name = DeriveNames(ctx);
  Step(s, "1. Package ", package_file_name + ", version " + ctx.PackageVersionText);
  if (ctx.Options.help || !ctx.Options.invalid.empty()) {
    ShowUsage(s, ctx.Options.invalid);
    Step(s, "   The usage text, and nothing else.");
    return ctx.Options.help && ctx.Options.invalid.empty() ? UpdateOutcome::kUsage
                                                           : UpdateOutcome::kInvalidCommandLine;
  }

  // 2. Where Lexoria is installed.
  if (!DiscoverEnvironment(s)) {
    Step(s, "2. The registry could not be read.");
    return UpdateOutcome::kRegistryUnreadable;
  }
  Step(s, "2. Installation folder by the uninstall entry: ", ctx.InstallDir, "");

  // 3. Only an administrator may install.
  if (!ctx.IsAdmin) {
    Step(s, "3. No administrator rights.");
    ShowError(s, "You have no right to install applications!",
              "У Вас нет права устанавливать программы!");
    return UpdateOutcome::kNotAdministrator;
  }
  // One run at a time, before anything changes: two runs would write the
  // same package under each other.
  if (!TakeRunLock(s)) {
    Step(s, "3. Administrator rights; another run of the setup is in progress.");
    ShowError(s, "Another update of Lexoria is in progress. Please wait until it has finished.",
              "Выполняется другое обновление Lexoria. Пожалуйста, дождитесь его окончания.");
    return UpdateOutcome::kAnotherRun;
  }
  Step(s, "3. Administrator rights; no other run of the setup.");

  // 4. A running Lexoria is asked to quit; the flow does not wait for it
  // here. A Lexoria that holds the package while it closes is waited for by
  // the replacement of step 9 only. Closing it is part of what the
  // confirmation consents to: an unattended run of normal mode, which nobody
  // can confirm, leaves it alone.
  bool quit_requested = false;
  const bool quiet_mode = ctx.Options.modest || ctx.Options.quiet;
  if (IsApplicationRunning(s)) {
    if (NobodyIsAsked(ctx) && !quiet_mode) {
      ctx.Record.AddNote(
          "A running Lexoria was not asked to quit: nobody could confirm the update.");
      Step(s, "4. Lexoria runs; not asked to quit (nobody could confirm).");
    } else {
      quit_requested = CloseRunningApplication(s);
      Step(s, quit_requested ? "4. Lexoria runs; asked to quit."
                             : "4. Lexoria runs; no window of it to ask.");
    }
  } else {
    Step(s, "4. Lexoria does not run.");
  }

  // 5. The setup's own file must be intact before anything is written.
  if (!SetupFileIsIntact(s.os)) {
    Step(s, "5. The setup's own file is damaged or cannot be read.");
    ShowError(s, "The setup file is damaged. Please download it again.",
              "Файл установки повреждён. Пожалуйста, загрузите его заново.");
    return UpdateOutcome::kSetupDamaged;
  }
  Step(s, "5. The setup's own file is intact.");

  // 6. Quiet mode.
  ctx.QuietMode = quiet_mode;
  Step(s, ctx.Options.quiet    ? "6. Quiet mode, no box at all (/quiet)."
          : ctx.Options.modest ? "6. Quiet mode (modest)."
                               : "6. Normal mode.");

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
  if (!IsAbsolutePath(ctx.InstallDir)) {
    Step(s, "7. The installation folder is no full path.");
    return no_installation();
  }
  try {
    ctx.InstallFolder.reset(new PinnedFolder(s.os, ctx.InstallDir));
  } catch (const FolderMissing&) {
    ctx.Record.package_before = "none";
    Step(s, "7. There is no installation folder.");
    return no_installation();
  } catch (const FolderRefused& refused) {
    Step(s, "7. The installation folder was refused: ", refused.what(), "");
    ShowFileError(s, "Can't install file ", "Не удается установить файл ", target_path);
    ctx.Record.notes.push_back(
        (OwnText("The installation folder was refused: ") + SystemText(refused.what()))
            .ToUtf16(s.os.system));
    return UpdateOutcome::kPackageNotWritten;
  }
  const PinnedFolder& folder = *ctx.InstallFolder;
  ctx.Record.package_before = InstalledPackageVersion(s, folder.path() + package_file_name);
  if (!folder.IsFile("Lexoria.exe")) {
    Step(s, "7. The installation folder holds no Lexoria.exe: ", folder.path());
    return no_installation();
  }
  Step(s, "7. Installation folder taken and held: ", folder.path(),
       ("; package version there: " + ctx.Record.package_before + ".").c_str());

  // 8. Confirmation. Its texts and the launch offer's are the setup's own
  // words, the package title among them (code page 1251 text).
  if (!ctx.QuietMode) {
    const bool confirmed =
        AskQuestion(s,
                    OwnText("Would you like to setup\r\n" + ctx.UpdateTitleEn + " -\r\n" +
                            ctx.PackageFullTitle + "?"),
                    OwnText("Вы действительно хотите установить\r\n" + ctx.UpdateTitleRu +
                            " -\r\n" + ctx.PackageFullTitle + "?"));
    // Only a No is the user's: a box nobody could answer, or one that could
    // not be shown (0), has no answer.
    const BoxRecord& box = ctx.Record.boxes.back();
    if (!confirmed) {
      const bool declined = box.shown && box.answer != 0;
      Step(s,
           declined ? "8. The confirmation answered No." : "8. Nobody answered the confirmation.");
      return declined ? UpdateOutcome::kDeclined : UpdateOutcome::kUnanswered;
    }
    Step(s, "8. The confirmation answered Yes.");
  }

  // 9. The package; failures are reported inside and the flow goes on. A
  // package still held by another program (a Lexoria open in another
  // session, which no quit request reaches) is replaced at the next restart
  // where nobody can be told; a person is shown the failure.
  const HeldTarget held =
      NobodyIsAsked(ctx)
          ? (quit_requested ? HeldTarget::kWaitThenReplaceAtRestart : HeldTarget::kReplaceAtRestart)
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
  // tool's detection rule looks for, written by every run that got here, so
  // that one another run left wrong is corrected. Where the write failed,
  // the installed package is what the folder holds (none: no value).
  Step(s, written == WriteResult::kWritten     ? "9. The package is written."
          : written == WriteResult::kScheduled ? "9. The package is written and replaces the "
                                                 "installed one at the next restart."
          : written == WriteResult::kKept      ? "9. The newer installed package is kept."
                                               : "9. The package could not be written.");
  RecordInstalledSize(s);
  // A failed write leaves the version of a replacement an earlier run
  // queued, else what the folder holds.
  if (written == WriteResult::kFailed && version_in_place == -1) {
    version_in_place = folder.IsFile(package_file_name)
                           ? ReadPakVersion(s.os.files, folder.path() + package_file_name)
                           : -1;
  }
  RecordPackageVersion(s, package_file_name, version_in_place);
  Step(s, "10. Installed size recorded; detection value lxrq.pak: ",
       version_in_place == -1 ? std::string("none") : std::to_string(version_in_place));

  // 11. Start Lexoria.
  if (ctx.QuietMode) {
    Step(s, ctx.Options.run_app ? "11. Lexoria is started (runapp)." : "11. No launch asked for.");
    if (ctx.Options.run_app) LaunchAndActivateApplication(s);
  } else {
    const bool launch = AskQuestionWithCaption(
        s,
        OwnText("На Ваш компьютер установлено\r\n" + ctx.UpdateTitleRu + " -\r\n" +
                ctx.PackageFullTitle + "\r\n\r\nЗапустить программу?"),
        OwnText(ctx.UpdateTitleEn), kRussianLanguageId,
        /*english=*/
        OwnText("Installed on your computer:\r\n" + ctx.UpdateTitleEn + " -\r\n" +
                ctx.PackageFullTitle + "\r\n\r\nStart the program?"));
    Step(s, launch ? "11. The launch question answered Yes." : "11. Lexoria is not started.");
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
  // Outlives every line the run writes to it, the record's last.
  RunLog log(os.files, os.system);
  UpdateOutcome outcome = UpdateOutcome::kUncaughtFailure;
  // Start-up belongs to the handled part: a failure there gets the same box
  // and exit code as one during the update.
  try {
    InitializeSettings(ctx, os);
    StartRunLog(s, log, "1.0." + std::to_string(config.version) + ".0");
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
  if (log.failed()) {
    ctx.Record.notes.push_back((OwnText("The log file ") + SystemText(ctx.Options.log_path) +
                                OwnText(" could not be written to its end."))
                                   .ToUtf16(os.system));
  }
  WriteRunRecord(s, info.exit_code, info.text, info.event_type);
  FinalizeSettings(ctx);
  return info.exit_code;
}

}  // namespace lexoria
