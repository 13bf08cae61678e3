// TRegistry: the setup's small registry key object. It remembers a root key,
// an access mask and at most one open key, and raises ERegistryException when
// a value cannot be read or written.
#ifndef LEXORIA_SYSTEM_REGISTRY_ACCESSOR_H_
#define LEXORIA_SYSTEM_REGISTRY_ACCESSOR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/registry.h"

namespace lexoria {

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Not thread-safe: one current key per object; only the main thread uses it.
class TRegistry {
 public:
  // Root key HKEY_CURRENT_USER, access KEY_ALL_ACCESS, no key open.
  explicit TRegistry(platform::Registry& api);
  TRegistry(platform::Registry& api, uint32_t access);
  // Closes the current key, if any.
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // A different root closes the current key; the same root keeps it open.
  void SetRootKey(platform::HKey root);
  platform::HKey RootKey() const { return root_key_; }
  uint32_t Access() const { return access_; }
  void SetAccess(uint32_t access) { access_ = access; }

  // Opens `path` (relative to the open key unless it begins with a
  // backslash), creating missing keys when `create` is set. True when the key
  // is now open; on false the previous key stays open.
  bool OpenKey(const std::string& path, bool create);
  // True when the current key has a value of that name (of any type).
  bool ValueExists(const std::string& name);
  // The text of a REG_SZ or REG_EXPAND_SZ value, cut at its first NUL; the
  // empty text for a missing value or with no key open. Raises
  // ERegistryException for another type or a failed data query.
  std::string ReadString(const std::string& name);
  // Writes a REG_DWORD. Raises ERegistryException when the write fails (also
  // with no key open).
  void WriteInteger(const std::string& name, int32_t value);
  void CloseKey();

  bool HasOpenKey() const { return current_key_ != platform::kNullHandle; }
  platform::HKey CurrentKey() const { return current_key_; }
  const std::string& CurrentPath() const { return current_path_; }

 private:
  platform::Registry& api_;
  platform::HKey current_key_ = platform::kNullHandle;
  platform::HKey root_key_ = platform::kHkeyCurrentUser;
  bool lazy_write_ = true;
  std::string current_path_;
  uint32_t access_ = platform::kKeyAllAccess;
};

// Closes the accessor's key when the scope ends, also when a value operation
// raised: the calling pattern of every user of TRegistry.
class KeyCloser {
 public:
  explicit KeyCloser(TRegistry& registry) : registry_(registry) {}
  ~KeyCloser() { registry_.CloseKey(); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  TRegistry& registry_;
};

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_REGISTRY_ACCESSOR_H_
