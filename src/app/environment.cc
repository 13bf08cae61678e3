#include "app/environment.h"

#include "system/settings.h"

namespace lexoria {

// Placeholder until discovery lands: the default installation directory.
bool DiscoverEnvironment(Services& s) {
  s.ctx.IsAdmin = s.os.processes.IsUserAnAdmin();
  s.ctx.UninstallKeyRoot = std::string(kWindowsCurrentVersionKey) + "Uninstall\\";
  s.ctx.InstallDir = "C:\\Program Files\\" + s.ctx.ProductShortName + "\\";
  return true;
}

}  // namespace lexoria
