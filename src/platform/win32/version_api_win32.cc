// Executable type (shell32) and version resources (version.dll).
//
// shell32 is loaded from the system directory when an executable's type is
// first asked for: the quiet update of a package never asks.
//
// version.dll is not in the import table: a setup started from a Downloads
// folder would otherwise load a version.dll planted beside it, because
// version.dll is no KnownDLL and the application directory is searched
// first. It is loaded from the system directory (LoadSystemLibrary) at the
// first call that needs it.
#include <windows.h>
// shellapi.h needs the types of windows.h before it.
#include <shellapi.h>

#include <string>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"

namespace lexoria::platform::win32 {

namespace {

using GetFileVersionInfoSizeAFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoAFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueAFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

class Win32VersionApi final : public VersionApi {
 public:
  uintptr_t SHGetFileInfoA(const std::string& path, uint32_t file_attributes,
                           uint32_t flags) override {
    const auto get_file_info =
        SystemFunction<decltype(&::SHGetFileInfoA)>("shell32.dll", "SHGetFileInfoA");
    if (get_file_info == nullptr) return 0;  // as a failed call: no such file type
    SHFILEINFOA info = {};
    return static_cast<uintptr_t>(
        get_file_info(path.c_str(), file_attributes, &info, sizeof(info), flags));
  }

  uint32_t GetFileVersionInfoSizeA(const std::string& path) override {
    if (!Load()) return 0;
    DWORD ignored = 0;
    return get_size_(path.c_str(), &ignored);
  }

  bool GetFileVersionInfoA(const std::string& path, uint32_t size, void* data) override {
    if (!Load()) return false;
    return get_info_(path.c_str(), /*dwHandle=*/0, size, data) != FALSE;
  }

  bool VerQueryValueA(const void* block, const std::string& sub_block, const void** value,
                      uint32_t* length) override {
    if (!Load()) return false;
    LPVOID found = nullptr;
    UINT found_length = 0;
    const BOOL ok = query_(block, sub_block.c_str(), &found, &found_length);
    if (ok == FALSE) return false;
    *value = found;
    *length = found_length;
    return true;
  }

 private:
  // Loads version.dll once, at the first call that needs it. A failure is
  // remembered: the version functions then fail with its error code, and the
  // readers treat that as "no version".
  bool Load() {
    if (!attempted_) {
      attempted_ = true;
      module_.reset(LoadSystemLibrary("version.dll"));
      if (!module_) load_error_ = ::GetLastError();
      if (module_) {
        get_size_ = LookUp<GetFileVersionInfoSizeAFn>(module_.get(), "GetFileVersionInfoSizeA");
        get_info_ = LookUp<GetFileVersionInfoAFn>(module_.get(), "GetFileVersionInfoA");
        query_ = LookUp<VerQueryValueAFn>(module_.get(), "VerQueryValueA");
        if (get_size_ == nullptr || get_info_ == nullptr || query_ == nullptr) {
          load_error_ = ERROR_PROC_NOT_FOUND;
          module_.reset();
        }
      }
    }
    if (!module_) {
      ::SetLastError(load_error_ != 0 ? load_error_ : ERROR_MOD_NOT_FOUND);
      return false;
    }
    return true;
  }

  bool attempted_ = false;
  DWORD load_error_ = 0;
  UniqueModule module_;
  GetFileVersionInfoSizeAFn get_size_ = nullptr;
  GetFileVersionInfoAFn get_info_ = nullptr;
  VerQueryValueAFn query_ = nullptr;
};

}  // namespace

std::unique_ptr<VersionApi> MakeVersionApi() { return std::make_unique<Win32VersionApi>(); }

}  // namespace lexoria::platform::win32
