// TRegistry: the setup's small registry key object. It remembers a root key,
// an access mask and at most one open key, and raises ERegistryException when
// a value cannot be read or written.
#ifndef LEXORIA_SYSTEM_REGISTRY_ACCESSOR_H_
#define LEXORIA_SYSTEM_REGISTRY_ACCESSOR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/setup_context.h"
#include "platform/registry.h"

namespace lexoria {

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Not thread-safe: one current key per object; only the main thread uses it.
//
// The calling pattern of every user: SetRootKey, OpenKey, value operations,
// CloseKey (through KeyCloser, so it also runs when a value operation raises).
class TRegistry {
 public:
  // Root key HKEY_CURRENT_USER, access KEY_ALL_ACCESS (0xF003F), lazy write
  // on, no key open. Opens nothing, so it cannot fail.
  explicit TRegistry(platform::Registry& api);
  // As above with the given access mask, passed to every open and create
  // (0xF013F asks for the 64-bit view of 64-bit Windows).
  TRegistry(platform::Registry& api, uint32_t access);
  // Closes the current key, if any.
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // A different root closes the current key; the same root keeps it open.
  void SetRootKey(platform::HKey root);
  platform::HKey RootKey() const { return root_key_; }
  uint32_t Access() const { return access_; }
  // Callers may add bits (KEY_WOW64_64KEY) before opening.
  void SetAccess(uint32_t access) { access_ = access; }
  // With lazy write off, CloseKey flushes the key before closing it. The
  // setup never turns it off.
  void SetLazyWrite(bool lazy_write) { lazy_write_ = lazy_write; }
  bool LazyWrite() const { return lazy_write_; }

  // Opens `path` with the access mask. A path beginning with a backslash is
  // absolute (below the root key, the backslash dropped); any other is
  // relative to the open key, or to the root key when none is open. With
  // `create` set and a non-empty path, missing keys on the path are created
  // (RegCreateKeyExA); otherwise RegOpenKeyExA, where an empty path opens the
  // base key again. True when the new key is open and current: the previous
  // key is closed and CurrentPath() is the old path, a backslash and `path`
  // for a relative open below an open key, else `path` without its leading
  // backslash. On false (missing key, refused access) nothing changes: the
  // previous key stays open and current.
  bool OpenKey(const std::string& path, bool create);
  // True when the current key has a value of that name (of any type); false
  // with no key open.
  bool ValueExists(const std::string& name);
  // The text of a REG_SZ or REG_EXPAND_SZ value (unexpanded), cut at its
  // first NUL. The empty text for a missing or empty value or with no key
  // open: nothing is raised then. Raises ERegistryException "Failed to get
  // data for '<name>'" when the data query fails, and "Invalid data type for
  // '<name>'" for a value of another type.
  std::string ReadString(const std::string& name);
  // Writes `value` as a REG_DWORD (4 bytes, low byte first). Raises
  // ERegistryException "Failed to set data for '<name>'" when the write fails
  // or no key is open.
  void WriteInteger(const std::string& name, int32_t value);
  // Writes `value` as a REG_EXPAND_SZ, with its terminating NUL. Raises as
  // WriteInteger does.
  void WriteExpandString(const std::string& name, const std::string& value);
  // Removes the value `name` of the current key; a value that is not there
  // is no failure. Raises as WriteInteger does when the removal is refused or
  // no key is open.
  void DeleteValue(const std::string& name);
  // Closes the current key (flushing it first with lazy write off); then no
  // key is open and the current path is empty. Nothing with no key open.
  void CloseKey();

  bool HasOpenKey() const { return current_key_ != platform::kNullHandle; }
  platform::HKey CurrentKey() const { return current_key_; }
  const std::string& CurrentPath() const { return current_path_; }

 private:
  void WriteValue(const std::string& name, uint32_t type, const uint8_t* data, uint32_t size);

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
