#include "fakes/fake_file_system.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "fakes/fake_registry.h"
#include "fakes/fake_utf.h"
#include "platform/processes.h"

namespace lexoria::testing {

using namespace platform;

namespace {

constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;

bool HasWildcardTail(const std::string& pattern, std::string* directory) {
  for (const char* tail : {"\\*.*", "\\*"}) {
    const size_t n = std::strlen(tail);
    if (pattern.size() >= n && pattern.compare(pattern.size() - n, n, tail) == 0) {
      *directory = pattern.substr(0, pattern.size() - n);
      return true;
    }
  }
  return false;
}

}  // namespace

FakeFileSystem::FakeFileSystem() { AddDirectory("C:"); }

std::string FakeFileSystem::Key(const std::string& path) {
  std::string key;
  key.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i] == '/' ? '\\' : path[i];
    const auto byte = static_cast<uint8_t>(c);
    // Names compare as the file system compares them, without regard to
    // case: ASCII, and the letters of code page 1251 the tests name files in.
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (byte >= 0xC0 && byte <= 0xDF) c = static_cast<char>(byte + 0x20);
    if (byte == 0xA8) c = static_cast<char>(0xB8);  // Ё, ё
    // A share's path keeps its two leading backslashes.
    if (c == '\\' && !key.empty() && key.back() == '\\' && i > 1) continue;
    key.push_back(c);
  }
  while (key.size() > 2 && key.back() == '\\') key.pop_back();
  if (key == "\\" || key == "\\\\") key.clear();
  return key;
}

