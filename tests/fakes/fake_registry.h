// An in-memory registry in the shape of the advapi32 calls: the predefined
// roots, nested keys, typed values, the 32-bit and 64-bit views of 64-bit
// Windows, refused access per key, and tracking of every handle it gives out
// so that a test can check that each opened key was closed again.
#ifndef LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_
#define LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace lexoria::testing {

// Which registry view a test means when it sets or inspects a key. k64 is the
// native view (the keys as a 64-bit program sees them); k32 is what a 32-bit
// program sees on 64-bit Windows: HKLM\Software\X lies physically in
// HKLM\Software\WOW6432Node\X. On 32-bit Windows both views are the same.
enum class View { k64, k32 };

class FakeRegistry final : public platform::Registry {
 public:
  struct Value {
    uint32_t type = platform::kRegNone;
    std::vector<uint8_t> data;
  };

  // --- The machine. By default: 64-bit Windows, and the caller a 32-bit
  // process, so that opens without KEY_WOW64_64KEY of keys under
  // HKLM\Software are redirected to WOW6432Node.
  bool windows_64bit = true;
  bool process_32bit = true;

  // --- Setting the scene. Paths are relative to `root`, without a leading
  // backslash; names match without regard to ASCII case. Missing keys on the
  // path are created. A value name "" is the key's default value.
  void AddKey(platform::HKey root, const std::string& path, View view = View::k64);
  void SetValue(platform::HKey root, const std::string& path, const std::string& name,
                uint32_t type, std::vector<uint8_t> data, View view = View::k64);
  // REG_SZ with its terminating NUL, as RegSetValueExA stores a text.
  void SetString(platform::HKey root, const std::string& path, const std::string& name,
                 const std::string& value, View view = View::k64);
  void SetExpandString(platform::HKey root, const std::string& path, const std::string& name,
                       const std::string& value, View view = View::k64);
  void SetDword(platform::HKey root, const std::string& path, const std::string& name,
                uint32_t value, View view = View::k64);
  void DeleteKey(platform::HKey root, const std::string& path, View view = View::k64);
  void DeleteValue(platform::HKey root, const std::string& path, const std::string& name,
                   View view = View::k64);

  // --- Faults.
  // Every open or create of this key fails with ERROR_ACCESS_DENIED, as does
  // the creation of keys below it.
  void DenyAccess(platform::HKey root, const std::string& path, View view = View::k64);
  // Opens of this key asking for more than KEY_READ fail with
  // ERROR_ACCESS_DENIED (a machine key as a user without administrator
  // rights sees it); reads still open. Keys below it inherit the restriction.
  void MakeReadOnly(platform::HKey root, const std::string& path, View view = View::k64);
  // A query of this value with a data buffer fails with `error` (the type and
  // size query still succeeds): a value that changes or vanishes between the
  // two queries.
  void FailDataQuery(platform::HKey root, const std::string& path, const std::string& name,
                     long error, View view = View::k64);
  // Every RegSetValueExA fails with `error` (0 lifts the fault).
  void FailWrites(long error) { write_error_ = error; }

  // --- Inspecting.
  bool KeyExists(platform::HKey root, const std::string& path, View view = View::k64) const;
  std::optional<Value> GetValue(platform::HKey root, const std::string& path,
                                const std::string& name, View view = View::k64) const;
  // The handles given out and not closed yet.
  size_t OpenKeyCount() const { return handles_.size(); }
  // The physical paths ("HKLM\SOFTWARE\...", upper-cased) of the keys
  // still open.
  std::vector<std::string> OpenKeyPaths() const;
  // Every call, in order: "RegOpenKeyExA <resolved path> sam=0x000F013F",
  // "RegCreateKeyExA <resolved path> sam=.. options=..",
  // "RegQueryValueExA <path> <name>", "RegSetValueExA <path> <name> type=..",
  // "RegCloseKey <path>", "RegFlushKey <path>". Resolved paths are physical:
  // a redirected open shows WOW6432Node.
  const std::vector<std::string>& Calls() const { return calls_; }

  // --- platform::Registry
  long RegOpenKeyExA(platform::HKey key, const char* sub_key, uint32_t options,
                     uint32_t sam_desired, platform::HKey* result) override;
  long RegCreateKeyExA(platform::HKey key, const char* sub_key, uint32_t reserved,
                       const char* class_name, uint32_t options, uint32_t sam_desired,
                       platform::HKey* result, uint32_t* disposition) override;
  long RegQueryValueExA(platform::HKey key, const char* value_name, uint32_t* type, uint8_t* data,
                        uint32_t* data_size) override;
  long RegSetValueExA(platform::HKey key, const char* value_name, uint32_t reserved, uint32_t type,
                      const uint8_t* data, uint32_t data_size) override;
  long RegCloseKey(platform::HKey key) override;
  long RegFlushKey(platform::HKey key) override;
  long RegDeleteValueA(platform::HKey key, const char* value_name) override;

 private:
  struct Key {
    std::map<std::string, Value> values;  // by upper-cased name
  };
  struct OpenKey {
    std::string path;  // physical key path (upper-cased), "HKLM\..."
    uint32_t sam = 0;
  };

  // "HKLM\SOFTWARE\X" for a root and a relative path as a test names it,
  // redirected when `view` is k32.
  std::string Physical(platform::HKey root, const std::string& path, View view) const;
  // The physical path an open of `sub_key` below `base` reaches, or nullopt
  // when `base` is no valid handle. `*bad_path` is set for a malformed path.
  std::optional<std::string> Resolve(platform::HKey base, const char* sub_key, uint32_t sam,
                                     bool* bad_path) const;
  bool Exists(const std::string& path) const;
  bool Denied(const std::string& path, uint32_t sam) const;
  platform::HKey NewHandle(const std::string& path, uint32_t sam);
  const OpenKey* Find(platform::HKey key) const;
  Key& MakeKeys(const std::string& path);
  static std::string Upper(const std::string& text);
  static std::string RootName(platform::HKey root);

  std::map<std::string, Key> keys_;  // by physical upper-cased path
  std::map<platform::HKey, OpenKey> handles_;
  std::set<std::string> denied_, read_only_;
  std::map<std::pair<std::string, std::string>, long> failing_queries_;
  long write_error_ = 0;
  platform::HKey next_handle_ = 0x1000;
  std::vector<std::string> calls_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_
