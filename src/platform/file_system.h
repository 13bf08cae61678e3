// Files, directories and directory enumeration, in the shape of the kernel32
// calls they stand for.
#ifndef LEXORIA_PLATFORM_FILE_SYSTEM_H_
#define LEXORIA_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace lexoria::platform {

// dwDesiredAccess
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kDelete = 0x00010000;
inline constexpr uint32_t kSynchronize = 0x00100000;
inline constexpr uint32_t kFileReadAttributes = 0x0080;
inline constexpr uint32_t kFileWriteAttributes = 0x0100;
// dwShareMode
inline constexpr uint32_t kFileShareRead = 0x1;
inline constexpr uint32_t kFileShareWrite = 0x2;
inline constexpr uint32_t kFileShareDelete = 0x4;
// dwCreationDisposition
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;
// dwFlagsAndAttributes
inline constexpr uint32_t kFileAttributeReadonly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeSystem = 0x4;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kFileAttributeNormal = 0x80;
inline constexpr uint32_t kFileAttributeTemporary = 0x100;
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;
inline constexpr uint32_t kFileFlagSequentialScan = 0x08000000;
// Opens a link (symbolic link, junction) itself, never what it points to.
// It governs the last name of the path only: links in the folders above are
// followed.
inline constexpr uint32_t kFileFlagOpenReparsePoint = 0x00200000;
// Lets CreateFileA open a directory.
inline constexpr uint32_t kFileFlagBackupSemantics = 0x02000000;
// The file goes when the last handle to it closes, those a started process
// inherited included, also when the process that made it ends abruptly.
inline constexpr uint32_t kFileFlagDeleteOnClose = 0x04000000;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
// SetFilePointerEx dwMoveMethod
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;
// MoveFileExA dwFlags
inline constexpr uint32_t kMovefileReplaceExisting = 0x1;
// Writes the rename into PendingFileRenameOperations for the next restart,
// which performs it before any program can hold the file; administrators
// only.
inline constexpr uint32_t kMovefileDelayUntilReboot = 0x4;
inline constexpr uint32_t kMovefileWriteThrough = 0x8;
// GetFinalPathNameByHandleW dwFlags: the normalized name, on its drive
// letter (or UNC share): "\\?\C:\dir\name".
inline constexpr uint32_t kFileNameNormalized = 0x0;
inline constexpr uint32_t kVolumeNameDos = 0x0;

// SECURITY_ATTRIBUTES of a handle a call creates.
struct SecurityAttributes {
  // lpSecurityDescriptor of a new file, in the security descriptor
  // definition language ("D:P(A;;FA;;;SY)..."); empty for none, so that the
  // file takes what its folder hands down.
  std::u16string security_descriptor;
  // bInheritHandle: processes started with handle inheritance get the handle.
  bool inherit_handle = false;
};

// Access rights of files and folders (ACCESS_MASK bits) as a DACL grants them.
inline constexpr uint32_t kFileAddFile = 0x0002;          // FILE_ADD_FILE (folders)
inline constexpr uint32_t kFileAddSubdirectory = 0x0004;  // FILE_ADD_SUBDIRECTORY
inline constexpr uint32_t kFileDeleteChild = 0x0040;      // FILE_DELETE_CHILD
inline constexpr uint32_t kReadControl = 0x00020000;
inline constexpr uint32_t kWriteDac = 0x00040000;
inline constexpr uint32_t kWriteOwner = 0x00080000;
inline constexpr uint32_t kGenericAll = 0x10000000;
// ACE_HEADER.AceType and AceFlags.
inline constexpr uint8_t kAccessAllowedAceType = 0;
inline constexpr uint8_t kAccessDeniedAceType = 1;
inline constexpr uint8_t kInheritOnlyAce = 0x08;

// One entry of a DACL. `mask` and `sid` are those of an allowed or denied
// entry (ACCESS_ALLOWED_ACE, ACCESS_DENIED_ACE); other kinds carry their
// type and flags only.
struct AccessControlEntry {
  uint8_t type = 0;   // AceType
  uint8_t flags = 0;  // AceFlags
  uint32_t mask = 0;  // Mask
  Sid sid;            // SidStart
};