std::string FakeFileSystem::Parent(const std::string& key) {
  const size_t slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

std::string FakeFileSystem::BaseName(const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  const size_t slash = trimmed.rfind('\\');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

void FakeFileSystem::Log(const std::string& call) {
  calls_.push_back(call);
  if (on_call) on_call(call);
}

bool FakeFileSystem::Fail(uint32_t error) {
  last_error_ = error;
  return false;
}

// Follows junctions in every component of `key`, so that paths below a
// junction reach the nodes of its target.
std::string FakeFileSystem::ResolveDirectory(const std::string& key) const {
  std::string resolved;
  size_t start = 0;
  int hops = 0;
  if (key.compare(0, 2, "\\\\") == 0) {
    // A share's root ("\\\\server\\share") is one name: no link replaces it.
    const size_t server_end = key.find('\\', 2);
    const size_t share_end =
        server_end == std::string::npos ? std::string::npos : key.find('\\', server_end + 1);
    if (share_end == std::string::npos) return key;
    resolved = key.substr(0, share_end);
    start = share_end + 1;
  }
  while (start <= key.size()) {
    const size_t slash = key.find('\\', start);
    const std::string part =
        key.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    resolved = resolved.empty() ? part : resolved + "\\" + part;
    auto it = nodes_.find(resolved);
    while (it != nodes_.end() && !it->second.junction_target.empty() && hops < 64) {
      resolved = it->second.junction_target;
      it = nodes_.find(resolved);
      ++hops;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return resolved;
}

std::string FakeFileSystem::ResolveParent(const std::string& key) const {
  const std::string parent = Parent(key);
  return parent.empty() ? key : ResolveDirectory(parent) + key.substr(parent.size());
}

// `path` without its last name, as written: the parent a node is made in,
// with the names the test gave it.
std::string FakeFileSystem::ParentPath(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/'))
    trimmed.pop_back();
  const size_t slash = trimmed.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : trimmed.substr(0, slash);
}

void FakeFileSystem::AddDirectory(const std::string& path) {
  const std::string key = Key(path);
  if (key.empty()) return;
  const std::string parent = Parent(key);
  if (!parent.empty() && nodes_.count(parent) == 0) AddDirectory(ParentPath(path));
  Node& node = nodes_[key];
  node.name = BaseName(path);
  node.directory = true;
  node.attributes = kFileAttributeDirectory;
}

void FakeFileSystem::AddFile(const std::string& path, const std::vector<uint8_t>& content,
                             uint32_t attributes) {
  const std::string key = Key(path);
  const std::string parent = Parent(key);
  if (!parent.empty() && nodes_.count(parent) == 0) AddDirectory(ParentPath(path));
  Node node;
  node.name = BaseName(path);
  node.attributes = attributes;
  node.data = content;
  nodes_[key] = std::move(node);
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content) {
  AddFile(path, std::vector<uint8_t>(content.begin(), content.end()));
}

void FakeFileSystem::AddSizedFile(const std::string& path, uint64_t size, uint32_t attributes) {
  AddFile(path, std::vector<uint8_t>(), attributes);
  Node& node = nodes_[Key(path)];
  node.is_sized = true;
  node.sized = size;
}

void FakeFileSystem::AddJunction(const std::string& path, const std::string& target) {
  AddDirectory(path);
  Node& node = nodes_[Key(path)];
  node.attributes = kFileAttributeDirectory | kFileAttributeReparsePoint;
  node.junction_target = Key(target);
  node.link_target = target;
}

void FakeFileSystem::AddFileLink(const std::string& path, const std::string& target) {
  AddFile(path, std::vector<uint8_t>(), kFileAttributeReparsePoint | kFileAttributeArchive);
  nodes_[Key(path)].junction_target = Key(target);
  nodes_[Key(path)].link_target = target;
}

void FakeFileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  auto it = nodes_.find(ResolveDirectory(Key(path)));
  if (it != nodes_.end()) it->second.attributes = attributes;
}

void FakeFileSystem::SetSecurity(const std::string& path, const FileSecurity& security) {
  auto it = nodes_.find(ResolveParent(Key(path)));
  if (it != nodes_.end()) it->second.security = security;
}

FileSecurity FakeFileSystem::AdministratorsOnly() {
  const Sid system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const Sid users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
  FileSecurity security;
  security.owner = kAdministratorsSid;
  security.has_dacl = true;
  security.dacl = {{kAccessAllowedAceType, 0, 0x1F01FF, system},
                   {kAccessAllowedAceType, 0, 0x1F01FF, kAdministratorsSid},
                   {kAccessAllowedAceType, 0, 0x1200A9, users}};
  return security;
}

FileSecurity FakeFileSystem::UsersMay(uint32_t rights) {
  const Sid authenticated_users = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
  FileSecurity security = AdministratorsOnly();
  security.dacl.push_back({kAccessAllowedAceType, 0, rights, authenticated_users});
  return security;
}

void FakeFileSystem::SetLinkCount(const std::string& path, uint32_t links) {
  auto it = nodes_.find(ResolveDirectory(Key(path)));
  if (it != nodes_.end()) it->second.links = links;
}

void FakeFileSystem::HoldOpen(const std::string& path, uint32_t access, uint32_t share_mode) {
  holders_.emplace(Key(path), Holder{access, share_mode});
}

void FakeFileSystem::SetFreeSpace(uint64_t bytes, bool short_write_succeeds) {
  free_space_ = bytes;
  short_write_succeeds_ = short_write_succeeds;
}

bool FakeFileSystem::Exists(const std::string& path) const {
  return nodes_.count(ResolveDirectory(Key(path))) != 0;
}

bool FakeFileSystem::IsDirectory(const std::string& path) const {
  auto it = nodes_.find(ResolveDirectory(Key(path)));
  return it != nodes_.end() && it->second.directory;
}

std::optional<std::vector<uint8_t>> FakeFileSystem::Content(const std::string& path) const {
  auto it = nodes_.find(ResolveDirectory(Key(path)));
  if (it == nodes_.end() || it->second.directory) return std::nullopt;
  if (it->second.is_sized) return std::vector<uint8_t>(it->second.sized, 0);
  return it->second.data;
}

std::string FakeFileSystem::ContentText(const std::string& path) const {
  auto content = Content(path);
  return content ? std::string(content->begin(), content->end()) : std::string();
}

std::vector<std::string> FakeFileSystem::List(const std::string& directory) const {
  std::vector<std::string> names;
  const std::string dir = ResolveDirectory(Key(directory));
  for (const auto& [key, node] : nodes_) {
    if (Parent(key) == dir && key != dir) names.push_back(node.name);
  }
  return names;
}

bool FakeFileSystem::SharingConflict(const std::string& key, uint32_t access,
                                     uint32_t share) const {
  constexpr uint32_t kWriting = kGenericWrite | 0x0004 /*FILE_APPEND_DATA*/;
  auto conflicts = [&](uint32_t their_access, uint32_t their_share) {
    if ((access & kGenericRead) && !(their_share & kFileShareRead)) return true;
    if ((access & kWriting) && !(their_share & kFileShareWrite)) return true;
    if ((their_access & kGenericRead) && !(share & kFileShareRead)) return true;
    if ((their_access & kWriting) && !(share & kFileShareWrite)) return true;
    if ((access & kDelete) && !(their_share & kFileShareDelete)) return true;
    if ((their_access & kDelete) && !(share & kFileShareDelete)) return true;
    return false;
  };
  if ((access & (kGenericRead | kWriting | kDelete)) == 0) return false;
  for (const auto& [handle, open] : handles_) {
    if (open.key == key && conflicts(open.access, open.share)) return true;
  }
  auto range = holders_.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (conflicts(it->second.access, it->second.share)) return true;
  }
  return false;
}

bool FakeFileSystem::HeldWithoutDeleteSharing(const std::string& key, Handle except) const {
  // A handle without read, write or delete access takes no part in sharing.
  constexpr uint32_t kShared = kGenericRead | kGenericWrite | kDelete;
  for (const auto& [handle, open] : handles_) {
    if (handle != except && open.key == key && (open.access & kShared) &&
        !(open.share & kFileShareDelete)) {
      return true;
    }
  }
  auto range = holders_.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    if (!(it->second.share & kFileShareDelete)) return true;
  }
  return false;
}

bool FakeFileSystem::HeldBelow(const std::string& key) const {
  const std::string prefix = key + "\\";
  for (const auto& [handle, open] : handles_) {
    if (open.key.compare(0, prefix.size(), prefix) == 0) return true;
  }
  for (const auto& [held, holder] : holders_) {
    if (held.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

Handle FakeFileSystem::CreateFileA(const std::string& path, uint32_t desired_access,
                                   uint32_t share_mode, const SecurityAttributes* security,
                                   uint32_t creation_disposition, uint32_t flags_and_attributes) {
  return OpenFile("CreateFileA", path, desired_access, share_mode, creation_disposition,
                  flags_and_attributes, security);
}

std::u16string FakeFileSystem::SecurityDescriptorOf(const std::string& path) const {
  auto it = nodes_.find(ResolveDirectory(Key(path)));
  return it == nodes_.end() ? std::u16string() : it->second.security_descriptor;
}

bool FakeFileSystem::IsInheritable(Handle file) const {
  auto h = handles_.find(file);
  return h != handles_.end() && h->second.inheritable;
}

Handle FakeFileSystem::CreateFileW(const std::u16string& path, uint32_t desired_access,
                                   uint32_t share_mode, uint32_t creation_disposition,
                                   uint32_t flags_and_attributes) {
  return OpenFile("CreateFileW", Utf16ToUtf8(path), desired_access, share_mode,
                  creation_disposition, flags_and_attributes);
}

Handle FakeFileSystem::OpenFile(const std::string& call, const std::string& path,
                                uint32_t desired_access, uint32_t share_mode,
                                uint32_t creation_disposition, uint32_t flags_and_attributes,
                                const SecurityAttributes* security) {
  Log(call + " " + path + " access=" + std::to_string(desired_access) + " share=" +
      std::to_string(share_mode) + " disposition=" + std::to_string(creation_disposition));
  if (security != nullptr && !security->security_descriptor.empty()) {
    const char16_t first = security->security_descriptor[0];
    if ((first != u'O' && first != u'G' && first != u'D' && first != u'S') ||
        security->security_descriptor.size() < 2 || security->security_descriptor[1] != u':') {
      Fail(kErrorInvalidParameter);
      return kInvalidHandleValue;
    }
  }
  const std::string key = (flags_and_attributes & kFileFlagOpenReparsePoint) && !opens_follow_links
                              ? ResolveParent(Key(path))
                              : ResolveDirectory(Key(path));
  if (denied_opens_.count(key) != 0) {
    Fail(kErrorAccessDenied);
    return kInvalidHandleValue;
  }
  auto it = nodes_.find(key);
  const bool exists = it != nodes_.end();
  if (exists && it->second.directory &&
      (!(flags_and_attributes & kFileFlagBackupSemantics) || creation_disposition == kCreateNew ||
       (desired_access & kGenericWrite))) {
    Fail(creation_disposition == kCreateNew ? kErrorFileExists : kErrorAccessDenied);
    return kInvalidHandleValue;
  }
  const bool wants_write = (desired_access & (kGenericWrite | 0x0004 /*appending*/)) != 0;
  if (!exists) {
    if (creation_disposition == kOpenExisting || creation_disposition == kTruncateExisting) {
      Fail(nodes_.count(Parent(key)) ? kErrorFileNotFound : kErrorPathNotFound);
      return kInvalidHandleValue;
    }
    auto parent = nodes_.find(Parent(key));
    if (parent == nodes_.end() || !parent->second.directory) {
      Fail(kErrorPathNotFound);
      return kInvalidHandleValue;
    }
    Node node;
    node.name = BaseName(path);
    if (security != nullptr) node.security_descriptor = security->security_descriptor;
    node.attributes = (flags_and_attributes & 0xFFFF) == kFileAttributeNormal
                          ? kFileAttributeArchive
                          : (flags_and_attributes & 0x27) | kFileAttributeArchive;
    it = nodes_.emplace(key, std::move(node)).first;
  } else {
    if (creation_disposition == kCreateNew) {
      Fail(kErrorFileExists);
      return kInvalidHandleValue;
    }
    if (wants_write && (it->second.attributes & kFileAttributeReadonly)) {
      Fail(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    const uint32_t hidden_system =
        it->second.attributes & (kFileAttributeHidden | kFileAttributeSystem);
    if (creation_disposition == kCreateAlways && hidden_system != 0 &&
        (flags_and_attributes & hidden_system) != hidden_system) {
      // CREATE_ALWAYS over a hidden or system file without the same
      // attributes is refused by Windows.
      Fail(kErrorAccessDenied);
      return kInvalidHandleValue;
    }
    if (SharingConflict(key, desired_access, share_mode)) {
      Fail(kErrorSharingViolation);
      return kInvalidHandleValue;
    }
    if (creation_disposition == kCreateAlways || creation_disposition == kTruncateExisting) {
      if (free_space_) *free_space_ += it->second.Size();
      it->second.data.clear();
      it->second.is_sized = false;
      it->second.sized = 0;
    }
  }
  const Handle handle = next_handle_++;
  handles_[handle] = Open{key, path, desired_access, share_mode, 0};
  handles_[handle].inheritable = security != nullptr && security->inherit_handle;
  handles_[handle].delete_on_close = (flags_and_attributes & kFileFlagDeleteOnClose) != 0;
  last_error_ = kErrorSuccess;
  return handle;
}

bool FakeFileSystem::ReadFile(Handle file, void* buffer, uint32_t to_read, uint32_t* read) {
  *read = 0;
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  if (!(h->second.access & kGenericRead)) return Fail(kErrorAccessDenied);
  if (failing_reads_.count(h->second.key) != 0 ||
      (good_reads_left_ && (*good_reads_left_)-- <= 0)) {
    return Fail(kErrorReadFault);
  }
  auto node = nodes_.find(h->second.key);
  if (node == nodes_.end()) return Fail(kErrorAccessDenied);
  const uint64_t size = node->second.Size();
  if (h->second.position >= size) return true;
  const uint64_t n = std::min<uint64_t>(to_read, size - h->second.position);
  if (node->second.is_sized) {
    std::memset(buffer, 0, n);
  } else {
    std::memcpy(buffer, node->second.data.data() + h->second.position, n);
  }
  h->second.position += n;
  *read = static_cast<uint32_t>(n);
  return true;
}

bool FakeFileSystem::WriteFile(Handle file, const void* buffer, uint32_t to_write,
                               uint32_t* written) {
  constexpr uint32_t kFileAppendData = 0x0004;
  *written = 0;
  largest_write_ = std::max(largest_write_, to_write);
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  if (!(h->second.access & (kGenericWrite | kFileAppendData))) return Fail(kErrorAccessDenied);
  // A handle that may only append writes at the end, wherever its position.
  if (!(h->second.access & kGenericWrite)) {
    auto appended = nodes_.find(h->second.key);
    if (appended != nodes_.end()) h->second.position = appended->second.Size();
  }
  if (single_write_limit_ && to_write > *single_write_limit_) {
    return Fail(kErrorNoSystemResources);
  }
  auto node = nodes_.find(h->second.key);
  if (node == nodes_.end()) return Fail(kErrorAccessDenied);
  Node& n = node->second;
  if (n.is_sized) {
    n.data.assign(n.sized, 0);
    n.is_sized = false;
  }
  const uint64_t end = h->second.position + to_write;
  uint64_t count = to_write;
  if (free_space_ && end > n.data.size()) {
    const uint64_t growth = end - n.data.size();
    if (growth > *free_space_) {
      if (!short_write_succeeds_) return Fail(kErrorDiskFull);
      count = to_write - (growth - *free_space_);
    }
  }
  const uint64_t new_end = h->second.position + count;
  if (new_end > n.data.size()) {
    if (free_space_) *free_space_ -= new_end - n.data.size();
    n.data.resize(new_end);
  }
  if (count != 0) std::memcpy(n.data.data() + h->second.position, buffer, count);
  h->second.position = new_end;
  *written = static_cast<uint32_t>(count);
  return true;
}

bool FakeFileSystem::SetFilePointerEx(Handle file, int64_t distance, int64_t* new_position,
                                      uint32_t move_method) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  auto node = nodes_.find(h->second.key);
  const int64_t size = node == nodes_.end() ? 0 : static_cast<int64_t>(node->second.Size());
  int64_t base = 0;
  if (move_method == kFileCurrent) base = static_cast<int64_t>(h->second.position);
  if (move_method == kFileEnd) base = size;
  const int64_t target = base + distance;
  if (target < 0) return Fail(kErrorInvalidParameter);
  h->second.position = static_cast<uint64_t>(target);
  if (new_position != nullptr) *new_position = target;
  return true;
}

bool FakeFileSystem::GetFileSizeEx(Handle file, int64_t* size) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  auto node = nodes_.find(h->second.key);
  *size = node == nodes_.end() ? 0 : static_cast<int64_t>(node->second.Size());
  return true;
}

bool FakeFileSystem::FlushFileBuffers(Handle file) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  Log("FlushFileBuffers " + h->second.path);
  if (!(h->second.access & kGenericWrite)) return Fail(kErrorAccessDenied);
  if (failing_flushes_.count(h->second.key) != 0) return Fail(kErrorWriteFault);
  return true;
}

bool FakeFileSystem::CloseHandle(Handle file) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  const Open open = h->second;
  handles_.erase(h);
  auto node = nodes_.find(open.key);
  if (open.delete_on_close && node != nodes_.end()) {
    if (free_space_) *free_space_ += node->second.Size();
    nodes_.erase(node);
  }
  if (failing_closes_.count(open.key) != 0) return Fail(kErrorWriteFault);
  return true;
}

FakeFileSystem::Node* FakeFileSystem::NodeOf(Handle file, Open** open) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle), nullptr;
  *open = &h->second;
  auto node = nodes_.find(h->second.key);
  return node == nodes_.end() ? (Fail(kErrorFileNotFound), nullptr) : &node->second;
}

