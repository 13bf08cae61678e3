#include "install/pinned_folder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/setup_context.h"
#include "install/folder_security.h"
#include "system/command_line.h"

namespace lexoria {

namespace {

constexpr char16_t kFinalPrefix[] = u"\\\\?\\";          // \\?\C:\dir
constexpr char16_t kFinalUncPrefix[] = u"\\\\?\\UNC\\";  // \\?\UNC\server\share\dir
constexpr char16_t kNtPrefix[] = u"\\??\\";              // \??\C:\dir
constexpr char16_t kNtUncPrefix[] = u"\\??\\UNC\\";      // \??\UNC\server\share\dir

// Windows follows at most 63 reparse points in one name; a way that needs
// more than this many links is no installation anybody made.
constexpr int kMaxLinksOnTheWay = 31;

// One WriteFile call of the whole ~88 MB package can fail on 32-bit Windows
// for lack of kernel resources (ERROR_NO_SYSTEM_RESOURCES); blocks of this
// size go through everywhere.
constexpr uint32_t kWriteBlockSize = 4u << 20;

// The attributes FileBasicInfo can set; the others belong to the file system.
constexpr uint32_t kSettableAttributes =
    platform::kFileAttributeReadonly | platform::kFileAttributeHidden |
    platform::kFileAttributeSystem | platform::kFileAttributeArchive |
    platform::kFileAttributeNormal | 0x100 /*temporary*/ | 0x1000 /*offline*/ |
    0x2000 /*not content indexed*/;

// What may change a link or let it be replaced: removing or renaming it,
// writing its data (a junction's target) or its attributes.
constexpr uint32_t kChangesALink = platform::kDelete | 0x0002 /*FILE_WRITE_DATA*/ |
                                   0x0004 /*FILE_APPEND_DATA*/ | 0x0100 /*FILE_WRITE_ATTRIBUTES*/;
// What may add, remove or rename an entry of a folder, or the folder itself.
constexpr uint32_t kChangesAFolder = platform::kFileAddFile | platform::kFileAddSubdirectory |
                                     platform::kFileDeleteChild | platform::kDelete;

bool StartsWith(const std::u16string& text, const char16_t* prefix) {
  return text.compare(0, std::char_traits<char16_t>::length(prefix), prefix) == 0;
}

// Paths name the same file when they differ at most in the case of ASCII
// letters, as the file system compares names. A difference in any other
// letter's case counts as another name: the caller then leaves the name
// alone, which fails safe.
bool SamePath(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerAsciiLetters(a) == LowerAsciiLetters(b);
}

// Length of the part of `path` that is a drive ("C:") or a share
// ("\\server\share"), which no junction can replace; 0 for any other form.
size_t RootLength(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    return 2;
  }
  if (path.compare(0, 2, "\\\\") != 0 || path.compare(0, 4, "\\\\?\\") == 0 ||
      path.compare(0, 4, "\\\\.\\") == 0) {
    return 0;
  }
  const size_t server_end = path.find('\\', 2);
  if (server_end == std::string::npos || server_end == 2) return 0;
  const size_t share_end = path.find('\\', server_end + 1);
  const size_t end = share_end == std::string::npos ? path.size() : share_end;
  return end > server_end + 1 ? end : 0;
}

// The names after the root of `path`, "." and ".." taken away as Windows
// takes them away from a path before it looks anything up ("C:\a\..\b" is
// "C:\b", whatever "a" is).
std::vector<std::string> NamesOf(const std::string& path, size_t root) {
  std::vector<std::string> names;
  size_t start = root;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  return names;
}

// The folder `path` names when the last names of it are `rest`, joined.
std::string Joined(const std::string& root, const std::vector<std::string>& names, size_t from) {
  std::string path = root;
  for (size_t i = from; i < names.size(); ++i) path += "\\" + names[i];
  return path;
}

// The handle's own error, for Windows' answers that mean "nothing there".
bool MeansMissing(uint32_t error) {
  switch (error) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
    case 15:   // ERROR_INVALID_DRIVE
    case 21:   // ERROR_NOT_READY: an empty card reader or optical drive
    case 53:   // ERROR_BAD_NETPATH
    case 67:   // ERROR_BAD_NET_NAME
    case 123:  // ERROR_INVALID_NAME
    case 267:  // ERROR_DIRECTORY
      return true;
    default:
      return false;
  }
}

