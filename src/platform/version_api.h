// Executable type and version resources (shell32, version.dll).
#ifndef LEXORIA_PLATFORM_VERSION_API_H_
#define LEXORIA_PLATFORM_VERSION_API_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

// SHGetFileInfoA uFlags: the executable type of the file.
inline constexpr uint32_t kShgfiExeType = 0x2000;

// Every method sets the calling thread's last error the way the system does.
// The real implementation takes the three version functions from version.dll
// in the system directory, loaded by full path at their first use; when it
// cannot be loaded they fail (0 or false) and nothing else does.
class VersionApi {
 public:
  virtual ~VersionApi() = default;
  // SHGetFileInfoA with a SHFILEINFOA record of its own; with kShgfiExeType,
  // the executable type, or 0 when the file is missing or is no executable.
  virtual uintptr_t SHGetFileInfoA(const std::string& path, uint32_t file_attributes,
                                   uint32_t flags) = 0;
  // The size in bytes of the file's version block; 0 when it has none or
  // cannot be read.
  virtual uint32_t GetFileVersionInfoSizeA(const std::string& path) = 0;
  // Copies the version block into `data`, of `size` bytes (from
  // GetFileVersionInfoSizeA). False on failure.
  virtual bool GetFileVersionInfoA(const std::string& path, uint32_t size, void* data) = 0;
  // Looks `sub_block` up in a block filled by GetFileVersionInfoA. On
  // success `*value` points into `block` (valid while the block lives) and
  // `*length` is its length: bytes for binary values, characters with the
  // terminating NUL for texts. False when the value does not exist.
  virtual bool VerQueryValueA(const void* block, const std::string& sub_block, const void** value,
                              uint32_t* length) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_VERSION_API_H_
