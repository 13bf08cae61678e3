// Executable type and version resources. Placeholder until the safe loading of
// version.dll lands: no version information.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32VersionApi final : public VersionApi {
 public:
  uintptr_t SHGetFileInfoA(const std::string&, uint32_t, uint32_t) override { return 0; }
  uint32_t GetFileVersionInfoSizeA(const std::string&) override { return 0; }
  bool GetFileVersionInfoA(const std::string&, uint32_t, void*) override { return false; }
  bool VerQueryValueA(const void*, const std::string&, const void**, uint32_t*) override {
    return false;
  }
};

}  // namespace

std::unique_ptr<VersionApi> MakeVersionApi() { return std::make_unique<Win32VersionApi>(); }

}  // namespace lexoria::platform::win32
