// Executable type and version resources (shell32, version.dll).
#ifndef LEXORIA_PLATFORM_VERSION_API_H_
#define LEXORIA_PLATFORM_VERSION_API_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

inline constexpr uint32_t kShgfiExeType = 0x2000;

class VersionApi {
 public:
  virtual ~VersionApi() = default;
  // SHGetFileInfoA with a SHFILEINFOA record of its own; 0 when the file is
  // missing or is no executable.
  virtual uintptr_t SHGetFileInfoA(const std::string& path, uint32_t file_attributes,
                                   uint32_t flags) = 0;
  virtual uint32_t GetFileVersionInfoSizeA(const std::string& path) = 0;
  virtual bool GetFileVersionInfoA(const std::string& path, uint32_t size, void* data) = 0;
  // On success `*value` points into `block` and `*length` is its length.
  virtual bool VerQueryValueA(const void* block, const std::string& sub_block, const void** value,
                              uint32_t* length) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_VERSION_API_H_
