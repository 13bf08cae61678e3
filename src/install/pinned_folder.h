// Lexoria's folder, held open from the check of the installation to the end
// of the run, and the file operations inside it.
//
// The setup runs elevated (as an administrator, or as the system account),
// and Lexoria may be installed in a folder standard users may change, such
// as C:\Lexoria. Such a user could rename the folder away and put a junction
// of its name in its place, pointing anywhere, even into the object
// manager's namespace, where a symbolic link named like the file leads to
// any file of the system. A path through the folder is then no longer
// trustworthy after it was looked at. So the folder is reached once, name by
// name, every name opened as itself and held, every link on the way taken
// only where no standard user could have put it there; then the folder
// itself is held: while it is, neither it nor a folder above it can be
// renamed or removed. Every later access goes under the path the system
// gives for that handle, so that a junction swapped in at the old name
// changes nothing, and a name opened in the folder is checked to be that
// name in that folder before anything is done to it.
#ifndef LEXORIA_INSTALL_PINNED_FOLDER_H_
#define LEXORIA_INSTALL_PINNED_FOLDER_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/run_record.h"
#include "platform/platform.h"
#include "platform/scoped_handles.h"

namespace lexoria {

// There is no folder at the path (a name on the way is missing, or is a
// file): nothing to update.
class FolderMissing : public std::runtime_error {
 public:
  FolderMissing() : std::runtime_error("folder missing") {}
};

// The folder is there but may not be written into; what() says why, in
// English, for the record ("a link on the way to it could have been made by
// a standard user: C:\Lexoria").
class FolderRefused : public std::runtime_error {
 public:
  explicit FolderRefused(const std::string& why) : std::runtime_error(why) {}
};

class PinnedFolder {
 public:
  // Reaches `directory` (a full path, ending in a backslash or not; "." and
  // ".." are taken away first, as Windows does with a path) name by name:
  // each name is opened as itself (kFileFlagOpenReparsePoint) with read
  // access, shared for reading (and writing, for a folder) but not for
  // deleting, and held until this object ends, so that nothing on the way
  // can be renamed, removed or re-pointed meanwhile. A link (a junction or a
  // symbolic link, a reparse point with the name surrogate bit) is followed
  // only where nobody but the trusted accounts (OthersMay) may remove,
  // rename or change it: no such right on the link, no kFileDeleteChild on
  // the folder that holds it. The walk goes on along the link's target as
  // the link names it, so that a link inside that target is weighed too.
  // Where the target cannot be read (the system opens the link's target
  // even when asked for the link itself, as Wine does), the folder the link
  // leads to, and each one above it, must be one that nobody else may
  // remove or rename. Then the folder's final path is taken from its handle.
  //
  // Raises FolderMissing when a name on the way does not exist (or names no
  // folder: a file, a drive that is not ready, a share that is not there).
  // Raises FolderRefused when a name cannot be opened otherwise, a link may
  // have been made by somebody else or its security cannot be read, its
  // target is no drive or share path, there are more than 31 links on the
  // way, the final path is on no drive or share or has no exact form in the
  // system's code page. Where the system gives no final path (Windows XP),
  // the path is `directory` as given, and any link on the way is refused.
  PinnedFolder(platform::Platform& os, const std::string& directory);
  PinnedFolder(const PinnedFolder&) = delete;
  PinnedFolder& operator=(const PinnedFolder&) = delete;

  // The folder's final path in the system's code page, ending in a
  // backslash: "C:\Lexoria\", "\\server\share\Lexoria\".
  const std::string& path() const { return path_; }

  // True when path() + `name` is a file (not a folder), by its attributes.
  bool IsFile(const std::string& name) const;

  // True when someone other than the trusted accounts may add, remove or
  // rename an entry of this folder, or remove or rename it or a folder above
  // it (OthersMay on its security and theirs); true too when a security
  // cannot be read. A rename queued for the next restart is resolved by
  // name then, long after this handle is gone: only a folder for which this
  // is false keeps the names as they are now.
  bool OthersMayChange() const;

  // The full NT path of `name` in this folder, for a rename through a
  // handle ("\??\C:\Lexoria\lxrq.pak"); a name outside ASCII is taken in the
  // system's code page. Empty where the system gives no final path.
  std::u16string NtPathOf(const std::string& name) const;

  // True when `file`, opened at path() + `name`, is that name in this folder
  // and not something a link led the open to. Where the system gives no
  // final path, true.
  bool Holds(platform::Handle file, const std::string& name) const;

  // Clears the name `name` of this folder for a new file. Whatever stands
  // there is opened as itself, checked to be that name here, and looked at,
  // changed and deleted through that one handle: a link (a junction, a
  // directory or file symbolic link) is removed as the link, never its
  // target; a read-only file with one name is made writable first. Left
  // alone, attributes and all: a real folder, a read-only file with more
  // names (the attribute belongs to the file, not to the name), and a name
  // an open leads elsewhere. Failures are ignored: a creation that follows
  // fails while the name is still taken.
  void ClearName(const std::string& name) const;

