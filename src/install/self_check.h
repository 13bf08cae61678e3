// The integrity self-check of the setup's own executable file.
#ifndef LEXORIA_INSTALL_SELF_CHECK_H_
#define LEXORIA_INSTALL_SELF_CHECK_H_

#include <string>

#include "platform/platform.h"

namespace lexoria {

// True when the running executable's file carries a non-zero PE image
// checksum that equals the checksum of its bytes as read now. False for a
// zero stamp, a mismatch (a damaged or cut download), a file that is no PE
// image, and a file that cannot be opened or read. Reads the file in blocks.
bool SetupFileIsIntact(platform::Platform& os);

// The same check of the file at `path` (UTF-16, as CreateFileW takes it).
bool FileIsIntact(platform::FileSystem& files, const std::u16string& path);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_SELF_CHECK_H_