bool FakeFileSystem::HasChildren(const std::string& key) const {
  auto child = nodes_.lower_bound(key + "\\");
  return child != nodes_.end() && child->first.compare(0, key.size() + 1, key + "\\") == 0;
}

bool FakeFileSystem::GetFileInformationByHandle(Handle file, ByHandleFileInformation* info) {
  Open* open = nullptr;
  const Node* node = NodeOf(file, &open);
  if (node == nullptr) return false;
  info->attributes = node->attributes;
  info->number_of_links = node->links;
  return true;
}

bool FakeFileSystem::GetFinalPathNameByHandleW(Handle file, std::u16string* path,
                                               uint32_t /*flags*/) {
  if (final_paths_unsupported) return Fail(kErrorCallNotImplemented);
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  const std::string& key = h->second.key;
  auto preset = final_paths_.find(key);
  if (preset != final_paths_.end()) {
    *path = preset->second;
    return true;
  }
  // The names as created, below the drive ("c:") or the share
  // ("\\\\server\\share"), whose own names are kept as given.
  const bool share = key.compare(0, 2, "\\\\") == 0;
  size_t root = share ? key.find('\\', key.find('\\', 2) + 1) : key.find('\\');
  if (root == std::string::npos) root = key.size();
  std::string shown = share ? key.substr(2, root - 2) : key.substr(0, root);
  if (!share && shown.size() == 2) shown[0] = static_cast<char>(std::toupper(shown[0]));
  for (size_t end = root; end < key.size();) {
    end = key.find('\\', end + 1);
    const std::string prefix = key.substr(0, end);
    auto node = nodes_.find(prefix);
    shown +=
        "\\" + (node != nodes_.end() ? node->second.name : prefix.substr(prefix.rfind('\\') + 1));
  }
  if (!share && shown.size() == 2) shown += '\\';  // a drive's root
  *path = (share ? u"\\\\?\\UNC\\" : u"\\\\?\\") + AnsiToUtf16(shown, CodePage());
  return true;
}