 private:
  friend class NewFile;

  // Walks `directory`, holding each name, and returns the handle of the
  // folder reached (also held).
  platform::Handle Walk(const std::string& directory);
  // The link at `link_path`, held as `link`, found in the folder
  // `holder_path`: raises FolderRefused unless only trusted accounts may
  // change it or remove it from there. Returns where it leads, as a drive
  // or share path, or the empty text when the target cannot be read.
  std::string FollowLink(platform::Handle link, const std::string& link_path,
                         const std::string& holder_path);
  // True when nobody but the trusted accounts may remove or rename `folder`
  // (a drive or share path, no trailing backslash) or a folder above it;
  // false too when a security cannot be read.
  bool FixedChain(const std::string& folder) const;
  // The security of what `path` names (itself, with
  // kFileFlagOpenReparsePoint), or false.
  bool ReadSecurity(const std::string& path, platform::FileSecurity* security) const;
  // `final` ("\\?\C:\dir") as a path of the system's code page ("C:\dir"),
  // or false when it is on neither a drive nor a share, or has no exact form.
  bool ToSystemPath(const std::u16string& final, std::string* path) const;
  // Holds `file` until this object ends.
  void Hold(platform::Handle file);

  platform::FileSystem& files_;
  platform::SystemInfo& system_;
  platform::Sid own_user_;
  std::vector<platform::ScopedFile> held_;                   // every name on the way
  platform::Handle handle_ = platform::kInvalidHandleValue;  // the folder, one of held_
  std::string path_;
  std::u16string final_;  // "\\?\C:\dir", empty without final paths
  bool final_paths_ = true;
};

// The one handle of a file this run creates in a pinned folder, from its
// creation to its rename or removal: nothing can write to it, rename it or
// remove it meanwhile, so the content that is checked is the content that
// takes the target's name. Main thread only.
class NewFile {
 public:
  // The security of every new file: the system and the Administrators full
  // access, the users read and execute; nothing inherited from the folder,
  // so that standard users who may change the folder cannot write the file,
  // nor the name it takes by its rename.
  static constexpr char16_t kSecurityDescriptor[] =
      u"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

  // Clears `name` (PinnedFolder::ClearName) and creates it new, never
  // through a link (kCreateNew, kFileFlagOpenReparsePoint), with
  // kSecurityDescriptor, writable and deletable, shared for reading only;
  // then checks that the file is that name in that folder. On failure
  // valid() is false and nothing is left behind.
  NewFile(const PinnedFolder& folder, const std::string& name);
  // Takes the file already at `name` as this run's: a "~" file an earlier
  // run left for a rename queued for the restart. Opened as itself, readable
  // and deletable, shared for reading only; it must be that name in that
  // folder, a plain file with one name, that nobody but the trusted accounts
  // may change (OthersMay). Never removed by this object. On failure
  // valid() is false.
  enum AdoptTag { kAdopt };
  NewFile(const PinnedFolder& folder, const std::string& name, AdoptTag);
  // Removes the file if it was neither renamed nor kept (Keep).
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool valid() const { return static_cast<bool>(file_); }
  const std::string& name() const { return name_; }
  // The call that failed last (its creation, a write, the flush, a rename),
  // with its error: what the record names.
  const FailedCall& failure() const { return failure_; }

  // Writes `size` bytes in blocks and flushes them to the disk; every count
  // is checked, since some systems report success for a short write to a
  // full disk. False on any failure. REQUIRES: valid().
  bool Write(const uint8_t* data, size_t size);
  // True when the file holds exactly `size` bytes, these, read through its
  // handle. False too for a file that is not valid() or cannot be read.
  // REQUIRES: an adopted file (kAdopt), whose handle may read.
  bool SameContent(const uint8_t* data, size_t size);
  // Renames the file, through its handle, to `name` in the folder, over an
  // existing file only with `replace_existing`. False with the error in
  // *error. Where the system gives no final path (Windows XP) the rename
  // goes by path. REQUIRES: valid().
  bool RenameTo(const std::string& name, bool replace_existing, uint32_t* error);
  // The file stays under its name (a rename queued for the restart takes
  // it), and its handle is closed.
  void Keep();
  // Closes the handle; true when the close reported no failure. After a
  // rename or Keep the file stays; otherwise it goes with the handle.
  bool Close();

 private:
  const PinnedFolder& folder_;
  platform::FileSystem& files_;
  std::string name_;
  platform::ScopedFile file_;
  bool settled_ = false;  // renamed or kept: the file stays
  FailedCall failure_;
};

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_PINNED_FOLDER_H_
