#include "install/pinned_folder.h"

#include <cstddef>

namespace lexoria {

namespace {

constexpr char16_t kFinalPrefix[] = u"\\\\?\\";          // \\?\C:\dir
constexpr char16_t kFinalUncPrefix[] = u"\\\\?\\UNC\\";  // \\?\UNC\server\share\dir
constexpr char16_t kNtPrefix[] = u"\\??\\";

bool StartsWith(const std::u16string& text, const char16_t* prefix) {
  return text.compare(0, std::char_traits<char16_t>::length(prefix), prefix) == 0;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Paths name the same file when they differ at most in the case of ASCII
// letters, as the file system compares names. A difference in any other
// letter's case counts as another name: the caller then leaves the name
// alone, which fails safe.
bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// `directory` without its trailing backslashes, except for a drive's root,
// which needs its backslash ("C:" alone is the drive's current directory).
std::string FolderName(const std::string& directory) {
  std::string name = directory;
  while (!name.empty() && name.back() == '\\') name.pop_back();
  if (name.size() == 2 && name[1] == ':') name += '\\';
  return name;
}

// Length of the part of `folder` that is a drive ("C:") or a share
// ("\\server\share"), which no junction can replace.
size_t RootLength(const std::string& folder) {
  if (folder.compare(0, 2, "\\\\") != 0) return folder.size() >= 2 ? 2 : folder.size();
  const size_t server_end = folder.find('\\', 2);
  if (server_end == std::string::npos) return folder.size();
  const size_t share_end = folder.find('\\', server_end + 1);
  return share_end == std::string::npos ? folder.size() : share_end;
}

}  // namespace

PinnedFolder::PinnedFolder(platform::FileSystem& files, platform::SystemInfo& system,
                           const std::string& directory)
    : files_(files), system_(system), handle_(files, platform::kInvalidHandleValue) {
  const std::string folder = FolderName(directory);
  // Read access, so that the handle takes part in sharing checks: every
  // rename or removal of the folder opens it for deleting, which a handle
  // not sharing delete refuses, and Windows renames no folder above a handle
  // that is open.
  handle_.Reset(files_.CreateFileA(folder, platform::kGenericRead,
                                   platform::kFileShareRead | platform::kFileShareWrite,
                                   platform::kOpenExisting, platform::kFileFlagBackupSemantics));
  if (!handle_.valid()) throw FolderRefused();  // cannot open the folder
  platform::ByHandleFileInformation info;
  if (!files_.GetFileInformationByHandle(handle_.get(), &info) ||
      (info.attributes & platform::kFileAttributeDirectory) == 0) {
    throw FolderRefused();  // no folder there
  }
  std::u16string final;
  if (files_.GetFinalPathNameByHandleW(handle_.get(), &final,
                                       platform::kFileNameNormalized | platform::kVolumeNameDos)) {
    if (!ToSystemPath(final, &path_)) {
      throw FolderRefused();  // the folder is on no drive or share of this code page
    }
    while (final.size() > 1 && final.back() == u'\\') final.pop_back();
    final_ = final;
  } else if (files_.GetLastError() == platform::kErrorCallNotImplemented) {
    // No final paths (Windows XP): the path stays as given, and only a path
    // without a link in it can be trusted.
    const size_t root = RootLength(folder);
    std::string part = folder;
    while (true) {
      while (part.size() > root && part.back() == '\\') part.pop_back();
      if (part.size() <= root) break;
      const uint32_t attributes = files_.GetFileAttributesA(part);
      if (attributes == platform::kInvalidFileAttributes ||
          (attributes & platform::kFileAttributeReparsePoint) != 0) {
        throw FolderRefused();  // a link on the way, or a folder that cannot be read
      }
      const size_t cut = part.rfind('\\');
      if (cut == std::string::npos) break;
      part.erase(cut);
    }
    path_ = folder;
  } else {
    throw FolderRefused();  // no final path of the folder
  }
  if (path_.empty() || path_.back() != '\\') path_ += '\\';
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

std::u16string PinnedFolder::NtPathOf(const std::string& name) const {
  if (final_.empty()) return {};
  std::u16string path = kNtPrefix + final_.substr(std::char_traits<char16_t>::length(kFinalPrefix));
  if (path.back() != u'\\') path += u'\\';
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
    path += static_cast<char16_t>(c);
  }
  return path;
}

bool PinnedFolder::Holds(platform::Handle file, const std::string& name) const {
  if (final_.empty()) return true;
  std::u16string final;
  std::string path;
  return files_.GetFinalPathNameByHandleW(
             file, &final, platform::kFileNameNormalized | platform::kVolumeNameDos) &&
         ToSystemPath(final, &path) && SamePath(path, path_ + name);
}

}  // namespace lexoria
