// kernel32 files and directory enumeration.
//
// GetFinalPathNameByHandleW and SetFileInformationByHandle came with Windows
// Vista: they are looked up at run time, so that the setup still starts on
// Windows XP, where ntdll's NtSetInformationFile serves instead of the second
// and the first has no counterpart.
#include <windows.h>
// windows.h first: these build on its types.
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handles.h"

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

// The classes of NtSetInformationFile (FILE_INFORMATION_CLASS) that match
// those of SetFileInformationByHandle used here, with the same layouts.
constexpr ULONG kNtFileBasicInformation = 4;
constexpr ULONG kNtFileRenameInformation = 10;
constexpr ULONG kNtFileDispositionInformation = 13;

struct IoStatusBlock {
  union {
    LONG status;
    PVOID pointer;
  };
  ULONG_PTR information;
};

using SetInformationByHandleFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, IoStatusBlock*, PVOID, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);
using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// kernel32 and ntdll are in every process from its start: looked up by name.
template <typename Function>
Function LoadedFunction(const char* module, const char* name) {
  const HMODULE loaded = ::GetModuleHandleA(module);
  return loaded != nullptr ? LookUp<Function>(loaded, name) : nullptr;
}

// SetFileInformationByHandle with `klass`, or NtSetInformationFile with
// `nt_klass` where kernel32 lacks it; the error is set as kernel32 sets it.
bool SetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS klass, ULONG nt_klass, void* info,
                    DWORD size) {
  static const auto set_information =
      LoadedFunction<SetInformationByHandleFn>("kernel32.dll", "SetFileInformationByHandle");
  if (set_information != nullptr) return set_information(file, klass, info, size) != FALSE;
  static const auto nt_set_information =
      LoadedFunction<NtSetInformationFileFn>("ntdll.dll", "NtSetInformationFile");
  static const auto to_dos_error =
      LoadedFunction<RtlNtStatusToDosErrorFn>("ntdll.dll", "RtlNtStatusToDosError");
  if (nt_set_information == nullptr || to_dos_error == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  IoStatusBlock status = {};
  const LONG result = nt_set_information(file, &status, info, size, nt_klass);
  if (result < 0) {
    ::SetLastError(to_dos_error(result));
    return false;
  }
  return true;
}

// The bytes of a SID the system handed out, or none.
Sid SidBytes(PSID sid) {
  if (sid == nullptr || !::IsValidSid(sid)) return {};
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return Sid(bytes, bytes + ::GetLengthSid(sid));
}

// The layout of REPARSE_DATA_BUFFER up to the path buffer of a junction
// (mount point) and of a symbolic link, which has its flags in between; the
// SDK keeps the structure in the driver kit's headers.
struct ReparseHeader {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;  // bytes, into the path buffer
  WORD substitute_length;  // bytes
  WORD print_offset;
  WORD print_length;
};
constexpr ULONG kSymlinkFlagRelative = 1;

class Win32FileSystem final : public FileSystem {
 public:
  Handle CreateFileA(const std::string& path, uint32_t desired_access, uint32_t share_mode,
                     const SecurityAttributes* security, uint32_t creation_disposition,
                     uint32_t flags_and_attributes) override {
    SECURITY_ATTRIBUTES attributes;
    UniqueLocal descriptor;
    if (security != nullptr) {
      if (!security->security_descriptor.empty() &&
          !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
              reinterpret_cast<const wchar_t*>(security->security_descriptor.c_str()),
              SDDL_REVISION_1, descriptor.put(), /*SecurityDescriptorSize=*/nullptr)) {
        return FromHandle(INVALID_HANDLE_VALUE);
      }
      attributes.nLength = sizeof(attributes);
      attributes.lpSecurityDescriptor = descriptor.get();
      attributes.bInheritHandle = security->inherit_handle ? TRUE : FALSE;
    }
    return FromHandle(::CreateFileA(path.c_str(), desired_access, share_mode,
                                    security != nullptr ? &attributes : nullptr,
                                    creation_disposition, flags_and_attributes,
                                    /*hTemplateFile=*/nullptr));
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
  bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* info) override {
    BY_HANDLE_FILE_INFORMATION data;
    if (!::GetFileInformationByHandle(ToHandle(file), &data)) return false;
    info->attributes = data.dwFileAttributes;
    info->number_of_links = data.nNumberOfLinks;
    return true;
  }
  bool GetFinalPathNameByHandleW(Handle file, std::u16string* path, uint32_t flags) override {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");
    static const auto final_path =
        LoadedFunction<FinalPathFn>("kernel32.dll", "GetFinalPathNameByHandleW");
    if (final_path == nullptr) {
      ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
      return false;
    }
    // Room for the longest path there is; the result is its length without
    // the NUL, or the size needed with it when it did not fit.
    constexpr DWORD kLongestPath = 32768;
    path->resize(kLongestPath);
    const DWORD n =
        final_path(ToHandle(file), reinterpret_cast<wchar_t*>(path->data()), kLongestPath, flags);
    if (n == 0 || n >= kLongestPath) {
      if (n != 0) ::SetLastError(ERROR_BUFFER_OVERFLOW);
      path->clear();
      return false;
    }
    path->resize(n);
    return true;
  }
  bool SetFileInformationByHandle(Handle file, const FileBasicInfo& info) override {
    FILE_BASIC_INFO basic;
    ::ZeroMemory(&basic, sizeof(basic));  // times 0: left as they are
    basic.FileAttributes = info.file_attributes;
    return SetInformation(ToHandle(file), ::FileBasicInfo, kNtFileBasicInformation, &basic,
                          sizeof(basic));
  }
  bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& info) override {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = info.delete_file ? TRUE : FALSE;
    return SetInformation(ToHandle(file), ::FileDispositionInfo, kNtFileDispositionInformation,
                          &disposition, sizeof(disposition));
  }
  bool SetFileInformationByHandle(Handle file, const FileRenameInfo& info) override {
    // FILE_RENAME_INFO ends in the name, whose length it holds in bytes.
    const size_t name_bytes = info.file_name.size() * sizeof(char16_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = info.replace_if_exists ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::memcpy(rename->FileName, info.file_name.data(), name_bytes);
    return SetInformation(ToHandle(file), ::FileRenameInfo, kNtFileRenameInformation, rename,
                          static_cast<DWORD>(buffer.size()));
  }
  bool GetSecurityInfo(Handle file, FileSecurity* security) override {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocal descriptor;
    const DWORD error = ::GetSecurityInfo(
        ToHandle(file), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &owner, /*ppsidGroup=*/nullptr, &dacl, /*ppSacl=*/nullptr, descriptor.put());
    if (error != ERROR_SUCCESS) {
      ::SetLastError(error);
      return false;
    }
    security->owner = SidBytes(owner);
    security->has_dacl = dacl != nullptr;
    security->dacl.clear();
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      AccessControlEntry entry;
      entry.type = header->AceType;
      entry.flags = header->AceFlags;
      // The allowed and the denied entry share their layout.
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        entry.mask = allowed->Mask;
        entry.sid = SidBytes(&allowed->SidStart);
      }
      security->dacl.push_back(std::move(entry));
    }
    return true;
  }
  bool GetReparsePoint(Handle file, ReparsePoint* point) override {
    std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!::DeviceIoControl(ToHandle(file), FSCTL_GET_REPARSE_POINT, /*lpInBuffer=*/nullptr, 0,
                           buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                           /*lpOverlapped=*/nullptr)) {
      return false;
    }
    if (got < sizeof(DWORD)) {
      ::SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    ReparseHeader header = {};
    std::memcpy(&header, buffer.data(), std::min<size_t>(got, sizeof(header)));
    point->tag = header.tag;
    point->substitute_name.clear();
    point->relative = false;
    if (header.tag != IO_REPARSE_TAG_MOUNT_POINT && header.tag != IO_REPARSE_TAG_SYMLINK) {
      return true;
    }
    size_t names = sizeof(header);
    if (header.tag == IO_REPARSE_TAG_SYMLINK) {
      ULONG flags = 0;
      if (got < names + sizeof(flags)) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
      }
      std::memcpy(&flags, buffer.data() + names, sizeof(flags));
      point->relative = (flags & kSymlinkFlagRelative) != 0;
      names += sizeof(flags);
    }
    const size_t begin = names + header.substitute_offset;
    if (got < sizeof(header) || begin + header.substitute_length > got ||
        header.substitute_length % sizeof(char16_t) != 0) {
      ::SetLastError(ERROR_INVALID_DATA);
      return false;
    }
    point->substitute_name.resize(header.substitute_length / sizeof(char16_t));
    std::memcpy(point->substitute_name.data(), buffer.data() + begin, header.substitute_length);
    return true;
  }
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
