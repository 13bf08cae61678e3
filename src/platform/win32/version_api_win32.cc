// Executable type (shell32) and version resources (version.dll).
//
// version.dll is not in the import table: a setup started from a Downloads
// folder would otherwise load a version.dll planted beside it, because
// version.dll is no KnownDLL and the application directory is searched
// first. It is loaded here by its full path in the system directory, at the
// first call that needs it.
#include <windows.h>
// shellapi.h needs the types of windows.h before it.
#include <shellapi.h>

#include <string>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

using GetFileVersionInfoSizeAFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoAFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueAFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// A module loaded with LoadLibraryExA, freed with FreeLibrary.
class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(HMODULE module) : module_(module) {}
  ~UniqueModule() { reset(); }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  HMODULE get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }
  void reset(HMODULE module = nullptr) {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = module;
  }

 private:
  HMODULE module_ = nullptr;
};

// The full path of version.dll in the system directory, or the empty text
// when the system directory cannot be had.
std::string SystemVersionDllPath() {
  char directory[MAX_PATH + 1];
  const UINT length = ::GetSystemDirectoryA(directory, sizeof(directory));
  if (length == 0 || length >= sizeof(directory)) return {};
  std::string path(directory, length);
  if (path.back() != '\\') path += '\\';
  return path + "version.dll";
}

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  // GetProcAddress returns a generic FARPROC; the cast to the real
  // signature goes through void* to silence -Wcast-function-type.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

class Win32VersionApi final : public VersionApi {
 public:
  uintptr_t SHGetFileInfoA(const std::string& path, uint32_t file_attributes,
                           uint32_t flags) override {
    SHFILEINFOA info = {};
    return static_cast<uintptr_t>(
        ::SHGetFileInfoA(path.c_str(), file_attributes, &info, sizeof(info), flags));
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
      const std::string path = SystemVersionDllPath();
      if (path.empty()) {
        load_error_ = ::GetLastError();
      } else {
        // With a full path, LOAD_WITH_ALTERED_SEARCH_PATH makes the loader
        // look for version.dll's own dependencies beside it (the system
        // directory), not beside the setup.
        module_.reset(
            ::LoadLibraryExA(path.c_str(), /*hFile=*/nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (!module_) load_error_ = ::GetLastError();
      }
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
