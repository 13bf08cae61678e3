// The Win32 registry (advapi32).
#ifndef LEXORIA_PLATFORM_REGISTRY_H_
#define LEXORIA_PLATFORM_REGISTRY_H_

#include <cstdint>

#include "platform/types.h"

namespace lexoria::platform {

// Predefined root keys, with their 32-bit Win32 values. The adapter turns
// them into the real HKEY constants.
inline constexpr HKey kHkeyClassesRoot = 0x80000000;
inline constexpr HKey kHkeyCurrentUser = 0x80000001;
inline constexpr HKey kHkeyLocalMachine = 0x80000002;
inline constexpr HKey kHkeyUsers = 0x80000003;

// Access rights (REGSAM).
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

inline constexpr uint32_t kRegOptionNonVolatile = 0;
inline constexpr uint32_t kRegCreatedNewKey = 1;
inline constexpr uint32_t kRegOpenedExistingKey = 2;

// Each call returns a Win32 error code (kErrorSuccess on success), exactly as
// the advapi32 function does; none of them touches the last error.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual long RegOpenKeyExA(HKey key, const char* sub_key, uint32_t options, uint32_t sam_desired,
                             HKey* result) = 0;
  // Security attributes are always none.
  virtual long RegCreateKeyExA(HKey key, const char* sub_key, uint32_t reserved,
                               const char* class_name, uint32_t options, uint32_t sam_desired,
                               HKey* result, uint32_t* disposition) = 0;
  // With `data` null only the type and size are asked for. On
  // kErrorMoreData `*data_size` holds the size needed.
  virtual long RegQueryValueExA(HKey key, const char* value_name, uint32_t* type, uint8_t* data,
                                uint32_t* data_size) = 0;
  virtual long RegSetValueExA(HKey key, const char* value_name, uint32_t reserved, uint32_t type,
                              const uint8_t* data, uint32_t data_size) = 0;
  // ERROR_FILE_NOT_FOUND when the key has no value of that name.
  virtual long RegDeleteValueA(HKey key, const char* value_name) = 0;
  virtual long RegCloseKey(HKey key) = 0;
  virtual long RegFlushKey(HKey key) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_REGISTRY_H_
