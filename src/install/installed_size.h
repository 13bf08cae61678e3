// The installed size of Lexoria: the sum of the file sizes below InstallDir,
// recorded as "EstimatedSize" in its uninstall entry.
#ifndef LEXORIA_INSTALL_INSTALLED_SIZE_H_
#define LEXORIA_INSTALL_INSTALLED_SIZE_H_

#include <cstdint>
#include <string>

#include "app/services.h"
#include "platform/file_system.h"

namespace lexoria {

// Size of the tree below `directory` in whole KiB, or -1 when `directory` is
// empty or names no existing directory. Never raises.
int32_t EstimateInstalledSize(platform::FileSystem& files, const std::string& directory);
// Writes the estimate of InstallDir as REG_DWORD "EstimatedSize" under
// UninstallKeyRoot + ProductShortName (created when absent); nothing for -1.
// A refused write raises ERegistryException (the key is closed first).
void RecordInstalledSize(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_INSTALLED_SIZE_H_
