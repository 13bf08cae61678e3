#include "fakes/fake_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace lexoria::testing {

using namespace platform;

namespace {

constexpr long kErrorBadPathname = 161;
constexpr uint32_t kViewBits = kKeyWow64_64Key | kKeyWow64_32Key;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

// Splits a relative key path into its components. A trailing backslash is
// tolerated (the setup's key constants end in one); a leading or doubled
// backslash is malformed, as it is for advapi32.
bool SplitPath(const std::string& path, std::vector<std::string>* parts) {
  parts->clear();
  if (path.empty()) return true;
  size_t start = 0;
  while (start < path.size()) {
    const size_t slash = path.find('\\', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end == start) return false;
    parts->push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

bool IsBelowOrSame(const std::string& path, const std::string& ancestor) {
  return path == ancestor ||
         (path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
          path[ancestor.size()] == '\\');
}

}  // namespace

std::string FakeRegistry::Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string FakeRegistry::RootName(HKey root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "HKCR";
    case kHkeyCurrentUser:
      return "HKCU";
    case kHkeyLocalMachine:
      return "HKLM";
    case kHkeyUsers:
      return "HKU";
    default:
      return {};
  }
}

// Joins the base path with the components and applies the WOW64 redirection
// of HKLM\Software: a 32-bit view open of HKLM\Software\X reaches
// HKLM\Software\WOW6432Node\X (HKLM\Software itself is shared).
std::optional<std::string> FakeRegistry::Resolve(HKey base, const char* sub_key, uint32_t sam,
                                                 bool* bad_path) const {
  *bad_path = false;
  std::string path = RootName(base);
  if (path.empty()) {
    const OpenKey* open = Find(base);
    if (open == nullptr) return std::nullopt;
    path = open->path;
  }
  std::vector<std::string> parts;
  if (!SplitPath(sub_key != nullptr ? sub_key : "", &parts)) {
    *bad_path = true;
    return path;
  }
  for (const std::string& part : parts) path += "\\" + Upper(part);

  const bool view32 = windows_64bit && ((sam & kKeyWow64_32Key) != 0 ||
                                        (process_32bit && (sam & kKeyWow64_64Key) == 0));
  const std::string software = "HKLM\\SOFTWARE\\";
  if (view32 && path.compare(0, software.size(), software) == 0 &&
      !IsBelowOrSame(path, "HKLM\\SOFTWARE\\WOW6432NODE")) {
    path.insert(software.size(), "WOW6432NODE\\");
  }
  return path;
}

std::string FakeRegistry::Physical(HKey root, const std::string& path, View view) const {
  bool bad_path = false;
  // A test's k32 view is what a 32-bit process sees; k64 the native view.
  const uint32_t sam = view == View::k32 ? kKeyWow64_32Key : kKeyWow64_64Key;
  std::optional<std::string> physical = Resolve(root, path.c_str(), sam, &bad_path);
  if (!physical || bad_path) {
    std::fprintf(stderr, "FakeRegistry: bad test path %s\n", path.c_str());
    std::abort();
  }
  return *physical;
}

bool FakeRegistry::Exists(const std::string& path) const {
  return path.find('\\') == std::string::npos || keys_.count(path) != 0;
}

bool FakeRegistry::Denied(const std::string& path, uint32_t sam) const {
  for (const std::string& denied : denied_) {
    if (IsBelowOrSame(path, denied)) return true;
  }
  if ((sam & ~(kKeyRead | kViewBits)) == 0) return false;
  for (const std::string& read_only : read_only_) {
    if (IsBelowOrSame(path, read_only)) return true;
  }
  return false;
}

HKey FakeRegistry::NewHandle(const std::string& path, uint32_t sam) {
  const HKey handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = OpenKey{path, sam};
  return handle;
}

const FakeRegistry::OpenKey* FakeRegistry::Find(HKey key) const {
  auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : &it->second;
}

FakeRegistry::Key& FakeRegistry::MakeKeys(const std::string& path) {
  // Every ancestor below the root exists as a key of its own.
  size_t slash = path.find('\\');
  while (slash != std::string::npos) {
    const size_t next = path.find('\\', slash + 1);
    keys_[path.substr(0, next)];
    slash = next;
  }
  return keys_[path];
}

void FakeRegistry::AddKey(HKey root, const std::string& path, View view) {
  MakeKeys(Physical(root, path, view));
}

void FakeRegistry::SetValue(HKey root, const std::string& path, const std::string& name,
                            uint32_t type, std::vector<uint8_t> data, View view) {
  MakeKeys(Physical(root, path, view)).values[Upper(name)] = Value{type, std::move(data)};
}

void FakeRegistry::SetString(HKey root, const std::string& path, const std::string& name,
                             const std::string& value, View view) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  SetValue(root, path, name, kRegSz, std::move(data), view);
}