bool FakeFileSystem::SetFileInformationByHandle(Handle file, const FileBasicInfo& info) {
  Open* open = nullptr;
  Node* node = NodeOf(file, &open);
  if (node == nullptr) return false;
  Log("SetFileBasicInfo " + open->path + " " + std::to_string(info.file_attributes));
  if (!(open->access & (kFileWriteAttributes | kGenericWrite))) return Fail(kErrorAccessDenied);
  // As the file systems take them: the directory bit on a file, and the
  // temporary bit on a folder, are refused; bits that cannot be set
  // (compressed, encrypted, sparse, a reparse point...) are ignored.
  constexpr uint32_t kTemporary = 0x100;
  constexpr uint32_t kValidSetFlags = 0x31A7;
  if (((info.file_attributes & kFileAttributeDirectory) && !node->directory) ||
      ((info.file_attributes & kTemporary) && node->directory)) {
    return Fail(kErrorInvalidParameter);
  }
  const uint32_t set = info.file_attributes & kValidSetFlags & ~kFileAttributeNormal;
  node->attributes = set | (node->attributes & ~kValidSetFlags);
  return true;
}

bool FakeFileSystem::SetFileInformationByHandle(Handle file, const FileDispositionInfo& info) {
  constexpr uint32_t kErrorDirNotEmpty = 145;
  Open* open = nullptr;
  const Node* node = NodeOf(file, &open);
  if (node == nullptr) return false;
  Log("SetFileDispositionInfo " + open->path);
  if (!(open->access & kDelete) || (node->attributes & kFileAttributeReadonly) ||
      denied_deletes_.count(open->key) != 0) {
    return Fail(kErrorAccessDenied);
  }
  if (node->directory && node->junction_target.empty() && HasChildren(open->key)) {
    return Fail(kErrorDirNotEmpty);
  }
  open->delete_on_close = info.delete_file;
  return true;
}

