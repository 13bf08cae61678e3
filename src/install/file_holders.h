// Which programs hold a file, as the Restart Manager sees them.
#ifndef LEXORIA_INSTALL_FILE_HOLDERS_H_
#define LEXORIA_INSTALL_FILE_HOLDERS_H_

#include <string>
#include <vector>

#include "platform/restart_manager.h"

namespace lexoria {

// The processes that hold the file `path` (a full path), in every session;
// empty when none is named, or the Restart Manager is missing (Windows XP) or
// fails. Nothing is asked to close. The session it starts is always ended.
std::vector<platform::RmProcessInfo> ProgramsHolding(platform::RestartManager& rm,
                                                     const std::u16string& path);

// "Held by <name> (process <id>, session <id>)." for the record.
std::u16string DescribeHolder(const platform::RmProcessInfo& holder);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_FILE_HOLDERS_H_