// Raises FolderRefused with `why` and the path it is about.
[[noreturn]] void Refuse(const char* why, const std::string& path) {
  throw FolderRefused(why + path);
}

// Opens `path` for reading as a folder may be opened, sharing all but
// deleting: the name itself with kFileFlagOpenReparsePoint, else what it
// leads to.
platform::Handle OpenForReading(platform::FileSystem& files, const std::string& path,
                                uint32_t flags) {
  return files.CreateFileA(path, platform::kGenericRead,
                           platform::kFileShareRead | platform::kFileShareWrite,
                           platform::kOpenExisting, flags | platform::kFileFlagBackupSemantics);
}

// The name `path` as the walk takes it: opened, or FolderMissing when
// Windows says nothing is there, or FolderRefused.
platform::Handle OpenName(platform::FileSystem& files, const std::string& path, uint32_t flags) {
  const platform::Handle file = OpenForReading(files, path, flags);
  if (file != platform::kInvalidHandleValue) return file;
  const uint32_t error = files.GetLastError();
  if (MeansMissing(error)) throw FolderMissing();
  Refuse(("it cannot be opened (error " + std::to_string(error) + "): ").c_str(), path);
}

}  // namespace

PinnedFolder::PinnedFolder(platform::Platform& os, const std::string& directory)
    : files_(os.files), system_(os.system) {
  // Without the setup's own account only the built-in trusted accounts
  // count: a stricter test, never a weaker one.
  if (!os.processes.GetProcessTokenUser(&own_user_)) own_user_.clear();
  handle_ = Walk(directory);
  std::u16string final;
  if (final_paths_ &&
      files_.GetFinalPathNameByHandleW(handle_, &final,
                                       platform::kFileNameNormalized | platform::kVolumeNameDos)) {
    if (!ToSystemPath(final, &path_)) {
      throw FolderRefused("its final path is on no drive or share of this code page.");
    }
    while (final.size() > 1 && final.back() == u'\\') final.pop_back();
    final_ = final;
  } else if (!final_paths_ || files_.GetLastError() == platform::kErrorCallNotImplemented) {
    // No final paths (Windows XP): the way was walked without a link.
    final_paths_ = false;
    const size_t root = RootLength(directory);
    path_ = Joined(directory.substr(0, root), NamesOf(directory, root), 0);
    if (path_.size() == root) path_ += '\\';
  } else {
    throw FolderRefused("it has no final path.");
  }
  if (path_.empty() || path_.back() != '\\') path_ += '\\';
}

void PinnedFolder::Hold(platform::Handle file) { held_.emplace_back(files_, file); }

