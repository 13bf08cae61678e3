#include "app/run_update.h"

#include <exception>
#include <new>

#include "app/environment.h"
#include "app/running_app.h"
#include "install/extract.h"
#include "install/installed_size.h"
#include "install/self_check.h"
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

// Derives the names and titles the rest of the flow and every message box
// rely on; returns PackageFileName, which the flow keeps to itself.
std::string DeriveNames(SetupContext& ctx) {
  std::string package_file_name = ctx.PackageName + "." + ctx.PackageType;
  ctx.PackageVersionText = std::to_string(ctx.PackageVersion);
  ctx.ProductShortName = "Lexoria";
  ctx.UpdateTitleRu = "Обновление Lexoria";
  ctx.UpdateTitleEn = "Lexoria update";
  ctx.PackageFullTitle = ctx.PackageTitle + ctx.PackageVersionText;
  return package_file_name;
}

bool FileExists(platform::FileSystem& files, const std::string& path) {
  const uint32_t attributes = files.GetFileAttributesA(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) == 0;
}

}  // namespace

std::string DefaultPackageTitle() { return "\"Озвучка русско-английских заданий\" версии "; }

void RunUpdate(Services& s) {
  SetupContext& ctx = s.ctx;

  // 1. Names and titles.
  const std::string package_file_name = DeriveNames(ctx);

  // 2. Where Lexoria is installed.
  if (!DiscoverEnvironment(s)) return;

  // 3. Only an administrator may install.
  if (!ctx.IsAdmin) {
    ShowError(s, "You have no right to install applications!",
              "У Вас нет права устанавливать программы!");
    return;
  }

  // 4. A running Lexoria is asked to quit; the flow does not wait for it.
  if (IsApplicationRunning(s)) CloseRunningApplication(s);

  // 5. The setup's own file must be intact before anything is written.
  if (!SetupFileIsIntact(s.os)) {
    ShowError(s, "The setup file is damaged. Please download it again.",
              "Файл установки повреждён. Пожалуйста, загрузите его заново.");
    return;
  }

  // 6. Quiet mode.
  ctx.QuietMode = ctx.FirstArgument == kQuietArgument;

  // 7. There must be an installation to update. A directory that is no
  // absolute path would be found below the current directory of the process
  // (a Downloads folder), which holds no installation of Lexoria.
  if (!IsAbsolutePath(ctx.InstallDir) || !FileExists(s.os.files, ctx.InstallDir + "Lexoria.exe")) {
    ShowError(s,
              "There's no subject of update - the Lexoria installed.\r\n"
              "Please, install the program at first.",
              "Нет предмета обновления - установленной программы Lexoria.\r\n"
              "Пожалуйста, сначала установите программу.");
    return;
  }

  // 8. Confirmation.
  if (!ctx.QuietMode) {
    const bool confirmed = AskQuestion(
        s,
        "Would you like to setup\r\n" + ctx.UpdateTitleEn + " -\r\n" + ctx.PackageFullTitle + "?",
        "Вы действительно хотите установить\r\n" + ctx.UpdateTitleRu + " -\r\n" +
            ctx.PackageFullTitle + "?");
    if (!confirmed) return;
  }

  // 9. The package; failures are reported inside and the flow goes on.
  const std::string target_path = ctx.InstallDir + package_file_name;
  if (ctx.PackageName == kJoinedPackageName) {
    JoinResourcesToFile(s, ctx.PackageName, ctx.PackageType, target_path);
  } else {
    ExtractResourceToFile(s, ctx.PackageName, ctx.PackageType, target_path, /*check=*/true);
  }

  // 10. The new installed size.
  RecordInstalledSize(s);

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
                               ctx.UpdateTitleEn, kRussianLanguageId);
    if (launch) LaunchAndActivateApplication(s);
  }
}

int RunProgram(platform::Platform& os, const PackageConfig& config) {
  SetupContext ctx;
  InitializeSettings(ctx, os);
  ctx.PackageTitle = config.title;
  ctx.PackageName = config.name;
  ctx.PackageVersion = config.version;

  ProgressWindow progress(os);
  LangUnit lang;
  Services s{ctx, os, progress, lang};
  int exit_code = 0;
  try {
    RunUpdate(s);
  } catch (const std::bad_alloc&) {
    ShowUncaughtFailure(s, "Out of memory");
    exit_code = 1;
  } catch (const std::exception& e) {
    ShowUncaughtFailure(s, e.what());
    exit_code = 1;
  } catch (...) {
    ShowUncaughtFailure(s, "Unknown failure");
    exit_code = 1;
  }
  FinalizeSettings(ctx);
  return exit_code;
}

}  // namespace lexoria