void FakeRegistry::SetExpandString(HKey root, const std::string& path, const std::string& name,
                                   const std::string& value, View view) {
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  SetValue(root, path, name, kRegExpandSz, std::move(data), view);
}

void FakeRegistry::SetDword(HKey root, const std::string& path, const std::string& name,
                            uint32_t value, View view) {
  SetValue(root, path, name, kRegDword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)},
           view);
}

void FakeRegistry::DeleteKey(HKey root, const std::string& path, View view) {
  const std::string physical = Physical(root, path, view);
  for (auto it = keys_.begin(); it != keys_.end();) {
    it = IsBelowOrSame(it->first, physical) ? keys_.erase(it) : std::next(it);
  }
}

void FakeRegistry::DeleteValue(HKey root, const std::string& path, const std::string& name,
                               View view) {
  auto key = keys_.find(Physical(root, path, view));
  if (key != keys_.end()) key->second.values.erase(Upper(name));
}

void FakeRegistry::DenyAccess(HKey root, const std::string& path, View view) {
  denied_.insert(Physical(root, path, view));
}

void FakeRegistry::MakeReadOnly(HKey root, const std::string& path, View view) {
  read_only_.insert(Physical(root, path, view));
}

void FakeRegistry::FailDataQuery(HKey root, const std::string& path, const std::string& name,
                                 long error, View view) {
  failing_queries_[{Physical(root, path, view), Upper(name)}] = error;
}

bool FakeRegistry::KeyExists(HKey root, const std::string& path, View view) const {
  return Exists(Physical(root, path, view));
}

std::optional<FakeRegistry::Value> FakeRegistry::GetValue(HKey root, const std::string& path,
                                                          const std::string& name,
                                                          View view) const {
  auto key = keys_.find(Physical(root, path, view));
  if (key == keys_.end()) return std::nullopt;
  auto value = key->second.values.find(Upper(name));
  if (value == key->second.values.end()) return std::nullopt;
  return value->second;
}

std::vector<std::string> FakeRegistry::OpenKeyPaths() const {
  std::vector<std::string> paths;
  for (const auto& [handle, open] : handles_) paths.push_back(open.path);
  return paths;
}

long FakeRegistry::RegOpenKeyExA(HKey key, const char* sub_key, uint32_t /*options*/,
                                 uint32_t sam_desired, HKey* result) {
  bool bad_path = false;
  const std::optional<std::string> path = Resolve(key, sub_key, sam_desired, &bad_path);
  calls_.push_back("RegOpenKeyExA " + path.value_or("<invalid>") + " sam=" + Hex(sam_desired));
  if (!path) return kErrorInvalidHandle;
  if (bad_path) return kErrorBadPathname;
  if (!Exists(*path)) return kErrorFileNotFound;
  if (Denied(*path, sam_desired)) return kErrorAccessDenied;
  *result = NewHandle(*path, sam_desired);
  return kErrorSuccess;
}

long FakeRegistry::RegCreateKeyExA(HKey key, const char* sub_key, uint32_t /*reserved*/,
                                   const char* /*class_name*/, uint32_t options,
                                   uint32_t sam_desired, HKey* result, uint32_t* disposition) {
  bool bad_path = false;
  const std::optional<std::string> path = Resolve(key, sub_key, sam_desired, &bad_path);
  calls_.push_back("RegCreateKeyExA " + path.value_or("<invalid>") + " sam=" + Hex(sam_desired) +
                   " options=" + Hex(options));
  if (!path) return kErrorInvalidHandle;
  if (bad_path) return kErrorBadPathname;
  const bool existed = Exists(*path);
  // Making a key needs the right to create subkeys in its parent.
  if (Denied(*path, existed ? sam_desired : sam_desired | kKeyCreateSubKey)) {
    return kErrorAccessDenied;
  }
  if (!existed) MakeKeys(*path);
  *result = NewHandle(*path, sam_desired);
  if (disposition != nullptr) *disposition = existed ? kRegOpenedExistingKey : kRegCreatedNewKey;
  return kErrorSuccess;
}