platform::Handle PinnedFolder::Walk(const std::string& directory) {
  size_t root = RootLength(directory);
  if (root == 0) throw FolderRefused("it is no path on a drive or share.");
  std::string resolved = directory.substr(0, root);
  std::vector<std::string> names = NamesOf(directory, root);
  size_t next = 0;
  int links = 0;
  platform::Handle reached = platform::kInvalidHandleValue;
  while (next < names.size()) {
    const std::string path = resolved + "\\" + names[next];
    // Wine reports a link by its name only, and opens its target even when
    // asked for the link itself.
    const uint32_t by_name = files_.GetFileAttributesA(path);
    const platform::Handle file = OpenName(files_, path, platform::kFileFlagOpenReparsePoint);
    Hold(file);
    platform::ByHandleFileInformation info;
    if (!files_.GetFileInformationByHandle(file, &info)) Refuse("it cannot be looked at: ", path);
    const bool reparse_by_handle = (info.attributes & platform::kFileAttributeReparsePoint) != 0;
    const bool reparse_by_name = by_name != platform::kInvalidFileAttributes &&
                                 (by_name & platform::kFileAttributeReparsePoint) != 0;
    bool link = reparse_by_handle || reparse_by_name;
    platform::ReparsePoint point;
    const bool point_read = reparse_by_handle && files_.GetReparsePoint(file, &point);
    // A reparse point that names nothing else (a cloud file's placeholder)
    // is the folder itself.
    if (point_read && (point.tag & platform::kReparseTagNameSurrogate) == 0) link = false;
    if (!link) {
      if ((info.attributes & platform::kFileAttributeDirectory) == 0) throw FolderMissing();
      resolved = path;
      reached = file;
      ++next;
      continue;
    }
    if (++links > kMaxLinksOnTheWay) Refuse("too many links lead to it: ", path);
    std::string target = FollowLink(file, path, resolved);
    if (target.empty()) {
      // The target cannot be read: only the folder the link leads to, and
      // those above it, can be weighed.
      const platform::ScopedFile followed(files_, OpenForReading(files_, path, /*flags=*/0));
      std::u16string final;
      if (!followed ||
          !files_.GetFinalPathNameByHandleW(
              followed.get(), &final, platform::kFileNameNormalized | platform::kVolumeNameDos) ||
          !ToSystemPath(final, &target)) {
        Refuse("where a link leads cannot be told: ", path);
      }
      while (target.size() > 3 && target.back() == '\\') target.pop_back();
      if (!FixedChain(target)) {
        Refuse("a link on the way to it leads to a folder a standard user could replace: ", path);
      }
    }
    // Along the target, with the rest of the way after it.
    const size_t target_root = RootLength(target);
    if (target_root == 0) Refuse("a link leads to no drive or share: ", path);
    std::vector<std::string> rest = NamesOf(target, target_root);
    rest.insert(rest.end(), names.begin() + static_cast<std::ptrdiff_t>(next) + 1, names.end());
    names = std::move(rest);
    next = 0;
    resolved = target.substr(0, target_root);
    reached = platform::kInvalidHandleValue;
  }
  if (reached == platform::kInvalidHandleValue) {
    // The folder is a drive's or a share's root.
    reached = OpenName(files_, resolved + "\\", /*flags=*/0);
    Hold(reached);
  }
  return reached;
}