bool FakeFileSystem::SetFileInformationByHandle(Handle file, const FileRenameInfo& info) {
  auto h = handles_.find(file);
  if (h == handles_.end()) return Fail(kErrorInvalidHandle);
  std::string target;
  const bool exact = Utf16ToAnsi(info.file_name, CodePage(), &target);
  Log("SetFileRenameInfo " + h->second.path + " -> " + target);
  if (!(h->second.access & kDelete)) return Fail(kErrorAccessDenied);
  if (!exact || target.compare(0, 4, "\\??\\") != 0) return Fail(kErrorInvalidParameter);
  target.erase(0, 4);
  // A share: "\??\UNC\server\share\..." is "\\server\share\...".
  if (target.compare(0, 4, "UNC\\") == 0) target = "\\" + target.substr(3);
  const std::string to = ResolveParent(Key(target));
  if (!Move(h->second.key, to, target, info.replace_if_exists ? kMovefileReplaceExisting : 0,
            file)) {
    return false;
  }
  h->second.key = to;
  h->second.path = target;
  return true;
}

bool FakeFileSystem::GetSecurityInfo(Handle file, FileSecurity* security) {
  Open* open = nullptr;
  const Node* node = NodeOf(file, &open);
  if (node == nullptr) return false;
  if (!(open->access & (kReadControl | kGenericRead | kGenericWrite | kGenericAll)) ||
      denied_security_.count(open->key) != 0) {
    return Fail(kErrorAccessDenied);
  }
  *security = node->security;
  return true;
}

