// The installed size of Lexoria: the sum of the file sizes below InstallDir,
// recorded as "EstimatedSize" in its uninstall entry.
#ifndef LEXORIA_INSTALL_INSTALLED_SIZE_H_
#define LEXORIA_INSTALL_INSTALLED_SIZE_H_

#include <cstdint>
#include <string>

#include "base/services.h"
#include "platform/file_system.h"

namespace lexoria {

// Size of the files in the tree below `directory`, in whole KiB (rounded
// down), or -1 when `directory` is empty or names no existing directory. The
// tree is walked breadth-first, sizes from the directory listings alone;
// hidden and system files count; a directory that cannot be opened or
// listed adds nothing. A subfolder is counted as its entry (which adds
// nothing) and not walked into when it is a reparse point (junction,
// symbolic link) in the listing that found it, or when it, or the folder it
// was found in, is anything but a plain folder once the walk reaches it:
// each folder is opened itself, never through a link at its name, and held,
// shared for reading and writing but not deleting, until the walk ends. The
// sum is taken in 64 bits and the result saturates at 2^31-1. Never raises,
// shows nothing.
// REQUIRES: `directory` is a path the caller holds to the folder it means
// (the pinned installation folder's final path): it is followed as given.
int32_t EstimateInstalledSize(platform::FileSystem& files, const std::string& directory);
// Opens, never creates, Lexoria's uninstall entry under HKEY_LOCAL_MACHINE
// through SharedRegistry: Wow64UninstallKey when discovery set it, else
// UninstallKeyRoot + ProductShortName. Then writes the estimate of the folder
// the run holds (ctx.InstallFolder) as REG_DWORD "EstimatedSize"; without a
// held folder, for -1, or for an entry that cannot be opened, nothing is
// written. The key is closed on every path; a refused write raises
// ERegistryException to the caller after the key is closed.
// REQUIRES: ctx.SharedRegistry set.
void RecordInstalledSize(Services& s);
// Writes `version` as the REG_DWORD `value_name` (the package's file name):
// what the installation folder holds once pending replacements are done, for
// the detection rules of management tools. Into the same entry as
// RecordInstalledSize (opened, never created), and into the setup's own key
// HKEY_LOCAL_MACHINE\SOFTWARE\Orvane\Lexoria Update (created where
// missing; the 64-bit view on 64-bit Windows, as SharedRegistry opens it).
// -1 (no package there) removes the value from both, so that neither claims
// a package that is not there. Raises as RecordInstalledSize does, after the
// key is closed.
void RecordPackageVersion(Services& s, const std::string& value_name, int32_t version);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_INSTALLED_SIZE_H_