// The owner and the DACL of a file or folder (GetSecurityInfo).
struct FileSecurity {
  Sid owner;
  // False for a NULL DACL: everyone may do everything.
  bool has_dacl = false;
  std::vector<AccessControlEntry> dacl;
};

// Reparse tags (REPARSE_DATA_BUFFER.ReparseTag). A tag with the name
// surrogate bit stands for another name (a junction, a symbolic link); other
// reparse points (a cloud file's placeholder, deduplicated data) are the
// file or folder itself.
inline constexpr uint32_t kIoReparseTagMountPoint = 0xA0000003;
inline constexpr uint32_t kIoReparseTagSymlink = 0xA000000C;
inline constexpr uint32_t kReparseTagNameSurrogate = 0x20000000;

// What FSCTL_GET_REPARSE_POINT reads of a reparse point.
struct ReparsePoint {
  uint32_t tag = 0;  // ReparseTag
  // The name the system follows, for a junction or a symbolic link:
  // "\??\D:\Lexoria" or, for a relative symbolic link, "..\Lexoria".
  std::u16string substitute_name;
  bool relative = false;  // a symbolic link's SYMLINK_FLAG_RELATIVE
};

// The parts of BY_HANDLE_FILE_INFORMATION the setup reads.
struct ByHandleFileInformation {
  uint32_t attributes = 0;       // dwFileAttributes
  uint32_t number_of_links = 0;  // nNumberOfLinks: names of the same file
};

// SetFileInformationByHandle, one struct a class of information.
struct FileBasicInfo {       // FileBasicInfo: times left as they are
  uint32_t file_attributes;  // FileAttributes; 0 would mean "unchanged"
};
struct FileDispositionInfo {  // FileDispositionInfo
  bool delete_file;           // DeleteFile: the name goes when the last handle closes
};
struct FileRenameInfo {      // FileRenameInfo, RootDirectory null
  bool replace_if_exists;    // ReplaceIfExists
  std::u16string file_name;  // FileName: the full NT path, "\\??\C:\dir\name"
};

// One entry of a directory enumeration (the parts of WIN32_FIND_DATAA that
// the setup reads).
struct FindData {
  uint32_t attributes = 0;  // dwFileAttributes
  uint64_t size = 0;        // nFileSizeHigh:nFileSizeLow
  uint32_t reserved0 = 0;   // dwReserved0: the reparse tag of a reparse point
  std::string name;         // cFileName
};