bool FakeFileSystem::GetReparsePoint(Handle file, ReparsePoint* point) {
  Open* open = nullptr;
  const Node* node = NodeOf(file, &open);
  if (node == nullptr) return false;
  if (node->junction_target.empty()) return Fail(kErrorNotAReparsePoint);
  point->tag = node->directory ? kIoReparseTagMountPoint : kIoReparseTagSymlink;
  const std::string& target = node->link_target;
  const bool share = target.compare(0, 2, "\\\\") == 0;
  point->substitute_name =
      (share ? u"\\??\\UNC\\" : u"\\??\\") + AnsiToUtf16(target.substr(share ? 2 : 0), CodePage());
  point->relative = false;
  return true;
}

uint32_t FakeFileSystem::GetFileAttributesA(const std::string& path) {
  const std::string key = ResolveParent(Key(path));
  auto it = nodes_.find(key);
  if (denied_attributes_.count(key) != 0 || it == nodes_.end()) {
    Fail(it == nodes_.end() ? kErrorFileNotFound : kErrorAccessDenied);
    return kInvalidFileAttributes;
  }
  return it->second.attributes;
}

bool FakeFileSystem::SetFileAttributesA(const std::string& path, uint32_t attributes) {
  Log("SetFileAttributesA " + path + " " + std::to_string(attributes));
  auto it = nodes_.find(ResolveParent(Key(path)));
  if (it == nodes_.end()) return Fail(kErrorFileNotFound);
  constexpr uint32_t kKept = kFileAttributeDirectory | kFileAttributeReparsePoint;
  it->second.attributes = (attributes & ~kKept) | (it->second.attributes & kKept);
  return true;
}

bool FakeFileSystem::DeleteFileA(const std::string& path) {
  Log("DeleteFileA " + path);
  const std::string key = ResolveParent(Key(path));
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return Fail(kErrorFileNotFound);
  if (it->second.directory) return Fail(kErrorAccessDenied);
  if (it->second.attributes & kFileAttributeReadonly) return Fail(kErrorAccessDenied);
  if (denied_deletes_.count(key) != 0) return Fail(kErrorAccessDenied);
  if (HeldWithoutDeleteSharing(key)) return Fail(kErrorSharingViolation);
  if (free_space_) *free_space_ += it->second.Size();
  nodes_.erase(it);
  return true;
}

