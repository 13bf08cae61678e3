#include "system/settings.h"

#include "system/command_line.h"

namespace lexoria {

// Placeholder until the start-up settings land: locale and first argument.
void InitializeSettings(SetupContext& ctx, platform::Platform& os) {
  ctx.RussianUi = os.system.GetUserDefaultLCID() == 0x0419;
  ctx.SharedRegistry = std::make_unique<TRegistry>(os.registry);
  ctx.FirstArgument = LowerAsciiLetters(CommandLineArgument(os.system.GetCommandLineA(), 1));
}

void FinalizeSettings(SetupContext& ctx) { ctx.SharedRegistry.reset(); }

}  // namespace lexoria
