// Start-up settings: the facts established once before the update runs.
#ifndef LEXORIA_SYSTEM_SETTINGS_H_
#define LEXORIA_SYSTEM_SETTINGS_H_

#include "base/setup_context.h"
#include "platform/platform.h"

namespace lexoria {

inline constexpr char kWindowsCurrentVersionKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\";
inline constexpr char kVendorKeyPrefix[] = "Software\\Orvane\\";

// Decides first whether the run is unattended (its window station not
// visible, or session 0 on Windows Vista and later) and whether it runs as
// the system account; then seeds the generator, sets RussianUi from the
// user's locale, identifies Windows (Is64BitWindows), creates SharedRegistry
// and stores FirstArgument. A second call does nothing. Reports nothing.
void InitializeSettings(SetupContext& ctx, platform::Platform& os);
// Destroys SharedRegistry, closing any key still open on it.
void FinalizeSettings(SetupContext& ctx);

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_SETTINGS_H_