bool FakeFileSystem::RemoveDirectoryA(const std::string& path) {
  constexpr uint32_t kErrorDirNotEmpty = 145, kErrorDirectory = 267;
  Log("RemoveDirectoryA " + path);
  const std::string key = ResolveParent(Key(path));
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return Fail(kErrorFileNotFound);
  if (!it->second.directory) return Fail(kErrorDirectory);
  if (HeldWithoutDeleteSharing(key)) return Fail(kErrorSharingViolation);
  if (it->second.junction_target.empty() && HasChildren(key)) return Fail(kErrorDirNotEmpty);
  nodes_.erase(key);
  return true;
}

bool FakeFileSystem::MoveFileExA(const std::string& existing, const std::string& target,
                                 uint32_t flags) {
  Log("MoveFileExA " + existing + " -> " + target + " flags=" + std::to_string(flags));
  if (flags & kMovefileDelayUntilReboot) {
    constexpr uint32_t kKnownFlags = kMovefileReplaceExisting | kMovefileDelayUntilReboot |
                                     kMovefileWriteThrough | 0x2 /*copy allowed*/;
    // Windows refuses a restart-time rename that may copy, and flags it
    // does not know.
    if ((flags & ~kKnownFlags) != 0 || (flags & 0x2) != 0) return Fail(kErrorInvalidParameter);
    if (delayed_moves_fail) return Fail(kErrorAccessDenied);
    pending_renames.push_back({existing, target, flags & ~kMovefileDelayUntilReboot});
    if (registry != nullptr) {
      constexpr char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
      constexpr char kValue[] = "PendingFileRenameOperations";
      std::vector<uint8_t> data;
      if (auto value = registry->GetValue(kHkeyLocalMachine, kKey, kValue)) data = value->data;
      while (!data.empty() && data.back() == 0) data.pop_back();
      if (!data.empty()) data.push_back(0);
      const std::string to = target.empty() ? std::string()
                                            : ((flags & kMovefileReplaceExisting) ? "!" : "") +
                                                  std::string("\\??\\") + target;
      for (const std::string& name : {"\\??\\" + existing, to}) {
        data.insert(data.end(), name.begin(), name.end());
        data.push_back(0);
      }
      data.push_back(0);
      registry->SetValue(kHkeyLocalMachine, kKey, kValue, kRegMultiSz, data);
    }
    return true;
  }
  return Move(ResolveParent(Key(existing)), ResolveParent(Key(target)), target, flags,
              kInvalidHandleValue);
}

void FakeFileSystem::Restart() {
  handles_.clear();
  holders_.clear();
  const uint32_t move_error = move_error_;
  move_error_ = kErrorSuccess;
  // What Windows does at its start: the renames its registry lists, or,
  // without a registry, those asked for.
  std::vector<PendingRename> renames = pending_renames;
  constexpr char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  constexpr char kValue[] = "PendingFileRenameOperations";
  if (registry != nullptr) {
    renames.clear();
    std::vector<std::string> names;
    if (auto value = registry->GetValue(kHkeyLocalMachine, kKey, kValue)) {
      std::string name;
      for (const uint8_t byte : value->data) {
        if (byte != 0) {
          name.push_back(static_cast<char>(byte));
          continue;
        }
        names.push_back(name);
        name.clear();
      }
    }
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
      if (names[i].compare(0, 4, "\\??\\") != 0) continue;
      std::string to = names[i + 1];
      uint32_t flags = 0;
      if (!to.empty() && to[0] == '!') {
        flags = kMovefileReplaceExisting;
        to.erase(0, 1);
      }
      if (!to.empty() && to.compare(0, 4, "\\??\\") != 0) continue;
      renames.push_back({names[i].substr(4), to.empty() ? to : to.substr(4), flags});
    }
    registry->DeleteValue(kHkeyLocalMachine, kKey, kValue);
  }
  for (const PendingRename& rename : renames) {
    if (rename.to.empty()) {
      nodes_.erase(ResolveParent(Key(rename.from)));
      continue;
    }
    Move(ResolveParent(Key(rename.from)), ResolveParent(Key(rename.to)), rename.to, rename.flags,
         kInvalidHandleValue);
  }
  pending_renames.clear();
  move_error_ = move_error;
}

