// advapi32 registry calls.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

// The port carries the predefined roots as their 32-bit values; on 64-bit
// Windows the real HKEY constants are those values sign-extended.
HKEY ToHkey(HKey key) {
  switch (key) {
    case kHkeyClassesRoot:
      return HKEY_CLASSES_ROOT;
    case kHkeyCurrentUser:
      return HKEY_CURRENT_USER;
    case kHkeyLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case kHkeyUsers:
      return HKEY_USERS;
    default:
      return reinterpret_cast<HKEY>(key);
  }
}

class Win32Registry final : public Registry {
 public:
  long RegOpenKeyExA(HKey key, const char* sub_key, uint32_t options, uint32_t sam_desired,
                     HKey* result) override {
    HKEY opened = nullptr;
    const LONG rc = ::RegOpenKeyExA(ToHkey(key), sub_key, options, sam_desired, &opened);
    if (rc == ERROR_SUCCESS) *result = reinterpret_cast<HKey>(opened);
    return rc;
  }
  long RegCreateKeyExA(HKey key, const char* sub_key, uint32_t reserved, const char* class_name,
                       uint32_t options, uint32_t sam_desired, HKey* result,
                       uint32_t* disposition) override {
    HKEY created = nullptr;
    DWORD how = 0;
    const LONG rc =
        ::RegCreateKeyExA(ToHkey(key), sub_key, reserved, const_cast<char*>(class_name), options,
                          sam_desired, /*lpSecurityAttributes=*/nullptr, &created, &how);
    if (rc == ERROR_SUCCESS) {
      *result = reinterpret_cast<HKey>(created);
      if (disposition != nullptr) *disposition = how;
    }
    return rc;
  }
  long RegQueryValueExA(HKey key, const char* value_name, uint32_t* type, uint8_t* data,
                        uint32_t* data_size) override {
    DWORD value_type = 0;
    DWORD size = data_size != nullptr ? *data_size : 0;
    const LONG rc = ::RegQueryValueExA(ToHkey(key), value_name, /*lpReserved=*/nullptr, &value_type,
                                       data, data_size != nullptr ? &size : nullptr);
    if (type != nullptr) *type = value_type;
    if (data_size != nullptr) *data_size = size;
    return rc;
  }
  long RegSetValueExA(HKey key, const char* value_name, uint32_t reserved, uint32_t type,
                      const uint8_t* data, uint32_t data_size) override {
    return ::RegSetValueExA(ToHkey(key), value_name, reserved, type, data, data_size);
  }
  long RegDeleteValueA(HKey key, const char* value_name) override {
    return ::RegDeleteValueA(ToHkey(key), value_name);
  }
  long RegCloseKey(HKey key) override { return ::RegCloseKey(ToHkey(key)); }
  long RegFlushKey(HKey key) override { return ::RegFlushKey(ToHkey(key)); }
};

}  // namespace

std::unique_ptr<Registry> MakeRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace lexoria::platform::win32
