// bench_steps: where the quiet update's time goes. Runs the update's own
// steps in their order, with the real Win32 adapter, and times each one
// inside the process; it carries the same package under the same resource
// name as the setup (bench_floor.rc), so that the write is the setup's own.
//
//   bench_steps <setup file>
//
// Prints one line
//   settings_ms=<t> discovery_ms=<t> running_ms=<t> selfcheck_ms=<t>
//   pin_ms=<t> write_ms=<t> size_ms=<t> record_ms=<t> exit=<code>
// settings: InitializeSettings (the Windows version, the window station and
// session, the registry accessor); discovery: DiscoverEnvironment (the
// registry and the shell folders); running: the marker probe and the main
// window's look-up; selfcheck: the checksum of <setup file>; pin: the
// installation folder taken and the installed package's version read; write:
// ExtractResourceToFile (the new file written from the resource, flushed,
// its version compared, renamed over the old one); size: the installed size
// and the detection value; record: the event-log record. Whatever the
// process pays before main and after it returns (its start, the libraries
// it loads, its end) is the setup's time less the sum. Exit code 0 when the
// package was written, 1 otherwise, 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/environment.h"
#include "app/event_log_record.h"
#include "app/running_app.h"
#include "install/extract.h"
#include "install/installed_size.h"
#include "install/pinned_folder.h"
#include "install/self_check.h"
#include "platform/event_log.h"
#include "platform/win32/adapters.h"
#include "system/settings.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, count;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lexoria;
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_steps <setup file>\n");
    return 2;
  }
  const std::string setup = argv[1];
  const std::u16string setup_path(setup.begin(), setup.end());  // an ASCII path
  auto* const win32 = new platform::win32::Win32Platform;       // as the setup: never destroyed
  platform::Platform& os = win32->platform();
  SetupContext ctx;
  ProgressWindow progress(os);
  LangUnit lang;
  Services s{ctx, os, progress, lang};
  double at = Now();
  const auto lap = [&at](const char* name) {
    const double now = Now();
    std::printf("%s_ms=%.1f ", name, now - at);
    at = now;
  };

  InitializeSettings(ctx, os);
  ctx.PackageName = "lxrq";
  ctx.ProductShortName = "Lexoria";
  ctx.UpdateTitleEn = "Lexoria update";
  lap("settings");
  const bool found = DiscoverEnvironment(s);
  lap("discovery");
  if (IsApplicationRunning(s)) CloseRunningApplication(s);
  lap("running");
  const bool intact = FileIsIntact(os.files, setup_path);
  lap("selfcheck");
  WriteResult written = WriteResult::kFailed;
  if (found && intact) {
    try {
      ctx.InstallFolder.reset(new PinnedFolder(os, ctx.InstallDir));
    } catch (const std::exception& e) {
      std::printf("exit=1 (the folder: %s)\n", e.what());
      return 1;
    }
    ctx.Record.package_before = InstalledPackageVersion(s, ctx.InstallFolder->path() + "lxrq.pak");
    ctx.InstallFolder->IsFile("Lexoria.exe");
    lap("pin");
    int32_t version = -1;
    written =
        ExtractResourceToFile(s, *ctx.InstallFolder, "lxrq", "pak", ctx.InstallDir + "lxrq.pak",
                              /*check=*/true, HeldTarget::kFail, &version);
    lap("write");
    RecordInstalledSize(s);
    RecordPackageVersion(s, "lxrq.pak", version);
    lap("size");
  }
  WriteRunRecord(s, 0, "the package was written", platform::kEventlogInformationType);
  lap("record");
  FinalizeSettings(ctx);
  const bool ok = written == WriteResult::kWritten;
  std::printf("exit=%d\n", ok ? 0 : 1);
  return ok ? 0 : 1;
}
