// The folder the setup writes a file into, held open for the whole write so
// that it stays the folder it was when the write began.
//
// The setup runs elevated (as an administrator, or as the system account),
// and Lexoria may be installed in a folder standard users may change, such
// as C:\Lexoria. Such a user could rename the folder away and put a junction
// of its name in its place, pointing anywhere, even into the object
// manager's namespace, where a symbolic link named like the file leads to
// any file of the system. A path through the folder is then no longer
// trustworthy after it was looked at. So the folder itself is opened once,
// following links, and held: while it is, neither it nor a folder above it
// can be renamed or removed. Every write goes under the path the system
// gives for that handle, so that a junction swapped in at the old name later
// changes nothing, and a name opened in the folder is checked to be that
// name in that folder before anything is done to it.
#ifndef LEXORIA_INSTALL_PINNED_FOLDER_H_
#define LEXORIA_INSTALL_PINNED_FOLDER_H_

#include <stdexcept>
#include <string>

#include "platform/file_system.h"
#include "platform/scoped_handles.h"
#include "platform/system_info.h"

namespace lexoria {

// The folder could not be pinned: nothing may be written into it. Its text
// is one for every reason (the caller's message names the file).
class FolderRefused : public std::runtime_error {
 public:
  FolderRefused() : std::runtime_error("folder refused") {}
};

class PinnedFolder {
 public:
  // Opens `directory` (a full path, ending in a backslash or not) as a
  // folder, following links, with read access shared for reading and
  // writing but not for deleting, and takes its final path from the handle.
  // Raises FolderRefused when it cannot be opened as a folder (a junction
  // into the object manager's namespace is none), when its final path is
  // not on a drive or a network share, or when that path has no exact form
  // in the system's code page. Where the system gives no final path (Windows
  // XP), the path is `directory` as given, and the folder is refused when it
  // or a folder above it is a reparse point.
  PinnedFolder(platform::FileSystem& files, platform::SystemInfo& system,
               const std::string& directory);
  PinnedFolder(const PinnedFolder&) = delete;
  PinnedFolder& operator=(const PinnedFolder&) = delete;

  // The folder's final path in the system's code page, ending in a
  // backslash: "C:\Lexoria\", "\\server\share\Lexoria\".
  const std::string& path() const { return path_; }

  // The full NT path of `name` in this folder, for a rename through a
  // handle ("\??\C:\Lexoria\lxrq.pak"); empty where the system gives no
  // final path, or `name` is not ASCII (the caller renames by path then).
  std::u16string NtPathOf(const std::string& name) const;

  // True when `file`, opened at path() + `name`, is that name in this folder
  // and not something a link led the open to. Where the system gives no
  // final path, true.
  bool Holds(platform::Handle file, const std::string& name) const;

 private:
  // `final` ("\\?\C:\dir") as a path of the system's code page ("C:\dir"),
  // or false when it is on neither a drive nor a share, or has no exact form.
  bool ToSystemPath(const std::u16string& final, std::string* path) const;

  platform::FileSystem& files_;
  platform::SystemInfo& system_;
  platform::ScopedFile handle_;  // the folder itself
  std::string path_;
  std::u16string final_;  // "\\?\C:\dir", empty without final paths
};

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_PINNED_FOLDER_H_
