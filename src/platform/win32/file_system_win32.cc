// kernel32 files and directory enumeration.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

HANDLE ToHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle FromHandle(HANDLE h) { return reinterpret_cast<Handle>(h); }

void CopyFindData(const WIN32_FIND_DATAA& from, FindData* to) {
  to->attributes = from.dwFileAttributes;
  to->size = (static_cast<uint64_t>(from.nFileSizeHigh) << 32) | from.nFileSizeLow;
  to->reserved0 = from.dwReserved0;
  to->name = from.cFileName;
}

class Win32FileSystem final : public FileSystem {
 public:
  Handle CreateFileA(const std::string& path, uint32_t desired_access, uint32_t share_mode,
                     uint32_t creation_disposition, uint32_t flags_and_attributes) override {
    return FromHandle(::CreateFileA(path.c_str(), desired_access, share_mode,
                                    /*lpSecurityAttributes=*/nullptr, creation_disposition,
                                    flags_and_attributes, /*hTemplateFile=*/nullptr));
  }
  Handle CreateFileW(const std::u16string& path, uint32_t desired_access, uint32_t share_mode,
                     uint32_t creation_disposition, uint32_t flags_and_attributes) override {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");
    return FromHandle(::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), desired_access,
                                    share_mode,
                                    /*lpSecurityAttributes=*/nullptr, creation_disposition,
                                    flags_and_attributes, /*hTemplateFile=*/nullptr));
  }
  bool ReadFile(Handle file, void* buffer, uint32_t to_read, uint32_t* read) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(ToHandle(file), buffer, to_read, &got, /*lpOverlapped=*/nullptr);
    *read = got;
    return ok != FALSE;
  }
  bool WriteFile(Handle file, const void* buffer, uint32_t to_write, uint32_t* written) override {
    DWORD put = 0;
    const BOOL ok = ::WriteFile(ToHandle(file), buffer, to_write, &put, /*lpOverlapped=*/nullptr);
    *written = put;
    return ok != FALSE;
  }
  bool SetFilePointerEx(Handle file, int64_t distance, int64_t* new_position,
                        uint32_t move_method) override {
    LARGE_INTEGER to;
    to.QuadPart = distance;
    LARGE_INTEGER now;
    const BOOL ok = ::SetFilePointerEx(ToHandle(file), to, &now, move_method);
    if (ok && new_position != nullptr) *new_position = now.QuadPart;
    return ok != FALSE;
  }
  bool GetFileSizeEx(Handle file, int64_t* size) override {
    LARGE_INTEGER value;
    const BOOL ok = ::GetFileSizeEx(ToHandle(file), &value);
    if (ok) *size = value.QuadPart;
    return ok != FALSE;
  }
  bool FlushFileBuffers(Handle file) override {
    return ::FlushFileBuffers(ToHandle(file)) != FALSE;
  }
  bool CloseHandle(Handle file) override { return ::CloseHandle(ToHandle(file)) != FALSE; }
  uint32_t GetFileAttributesA(const std::string& path) override {
    return ::GetFileAttributesA(path.c_str());
  }
  bool SetFileAttributesA(const std::string& path, uint32_t attributes) override {
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
  }
  bool RemoveDirectoryA(const std::string& path) override {
    return ::RemoveDirectoryA(path.c_str()) != FALSE;
  }
  bool DeleteFileA(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) != FALSE;
  }
  bool MoveFileExA(const std::string& existing, const std::string& target,
                   uint32_t flags) override {
    return ::MoveFileExA(existing.c_str(), target.c_str(), flags) != FALSE;
  }
  bool CreateDirectoryA(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), /*lpSecurityAttributes=*/nullptr) != FALSE;
  }
  Handle FindFirstFileA(const std::string& pattern, FindData* data) override {
    WIN32_FIND_DATAA found;
    const HANDLE find = ::FindFirstFileA(pattern.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) CopyFindData(found, data);
    return FromHandle(find);
  }
  bool FindNextFileA(Handle find, FindData* data) override {
    WIN32_FIND_DATAA found;
    if (!::FindNextFileA(ToHandle(find), &found)) return false;
    CopyFindData(found, data);
    return true;
  }
  bool FindClose(Handle find) override { return ::FindClose(ToHandle(find)) != FALSE; }
  uint32_t GetLastError() override { return ::GetLastError(); }
};

}  // namespace

std::unique_ptr<FileSystem> MakeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace lexoria::platform::win32
