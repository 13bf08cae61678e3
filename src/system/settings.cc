#include "system/settings.h"

#include "system/command_line.h"
#include "system/random_generator.h"
#include "system/registry_accessor.h"
#include "system/windows_version.h"

namespace lexoria {

namespace {

// The user locales whose users get the Russian interface. Whole identifiers:
// one with sort-order bits set is a different locale and stays English.
constexpr uint32_t kRussianUiLocales[] = {
    0x0402,  // Bulgarian, Bulgaria
    0x0419,  // Russian, Russia
    0x0422,  // Ukrainian, Ukraine
    0x0423,  // Belarusian, Belarus
    0x043F,  // Kazakh, Kazakhstan
    0x0444,  // Tatar, Russia
    0x0819,  // Russian, Moldova
};

bool IsRussianUiLocale(uint32_t lcid) {
  for (uint32_t locale : kRussianUiLocales) {
    if (lcid == locale) return true;
  }
  return false;
}

// Session 0 holds no user's desktop from Windows Vista on: only services
// run there. On Windows XP the first user logs on to it.
bool RunsInServiceSession(platform::SystemInfo& system) {
  platform::OsVersionInfo version;
  uint32_t session = 0;
  return system.GetVersionExA(platform::kOsVersionInfoSize, &version) &&
         version.platform_id == platform::kVerPlatformWin32Nt && version.major_version >= 6 &&
         system.ProcessIdToSessionId(&session) && session == 0;
}

// Whether anybody can answer a box of this run. A fact that cannot be read
// leaves the run attended, as every run was before.
void DecideAttendance(SetupContext& ctx, platform::Platform& os) {
  uint32_t flags = 0;
  if (os.system.GetProcessWindowStationFlags(&flags) && (flags & platform::kWsfVisible) == 0) {
    ctx.Unattended = true;
    ctx.Record.AddNote("Unattended: the window station is not visible; no box was shown.");
  } else if (RunsInServiceSession(os.system)) {
    ctx.Unattended = true;
    ctx.Record.AddNote("Unattended: the setup runs in session 0; no box was shown.");
  } else if (uint32_t state = platform::kWtsActive;
             os.system.WTSQuerySessionInformationW(platform::kWtsConnectState, &state) &&
             state != platform::kWtsActive) {
    // A disconnected remote session, or a user switched away from: the
    // desktop is there, but nobody looks at it.
    ctx.Unattended = true;
    ctx.Record.AddNote("Unattended: nobody is connected to the setup's session; no box was shown.");
  }
  ctx.SystemAccount = os.processes.IsLocalSystem();
  if (ctx.SystemAccount) ctx.Record.AddNote("The setup runs as the system account.");
}

}  // namespace

void InitializeSettings(SetupContext& ctx, platform::Platform& os) {
  // SharedRegistry exists exactly from a completed start-up to
  // FinalizeSettings: its presence marks that start-up already ran.
  if (ctx.SharedRegistry != nullptr) return;

  // 0. Before anything that can fail: a failure's box must know whether
  // anybody can answer it.
  DecideAttendance(ctx, os);

  // 1. The generator must be seeded before the identification draws the
  // name of its temporary file from it. Its only use lies inside this call,
  // so it lives here and not as process-wide state.
  RandomGenerator random = RandomGenerator::FromClock(os.clock);

  // 2. The interface language.
  ctx.RussianUi = IsRussianUiLocale(os.system.GetUserDefaultLCID());

  // 3. Only Is64BitWindows is kept; the edition text is shown nowhere.
  IdentifyWindows(ctx, os, random);

  // 4. A 32-bit process on 64-bit Windows would otherwise see HKLM\Software
  // through WOW6432Node, where Lexoria's 64-bit entries are not.
  ctx.SharedRegistry = std::make_unique<TRegistry>(
      os.registry, ctx.Is64BitWindows ? platform::kKeyAllAccess | platform::kKeyWow64_64Key
                                      : platform::kKeyAllAccess);

  // 5. Only A-Z are lowered: Cyrillic letters of the ANSI code page keep
  // their case, whatever the C library's locale says.
  const std::vector<std::string> arguments = SplitCommandLine(os.system.GetCommandLineA());
  ctx.FirstArgument = LowerAsciiLetters(arguments.size() > 1 ? arguments[1] : std::string());
  ctx.Options = ParseCommandLine(arguments);
}

void FinalizeSettings(SetupContext& ctx) { ctx.SharedRegistry.reset(); }

}  // namespace lexoria
