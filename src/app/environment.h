// Discovery of the installation environment: where Lexoria is installed, the
// system and shell folders, the program groups named after the update, and
// whether the user is an administrator.
#ifndef LEXORIA_APP_ENVIRONMENT_H_
#define LEXORIA_APP_ENVIRONMENT_H_

#include <optional>
#include <string>

#include "base/services.h"

namespace lexoria {

// Fills the environment fields of the SetupContext, once per run, through the
// SystemInfo and Processes ports and SharedRegistry (one open-read-close cycle
// per key; no key is left open on any path).
//
// InstallDir is the directory part of Lexoria's "UninstallString" under
// HKLM UninstallKeyRoot + ProductShortName, else under the WOW6432Node form of
// that key (then Wow64UninstallKey names it), else the program-files
// directory + ProductShortName; it always ends in a backslash.
//
// Returns true when every step has run. Returns false only when the per-user
// shell folders (HKCU ...\Explorer\Shell Folders) could not be read: it has
// then shown "No access to system registry" itself, and the fields of the
// later steps stay as they were. A registry failure while reading any other
// key (ERegistryException) is not handled here and reaches the caller.
// REQUIRES: ProductShortName and the update titles set, SharedRegistry
// established. Main thread only.
bool DiscoverEnvironment(Services& s);

// The directory part of an "UninstallString" value, with its final backslash:
// the text up to the last backslash before the final character. A value that
// begins with a quotation mark is first cut to the text between that mark and
// the closing one (the whole rest when there is none), so that a quoted path
// followed by arguments gives the path's directory. Nothing when there is no
// backslash before the final character (an empty value included).
std::optional<std::string> UninstallStringDirectory(const std::string& value);

// True for a path that names the same place from any current directory: a
// drive letter, a colon and a backslash ("C:\..."), or a UNC path with a
// server and a share ("\\server\share\..."). "Lexoria\" (below the current
// directory), "\Lexoria\" (below the current drive's root) and "C:Lexoria\"
// (below that drive's current directory) are not.
bool IsAbsolutePath(const std::string& path);

}  // namespace lexoria

#endif  // LEXORIA_APP_ENVIRONMENT_H_