bool FakeFileSystem::Move(const std::string& from, const std::string& to,
                          const std::string& target_name, uint32_t flags, Handle renaming) {
  if (move_error_ != kErrorSuccess) return Fail(move_error_);
  auto source = nodes_.find(from);
  if (source == nodes_.end()) return Fail(kErrorFileNotFound);
  const bool folder = source->second.directory && source->second.junction_target.empty();
  if (HeldWithoutDeleteSharing(from, renaming)) return Fail(kErrorSharingViolation);
  // Windows renames no folder while something below it is open.
  if (folder && HeldBelow(from)) return Fail(kErrorAccessDenied);
  auto parent = nodes_.find(Parent(to));
  if (parent == nodes_.end() || !parent->second.directory) return Fail(kErrorPathNotFound);
  auto dest = nodes_.find(to);
  if (dest != nodes_.end() && from != to) {
    if (!(flags & kMovefileReplaceExisting) || source->second.directory) {
      return Fail(kErrorAlreadyExists);
    }
    if (dest->second.directory) return Fail(kErrorAccessDenied);
    if (dest->second.attributes & kFileAttributeReadonly) return Fail(kErrorAccessDenied);
    if (denied_deletes_.count(to) != 0) return Fail(kErrorAccessDenied);
    if (HeldWithoutDeleteSharing(to)) return Fail(kErrorAccessDenied);
    if (free_space_) *free_space_ += dest->second.Size();
    nodes_.erase(dest);
  }
  // The name and, for a folder, everything below it.
  std::vector<std::pair<std::string, Node>> moved;
  for (auto it = nodes_.lower_bound(from); it != nodes_.end();) {
    const bool below =
        it->first.size() > from.size() && it->first.compare(0, from.size() + 1, from + "\\") == 0;
    if (it->first != from && !(folder && below)) {
      if (it->first.compare(0, from.size(), from) != 0) break;
      ++it;
      continue;
    }
    moved.emplace_back(to + it->first.substr(from.size()), std::move(it->second));
    it = nodes_.erase(it);
  }
  for (auto& [key, node] : moved) nodes_[key] = std::move(node);
  nodes_[to].name = BaseName(target_name);
  return true;
}

bool FakeFileSystem::CreateDirectoryA(const std::string& path) {
  const std::string key = ResolveDirectory(Key(path));
  if (nodes_.count(key) != 0) return Fail(kErrorAlreadyExists);
  auto parent = nodes_.find(Parent(key));
  if (parent == nodes_.end() || !parent->second.directory) return Fail(kErrorPathNotFound);
  AddDirectory(path);
  return true;
}

Handle FakeFileSystem::FindFirstFileA(const std::string& pattern, FindData* data) {
  std::string directory;
  if (!HasWildcardTail(pattern, &directory)) {
    Fail(kErrorInvalidParameter);
    return kInvalidHandleValue;
  }
  const std::string requested = Key(directory);
  const std::string key = ResolveDirectory(requested);
  auto dir = nodes_.find(key);
  if (dir == nodes_.end() || !dir->second.directory) {
    Fail(kErrorPathNotFound);
    return kInvalidHandleValue;
  }
  if (denied_listings_.count(key) != 0 || denied_listings_.count(requested) != 0) {
    Fail(kErrorAccessDenied);
    return kInvalidHandleValue;
  }
  Find find;
  if (key.find('\\') != std::string::npos) {  // a drive root lists no "." and ".."
    for (const char* dots : {".", ".."}) {
      FindData entry;
      entry.attributes = kFileAttributeDirectory;
      entry.name = dots;
      find.entries.push_back(entry);
    }
  }
  const std::string prefix = key + "\\";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
    FindData entry;
    entry.attributes = it->second.attributes;
    entry.size = it->second.directory ? 0 : it->second.Size();
    entry.reserved0 = it->second.junction_target.empty() ? 0 : 0xA0000003;  // mount point tag
    entry.name = it->second.name;
    find.entries.push_back(entry);
  }
  if (find.entries.empty()) {
    Fail(kErrorFileNotFound);
    return kInvalidHandleValue;
  }
  *data = find.entries[0];
  find.next = 1;
  const Handle handle = next_handle_++;
  finds_[handle] = std::move(find);
  last_error_ = kErrorSuccess;
  return handle;
}

bool FakeFileSystem::FindNextFileA(Handle find, FindData* data) {
  auto it = finds_.find(find);
  if (it == finds_.end()) return Fail(kErrorInvalidHandle);
  if (it->second.next >= it->second.entries.size()) return Fail(kErrorNoMoreFiles);
  *data = it->second.entries[it->second.next++];
  return true;
}

bool FakeFileSystem::FindClose(Handle find) {
  if (finds_.erase(find) == 0) return Fail(kErrorInvalidHandle);
  return true;
}

}  // namespace lexoria::testing
