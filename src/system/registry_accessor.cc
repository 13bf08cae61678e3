#include "system/registry_accessor.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace lexoria {

namespace {

std::string NamedMessage(const char* format_head, const std::string& name) {
  return format_head + name + "'";
}

}  // namespace

TRegistry::TRegistry(platform::Registry& api) : api_(api) {}

TRegistry::TRegistry(platform::Registry& api, uint32_t access) : api_(api), access_(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(platform::HKey root) {
  // Paths below the current key would silently change meaning with another
  // root, so the key goes; with the same root the caller keeps its key.
  if (root == root_key_) return;
  CloseKey();
  root_key_ = root;
}

bool TRegistry::OpenKey(const std::string& path, bool create) {
  const bool relative = path.empty() || path.front() != '\\';
  const std::string sub_key = relative ? path : path.substr(1);
  const bool below_current = relative && HasOpenKey();
  const platform::HKey base = below_current ? current_key_ : root_key_;

  platform::HKey opened = platform::kNullHandle;
  long result;
  if (create && !sub_key.empty()) {
    uint32_t disposition = 0;
    result = api_.RegCreateKeyExA(base, sub_key.c_str(), /*reserved=*/0, /*class_name=*/nullptr,
                                  platform::kRegOptionNonVolatile, access_, &opened, &disposition);
  } else {
    // An empty path opens the base key again, through a handle of its own.
    result = api_.RegOpenKeyExA(base, sub_key.c_str(), /*options=*/0, access_, &opened);
  }
  // On failure the key that was open stays open and current.
  if (result != static_cast<long>(platform::kErrorSuccess)) return false;

  std::string new_path = below_current ? current_path_ + "\\" + sub_key : sub_key;
  CloseKey();
  current_key_ = opened;
  current_path_ = std::move(new_path);
  return true;
}

bool TRegistry::ValueExists(const std::string& name) {
  if (!HasOpenKey()) return false;
  return api_.RegQueryValueExA(current_key_, name.c_str(), /*type=*/nullptr, /*data=*/nullptr,
                               /*data_size=*/nullptr) == static_cast<long>(platform::kErrorSuccess);
}

std::string TRegistry::ReadString(const std::string& name) {
  if (!HasOpenKey()) return {};
  uint32_t type = platform::kRegNone;
  uint32_t size = 0;
  // A missing value is not an error for the callers: it reads as empty text.
  if (api_.RegQueryValueExA(current_key_, name.c_str(), &type, /*data=*/nullptr, &size) !=
          static_cast<long>(platform::kErrorSuccess) ||
      size == 0) {
    return {};
  }
  std::vector<uint8_t> buffer(size);
  uint32_t read = size;
  if (api_.RegQueryValueExA(current_key_, name.c_str(), &type, buffer.data(), &read) !=
      static_cast<long>(platform::kErrorSuccess)) {
    throw ERegistryException(NamedMessage("Failed to get data for '", name));
  }
  if (type != platform::kRegSz && type != platform::kRegExpandSz) {
    throw ERegistryException(NamedMessage("Invalid data type for '", name));
  }
  // Text values need not end in a NUL, and may hold bytes after one: the text
  // is what stands before the first NUL, within the bytes actually read.
  const size_t length = std::min<size_t>(read, buffer.size());
  size_t end = 0;
  while (end < length && buffer[end] != 0) ++end;
  return std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(end));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                           static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  WriteValue(name, platform::kRegDword, data, sizeof(data));
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  WriteValue(name, platform::kRegExpandSz, reinterpret_cast<const uint8_t*>(value.c_str()),
             static_cast<uint32_t>(value.size() + 1));
}

void TRegistry::WriteValue(const std::string& name, uint32_t type, const uint8_t* data,
                           uint32_t size) {
  // With no key open there is nothing to write to: the same failure as a
  // refused write, without handing a null key to the system.
  if (!HasOpenKey() || api_.RegSetValueExA(current_key_, name.c_str(), /*reserved=*/0, type, data,
                                           size) != static_cast<long>(platform::kErrorSuccess)) {
    throw ERegistryException(NamedMessage("Failed to set data for '", name));
  }
}

void TRegistry::DeleteValue(const std::string& name) {
  const long result = HasOpenKey() ? api_.RegDeleteValueA(current_key_, name.c_str())
                                   : platform::kErrorInvalidHandle;
  if (result != static_cast<long>(platform::kErrorSuccess) &&
      result != static_cast<long>(platform::kErrorFileNotFound)) {
    throw ERegistryException(NamedMessage("Failed to delete '", name));
  }
}

void TRegistry::CloseKey() {
  if (!HasOpenKey()) return;
  if (!lazy_write_) api_.RegFlushKey(current_key_);
  api_.RegCloseKey(current_key_);
  current_key_ = platform::kNullHandle;
  current_path_.clear();
}

void TRegistryDeleter::operator()(TRegistry* registry) const { delete registry; }

}  // namespace lexoria