// Every method sets the calling thread's last error the way kernel32 does;
// read it with GetLastError() right after a failed call.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens or creates a file. Returns kInvalidHandleValue on failure. A
  // directory is opened only with kFileFlagBackupSemantics. The share mode is
  // enforced against the other handles open on the same file, in both
  // directions. `security` null is no SECURITY_ATTRIBUTES: a handle nothing
  // inherits, and a new file with its folder's inherited security; a
  // descriptor that does not parse fails the call (ERROR_INVALID_PARAMETER
  // or the conversion's error) before anything is created.
  virtual Handle CreateFileA(const std::string& path, uint32_t desired_access, uint32_t share_mode,
                             const SecurityAttributes* security, uint32_t creation_disposition,
                             uint32_t flags_and_attributes) = 0;
  Handle CreateFileA(const std::string& path, uint32_t desired_access, uint32_t share_mode,
                     uint32_t creation_disposition, uint32_t flags_and_attributes) {
    return CreateFileA(path, desired_access, share_mode, /*security=*/nullptr, creation_disposition,
                       flags_and_attributes);
  }
  // The same for a path in UTF-16 (CreateFileW). The port takes the wide
  // call itself rather than a composite "open the own module" helper, so that
  // the core still chooses access, sharing and flags, and the fakes model one
  // kernel32 call as they do the ANSI one.
  virtual Handle CreateFileW(const std::u16string& path, uint32_t desired_access,
                             uint32_t share_mode, uint32_t creation_disposition,
                             uint32_t flags_and_attributes) = 0;
  // Reads up to `to_read` bytes at the file position; `*read` is the count
  // read (0 at the end of the file, which is still success).
  virtual bool ReadFile(Handle file, void* buffer, uint32_t to_read, uint32_t* read) = 0;
  // Writes at the file position. A true result with `*written` < `to_write`
  // is possible (a full disk under some systems): callers check the count.
  virtual bool WriteFile(Handle file, const void* buffer, uint32_t to_write, uint32_t* written) = 0;
  virtual bool SetFilePointerEx(Handle file, int64_t distance, int64_t* new_position,
                                uint32_t move_method) = 0;
  virtual bool GetFileSizeEx(Handle file, int64_t* size) = 0;
  // Writes the file's buffered data through to the disk (FlushFileBuffers).
  // REQUIRES: `file` was opened with write access.
  virtual bool FlushFileBuffers(Handle file) = 0;
  // Closes a file handle. REQUIRES: `file` came from CreateFileA or CreateFileW.
  virtual bool CloseHandle(Handle file) = 0;
  virtual bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* info) = 0;
  // The path the handle's file has now, all links on the way resolved, in
  // the form `flags` asks for. Fails with kErrorCallNotImplemented where the
  // system has no such call (Windows XP), and with the system's error where
  // the file has no such path (a volume without a drive letter).
  virtual bool GetFinalPathNameByHandleW(Handle file, std::u16string* path, uint32_t flags) = 0;
  // Changes the handle's file itself, whatever its name now leads to. Where
  // kernel32 lacks the call (Windows XP), ntdll's NtSetInformationFile does
  // the same. A rename through the handle needs kDelete access; a delete
  // needs kDelete, an attribute change kFileWriteAttributes.
  virtual bool SetFileInformationByHandle(Handle file, const FileBasicInfo& info) = 0;
  virtual bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& info) = 0;
  virtual bool SetFileInformationByHandle(Handle file, const FileRenameInfo& info) = 0;
  // GetSecurityInfo(SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION |
  // DACL_SECURITY_INFORMATION) of the handle's file. REQUIRES: `file` was
  // opened with kReadControl (kGenericRead holds it). False with the last
  // error set when it cannot be read.
  virtual bool GetSecurityInfo(Handle file, FileSecurity* security) = 0;
  // DeviceIoControl(FSCTL_GET_REPARSE_POINT) of a handle opened on a reparse
  // point itself (kFileFlagOpenReparsePoint). False with the last error set:
  // kErrorNotAReparsePoint for a file or folder that is none.
  virtual bool GetReparsePoint(Handle file, ReparsePoint* point) = 0;

  // The attributes of what stands at `path` itself: a link (symbolic link,
  // junction) has kFileAttributeReparsePoint, and those of its target are
  // not looked at.
  virtual uint32_t GetFileAttributesA(const std::string& path) = 0;
  virtual bool SetFileAttributesA(const std::string& path, uint32_t attributes) = 0;
  // Removes a file, or a file symbolic link itself (not its target).
  virtual bool DeleteFileA(const std::string& path) = 0;
  // Removes an empty directory, or a junction or directory symbolic link
  // itself (not its target, whatever it holds).
  virtual bool RemoveDirectoryA(const std::string& path) = 0;
  virtual bool MoveFileExA(const std::string& existing, const std::string& target,
                           uint32_t flags) = 0;
  virtual bool CreateDirectoryA(const std::string& path) = 0;

  // Directory enumeration: `pattern` is a directory followed by "*.*".
  // FindFirstFileA returns kInvalidHandleValue when nothing can be listed.
  virtual Handle FindFirstFileA(const std::string& pattern, FindData* data) = 0;
  virtual bool FindNextFileA(Handle find, FindData* data) = 0;
  virtual bool FindClose(Handle find) = 0;

  virtual uint32_t GetLastError() = 0;
};

// True when something stands at `path` and is no folder (a file, or a file
// symbolic link itself), by GetFileAttributesA of the name; false when
// nothing does or the attributes cannot be read.
inline bool IsFileAt(FileSystem& files, const std::string& path) {
  const uint32_t attributes = files.GetFileAttributesA(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}
// The same for a folder (or a link to one, itself).
inline bool IsFolderAt(FileSystem& files, const std::string& path) {
  const uint32_t attributes = files.GetFileAttributesA(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
}

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_FILE_SYSTEM_H_