long FakeRegistry::RegQueryValueExA(HKey key, const char* value_name, uint32_t* type, uint8_t* data,
                                    uint32_t* data_size) {
  const std::string name = Upper(value_name != nullptr ? value_name : "");
  std::string path = RootName(key);
  const OpenKey* open = Find(key);
  if (open != nullptr) path = open->path;
  calls_.push_back("RegQueryValueExA " + (path.empty() ? "<invalid>" : path) + " " + name);
  if (path.empty()) return kErrorInvalidHandle;
  if (open != nullptr && (open->sam & kKeyQueryValue) == 0) return kErrorAccessDenied;
  auto found = keys_.find(path);
  if (found == keys_.end()) return kErrorFileNotFound;
  auto value = found->second.values.find(name);
  if (value == found->second.values.end()) return kErrorFileNotFound;
  const uint32_t size = static_cast<uint32_t>(value->second.data.size());
  if (data != nullptr) {
    auto failing = failing_queries_.find({path, name});
    if (failing != failing_queries_.end()) return failing->second;
    if (data_size == nullptr) return kErrorInvalidParameter;
    if (*data_size < size) {
      *data_size = size;
      if (type != nullptr) *type = value->second.type;
      return kErrorMoreData;
    }
    if (size != 0) std::memcpy(data, value->second.data.data(), size);
  }
  if (type != nullptr) *type = value->second.type;
  if (data_size != nullptr) *data_size = size;
  return kErrorSuccess;
}

long FakeRegistry::RegSetValueExA(HKey key, const char* value_name, uint32_t /*reserved*/,
                                  uint32_t type, const uint8_t* data, uint32_t data_size) {
  const std::string name = Upper(value_name != nullptr ? value_name : "");
  std::string path = RootName(key);
  const OpenKey* open = Find(key);
  if (open != nullptr) path = open->path;
  calls_.push_back("RegSetValueExA " + (path.empty() ? "<invalid>" : path) + " " + name +
                   " type=" + std::to_string(type));
  if (path.empty()) return kErrorInvalidHandle;
  if (open != nullptr && (open->sam & kKeySetValue) == 0) return kErrorAccessDenied;
  if (write_error_ != 0) return write_error_;
  std::vector<uint8_t> bytes;
  if (data != nullptr) bytes.assign(data, data + data_size);
  MakeKeys(path).values[name] = Value{type, std::move(bytes)};
  return kErrorSuccess;
}

long FakeRegistry::RegDeleteValueA(HKey key, const char* value_name) {
  const std::string name = Upper(value_name != nullptr ? value_name : "");
  const OpenKey* open = Find(key);
  const std::string path = open != nullptr ? open->path : RootName(key);
  calls_.push_back("RegDeleteValueA " + (path.empty() ? "<invalid>" : path) + " " + name);
  if (path.empty()) return kErrorInvalidHandle;
  if (open != nullptr && (open->sam & kKeySetValue) == 0) return kErrorAccessDenied;
  if (write_error_ != 0) return write_error_;
  auto found = keys_.find(path);
  if (found == keys_.end() || found->second.values.erase(name) == 0) return kErrorFileNotFound;
  return kErrorSuccess;
}

long FakeRegistry::RegCloseKey(HKey key) {
  const OpenKey* open = Find(key);
  calls_.push_back("RegCloseKey " + (open != nullptr ? open->path : RootName(key)));
  if (open != nullptr) {
    handles_.erase(key);
    return kErrorSuccess;
  }
  return RootName(key).empty() ? kErrorInvalidHandle : kErrorSuccess;
}

long FakeRegistry::RegFlushKey(HKey key) {
  const OpenKey* open = Find(key);
  calls_.push_back("RegFlushKey " + (open != nullptr ? open->path : RootName(key)));
  return open != nullptr || !RootName(key).empty() ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace lexoria::testing