std::string PinnedFolder::FollowLink(platform::Handle link, const std::string& link_path,
                                     const std::string& holder_path) {
  // Windows XP gives no final path: where the way ends could not be told.
  std::u16string unused;
  if (!files_.GetFinalPathNameByHandleW(link, &unused,
                                        platform::kFileNameNormalized | platform::kVolumeNameDos) &&
      files_.GetLastError() == platform::kErrorCallNotImplemented) {
    final_paths_ = false;
    Refuse("a link is on the way to it, and this Windows gives no final paths: ", link_path);
  }
  platform::FileSecurity link_security;
  platform::FileSecurity holder_security;
  if (!files_.GetSecurityInfo(link, &link_security) ||
      !ReadSecurity(holder_path + "\\", &holder_security)) {
    Refuse("the security of a link on the way to it cannot be read: ", link_path);
  }
  if (OthersMay(link_security, kChangesALink, own_user_) ||
      OthersMay(holder_security, platform::kFileDeleteChild, own_user_)) {
    Refuse("a link on the way to it could have been made by a standard user: ", link_path);
  }
  platform::ReparsePoint point;
  if (!files_.GetReparsePoint(link, &point)) return {};
  if (point.tag != platform::kIoReparseTagMountPoint &&
      point.tag != platform::kIoReparseTagSymlink) {
    Refuse("a link of an unknown kind is on the way to it: ", link_path);
  }
  std::u16string target = point.substitute_name;
  if (point.relative) {
    std::string relative;
    bool replaced = false;
    if (!system_.WideCharToMultiByte(platform::kCpAcp, platform::kWcNoBestFitChars, target,
                                     &relative, &replaced) ||
        replaced) {
      Refuse("a link's target has no exact form in this code page: ", link_path);
    }
    // Relative to the folder that holds the link, or, from a backslash on,
    // to that folder's drive.
    return relative.compare(0, 1, "\\") == 0
               ? holder_path.substr(0, RootLength(holder_path)) + relative
               : holder_path + "\\" + relative;
  }
  std::u16string dos;
  if (StartsWith(target, kNtUncPrefix)) {
    dos = u"\\\\" + target.substr(std::char_traits<char16_t>::length(kNtUncPrefix));
  } else if (StartsWith(target, kNtPrefix) && target.size() >= 6 && target[5] == u':') {
    dos = target.substr(std::char_traits<char16_t>::length(kNtPrefix));
  } else {
    // A volume without a drive letter, a device, the object manager's
    // namespace: nothing the rest of the setup can name.
    Refuse("a link leads to no drive or share: ", link_path);
  }
  std::string path;
  bool replaced = false;
  if (!system_.WideCharToMultiByte(platform::kCpAcp, platform::kWcNoBestFitChars, dos, &path,
                                   &replaced) ||
      replaced || RootLength(path) == 0) {
    Refuse("a link leads to no drive or share of this code page: ", link_path);
  }
  return path;
}

bool PinnedFolder::FixedChain(const std::string& folder) const {
  const size_t root = RootLength(folder);
  std::string here = folder.substr(0, root);
  // From the drive down: no right to delete a folder, none to delete a child
  // of the folder above it (the drive's or share's root included).
  for (const std::string& name : NamesOf(folder, root)) {
    const std::string above = here.size() == root ? here + "\\" : here;
    here += "\\" + name;
    platform::FileSecurity own;
    platform::FileSecurity holder;
    if (!ReadSecurity(here, &own) || !ReadSecurity(above, &holder) ||
        OthersMay(own, platform::kDelete, own_user_) ||
        OthersMay(holder, platform::kFileDeleteChild, own_user_)) {
      return false;
    }
  }
  return true;
}

bool PinnedFolder::ReadSecurity(const std::string& path, platform::FileSecurity* security) const {
  const platform::ScopedFile file(
      files_, files_.CreateFileA(
                  path, platform::kReadControl,
                  platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
                  platform::kOpenExisting,
                  platform::kFileFlagOpenReparsePoint | platform::kFileFlagBackupSemantics));
  return file && files_.GetSecurityInfo(file.get(), security);
}

bool PinnedFolder::ToSystemPath(const std::u16string& final, std::string* path) const {
  std::u16string dos;
  if (StartsWith(final, kFinalUncPrefix)) {
    dos = u"\\\\" + final.substr(std::char_traits<char16_t>::length(kFinalUncPrefix));
  } else if (StartsWith(final, kFinalPrefix) && final.size() >= 6 && final[5] == u':' &&
             ((final[4] >= u'A' && final[4] <= u'Z') || (final[4] >= u'a' && final[4] <= u'z'))) {
    dos = final.substr(std::char_traits<char16_t>::length(kFinalPrefix));
  } else {
    // A volume without a drive letter ("\\?\Volume{...}"), a device, the
    // object manager's namespace: nothing the rest of the setup can name.
    return false;
  }
  bool replaced = false;
  return system_.WideCharToMultiByte(platform::kCpAcp, platform::kWcNoBestFitChars, dos, path,
                                     &replaced) &&
         !replaced && !path->empty();
}

bool PinnedFolder::IsFile(const std::string& name) const {
  return platform::IsFileAt(files_, path_ + name);
}

bool PinnedFolder::OthersMayChange() const {
  platform::FileSecurity security;
  return !files_.GetSecurityInfo(handle_, &security) ||
         OthersMay(security, kChangesAFolder, own_user_) ||
         !FixedChain(path_.substr(0, path_.size() - 1));
}

