// The renames Windows makes at its next restart, before any program can
// hold a file: PendingFileRenameOperations.
#ifndef LEXORIA_INSTALL_RESTART_RENAMES_H_
#define LEXORIA_INSTALL_RESTART_RENAMES_H_

#include <string>

#include "platform/registry.h"

namespace lexoria {

// True when the rename of `from` over `to` (full paths, letter case aside)
// is queued for the next restart already. Windows keeps each pair as
// "\??\<from>" and "!\??\<to>" (the "!" for a rename that replaces) in the
// REG_MULTI_SZ PendingFileRenameOperations of the Session Manager's key
// (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager); a value that is
// missing, of another type or larger than any real list counts as no rename
// queued.
bool RenameIsQueued(platform::Registry& registry, const std::string& from, const std::string& to);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_RESTART_RENAMES_H_