std::u16string PinnedFolder::NtPathOf(const std::string& name) const {
  std::u16string path;
  if (final_.empty()) {
    if (final_paths_) return {};
    const std::u16string given = system_.MultiByteToWideChar(platform::kCpAcp, path_);
    if (RootLength(path_) == 2) {
      path = kNtPrefix + given;
    } else {
      path = kNtUncPrefix + given.substr(2);
    }
  } else {
    path = kNtPrefix + final_.substr(std::char_traits<char16_t>::length(kFinalPrefix));
    if (path.back() != u'\\') path += u'\\';
  }
  const std::u16string wide = system_.MultiByteToWideChar(platform::kCpAcp, name);
  if (wide.empty() && !name.empty()) return {};
  return path + wide;
}

bool PinnedFolder::Holds(platform::Handle file, const std::string& name) const {
  if (final_.empty()) return true;
  std::u16string final;
  std::string path;
  return files_.GetFinalPathNameByHandleW(
             file, &final, platform::kFileNameNormalized | platform::kVolumeNameDos) &&
         ToSystemPath(final, &path) && SamePath(path, path_ + name);
}

void PinnedFolder::ClearName(const std::string& name) const {
  platform::ScopedFile existing(
      files_,
      files_.CreateFileA(
          path_ + name,
          platform::kDelete | platform::kFileReadAttributes | platform::kFileWriteAttributes,
          platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
          platform::kOpenExisting,
          platform::kFileFlagOpenReparsePoint | platform::kFileFlagBackupSemantics));
  if (!existing) return;
  platform::ByHandleFileInformation info;
  if (!files_.GetFileInformationByHandle(existing.get(), &info) || !Holds(existing.get(), name)) {
    return;
  }
  const bool link = (info.attributes & platform::kFileAttributeReparsePoint) != 0;
  if ((info.attributes & platform::kFileAttributeDirectory) != 0 && !link) return;
  if ((info.attributes & platform::kFileAttributeReadonly) != 0) {
    if (info.number_of_links > 1) return;
    const uint32_t writable =
        info.attributes & kSettableAttributes & ~platform::kFileAttributeReadonly;
    if (!files_.SetFileInformationByHandle(
            existing.get(),
            platform::FileBasicInfo{writable != 0 ? writable : platform::kFileAttributeNormal})) {
      return;
    }
  }
  files_.SetFileInformationByHandle(existing.get(), platform::FileDispositionInfo{true});
}

NewFile::NewFile(const PinnedFolder& folder, const std::string& name)
    : folder_(folder),
      files_(folder.files_),
      name_(name),
      file_(folder.files_, platform::kInvalidHandleValue) {
  // The setup runs elevated, and the installation folder may be writable by
  // standard users. A name there could be a hard link or a symbolic link a
  // user planted to any file of the system, which a write through it would
  // overwrite, or a dangling link whose target the creation would make. So
  // the name is cleared first and the file created new without following a
  // link: if a link stands there again, or anything still does, the
  // creation fails.
  folder.ClearName(name);
  platform::SecurityAttributes security;
  security.security_descriptor = kSecurityDescriptor;
  file_.reset(files_.CreateFileA(
      folder.path() + name, platform::kGenericWrite | platform::kDelete | platform::kSynchronize,
      platform::kFileShareRead, &security, platform::kCreateNew,
      platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint));
  if (!file_) failure_ = {"CreateFileA", folder.path() + name, files_.GetLastError()};
  // A file the creation made elsewhere (the name led out of the folder
  // after all) is removed again, through its handle.
  if (file_ && !folder.Holds(file_.get(), name)) {
    files_.SetFileInformationByHandle(file_.get(), platform::FileDispositionInfo{true});
    file_.reset();
  }
}

NewFile::NewFile(const PinnedFolder& folder, const std::string& name, AdoptTag)
    : folder_(folder),
      files_(folder.files_),
      name_(name),
      file_(folder.files_, platform::kInvalidHandleValue),
      settled_(true) {
  file_.reset(files_.CreateFileA(
      folder.path() + name, platform::kGenericRead | platform::kDelete | platform::kSynchronize,
      platform::kFileShareRead, platform::kOpenExisting,
      platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint));
  platform::ByHandleFileInformation info;
  platform::FileSecurity security;
  if (file_ &&
      (!folder.Holds(file_.get(), name) || !files_.GetFileInformationByHandle(file_.get(), &info) ||
       (info.attributes &
        (platform::kFileAttributeReparsePoint | platform::kFileAttributeDirectory)) != 0 ||
       info.number_of_links != 1 || !files_.GetSecurityInfo(file_.get(), &security) ||
       OthersMay(security, kChangesALink, folder.own_user_))) {
    file_.reset();
  }
}

bool NewFile::SameContent(const uint8_t* data, size_t size) {
  int64_t length = 0;
  if (!valid() || !files_.GetFileSizeEx(file_.get(), &length) ||
      static_cast<uint64_t>(length) != size ||
      !files_.SetFilePointerEx(file_.get(), 0, nullptr, platform::kFileBegin)) {
    return false;
  }
  std::vector<uint8_t> chunk(std::min<size_t>(size, kWriteBlockSize));
  for (size_t done = 0; done < size;) {
    const uint32_t want = static_cast<uint32_t>(std::min(chunk.size(), size - done));
    uint32_t read = 0;
    if (!files_.ReadFile(file_.get(), chunk.data(), want, &read) || read == 0 ||
        std::memcmp(chunk.data(), data + done, read) != 0) {
      return false;
    }
    done += read;
  }
  return true;
}

NewFile::~NewFile() {
  if (!file_) return;
  if (!settled_) {
    files_.SetFileInformationByHandle(file_.get(), platform::FileDispositionInfo{true});
  }
  file_.reset();
}

bool NewFile::Write(const uint8_t* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const uint32_t block = static_cast<uint32_t>(std::min<size_t>(kWriteBlockSize, size - done));
    uint32_t written = 0;
    if (!files_.WriteFile(file_.get(), data + done, block, &written) || written != block) {
      // A short write that reported success is a full disk (as Wine reports it).
      const uint32_t error =
          written != block && written != 0 ? platform::kErrorDiskFull : files_.GetLastError();
      failure_ = {"WriteFile", folder_.path() + name_, error};
      return false;
    }
    done += block;
  }
  // The data reaches the disk before the file takes the package's name: the
  // rename is recorded by the file system's journal, the data is not, and a
  // power cut soon after a rename of unflushed data can leave the package's
  // name over no content. A flush that fails is a write that failed.
  if (files_.FlushFileBuffers(file_.get())) return true;
  failure_ = {"FlushFileBuffers", folder_.path() + name_, files_.GetLastError()};
  return false;
}

bool NewFile::RenameTo(const std::string& name, bool replace_existing, uint32_t* error) {
  const std::u16string target = folder_.NtPathOf(name);
  if (target.empty()) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  if (!files_.SetFileInformationByHandle(file_.get(),
                                         platform::FileRenameInfo{replace_existing, target})) {
    *error = files_.GetLastError();
    failure_ = {"SetFileInformationByHandle (rename to)", folder_.path() + name, *error};
    return false;
  }
  name_ = name;
  settled_ = true;
  return true;
}

void NewFile::Keep() {
  settled_ = true;
  file_.reset();
}

bool NewFile::Close() {
  if (!settled_ && file_) {
    files_.SetFileInformationByHandle(file_.get(), platform::FileDispositionInfo{true});
  }
  return file_.reset();
}

void PinnedFolderDeleter::operator()(PinnedFolder* folder) const { delete folder; }

}  // namespace lexoria
