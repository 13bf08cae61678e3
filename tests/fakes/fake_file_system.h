// An in-memory file system in the shape of the kernel32 calls, with the
// faults the setup must survive: refused access, read-only files, files held
// open by another handle, a disk that fills up, failing reads and listings.
#ifndef LEXORIA_TESTS_FAKES_FAKE_FILE_SYSTEM_H_
#define LEXORIA_TESTS_FAKES_FAKE_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace lexoria::testing {

class FakeRegistry;

class FakeFileSystem final : public platform::FileSystem {
 public:
  FakeFileSystem();

  // --- Setting the scene. Paths are Windows paths ("C:\a\b", or a share's,
  // "\\server\share\a"); names match without regard to case (ASCII letters,
  // and the code page 1251 letters А to я). Parents are created as needed.
  void AddDirectory(const std::string& path);
  void AddFile(const std::string& path, const std::vector<uint8_t>& content,
               uint32_t attributes = platform::kFileAttributeArchive);
  void AddFile(const std::string& path, const std::string& content);
  // A file of `size` bytes whose content is never read (zeros if it is):
  // for sizes no test wants to hold in memory.
  void AddSizedFile(const std::string& path, uint64_t size,
                    uint32_t attributes = platform::kFileAttributeArchive);
  // A directory junction (or directory symbolic link) at `path` whose listing
  // is that of `target`.
  void AddJunction(const std::string& path, const std::string& target);
  // A file symbolic link at `path` to `target`, which need not exist: an
  // open that follows it reaches (or creates) `target`.
  void AddFileLink(const std::string& path, const std::string& target);
  void SetAttributes(const std::string& path, uint32_t attributes);
  // The owner and DACL of what stands at `path` itself (a link's own).
  // Everything starts as AdministratorsOnly().
  void SetSecurity(const std::string& path, const platform::FileSecurity& security);
  // Owner Administrators; the system and the Administrators full access, the
  // Users read and execute: a folder under Program Files.
  static platform::FileSecurity AdministratorsOnly();
  // The same, and Authenticated Users granted `rights` as well (0x1301BF,
  // Modify: a folder made under C:\, which inherits the users' right).
  static platform::FileSecurity UsersMay(uint32_t rights = 0x1301BF);
  // The file at `path` has `links` names (hard links) in all; the others are
  // not modelled, but its attributes stand for theirs.
  void SetLinkCount(const std::string& path, uint32_t links);

  // --- Faults.
  // Opening `path` (any access) fails with ERROR_ACCESS_DENIED.
  void DenyOpen(const std::string& path) { denied_opens_.insert(Key(path)); }
  // Listing directory `path` fails with ERROR_ACCESS_DENIED.
  void DenyListing(const std::string& path) { denied_listings_.insert(Key(path)); }
  // FlushFileBuffers on a handle of `path` fails with ERROR_WRITE_FAULT.
  void FailFlushesOf(const std::string& path) { failing_flushes_.insert(Key(path)); }
  // GetSecurityInfo of a handle on `path` fails with ERROR_ACCESS_DENIED.
  void DenySecurity(const std::string& path) { denied_security_.insert(Key(path)); }
  // CloseHandle of a handle on `path` closes it (and deletes a file marked
  // for it) but reports ERROR_WRITE_FAULT, as a close can that reports a
  // failure of its own.
  void FailClosesOf(const std::string& path) { failing_closes_.insert(Key(path)); }
  // As Wine: an open asked for a link itself (kFileFlagOpenReparsePoint)
  // opens what it points to, so that its reparse point cannot be read; only
  // GetFileAttributesA of its name shows it.
  bool opens_follow_links = false;
  // Reads from `path` fail with ERROR_READ_FAULT-like failure.
  void FailReadsOf(const std::string& path) { failing_reads_.insert(Key(path)); }
  // Every read after the next `good_reads` fails alike: a file that goes bad
  // in the middle of a look-up.
  void FailReadsAfter(int good_reads) { good_reads_left_ = good_reads; }
  // Deleting `path` fails with ERROR_ACCESS_DENIED.
  void DenyDelete(const std::string& path) { denied_deletes_.insert(Key(path)); }
  // Every rename (MoveFileExA, or through a handle) fails with `error`; one
  // for the next restart still goes through.
  void DenyMoves(uint32_t error = platform::kErrorAccessDenied) { move_error_ = error; }
  // MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT: what it was asked to do at
  // the next restart, in order, as paths and the other flags; with a
  // `registry` they are also appended to its PendingFileRenameOperations,
  // as Windows keeps them ("\??\from", then "!\??\to" for a rename that
  // replaces, "\??\to" for one that does not, "" for a delete). With
  // `delayed_moves_fail` it fails with ERROR_ACCESS_DENIED (no
  // administrator).
  struct PendingRename {
    std::string from, to;
    uint32_t flags;
  };
  std::vector<PendingRename> pending_renames;
  bool delayed_moves_fail = false;
  FakeRegistry* registry = nullptr;
  // The system's code page, for names in UTF-16 (final paths, renames,
  // reparse points): FakeSystemInfo's, where FakePlatform wires it.
  const uint32_t* ansi_code_page = nullptr;
  // Windows restarts: every handle goes, and the renames of
  // PendingFileRenameOperations (or, without a `registry`, those asked for)
  // are made in order, each over an existing target only where it replaces
  // ("!"); one whose source is gone by then, or whose target stands where it
  // does not replace, does nothing. The value is gone afterwards.
  void Restart();
  // GetFileAttributesA of `path` fails with ERROR_ACCESS_DENIED.
  void DenyAttributes(const std::string& path) { denied_attributes_.insert(Key(path)); }
  // GetFinalPathNameByHandleW fails with ERROR_CALL_NOT_IMPLEMENTED, as on
  // Windows XP.
  bool final_paths_unsupported = false;
  // GetFinalPathNameByHandleW of a handle on `path` gives `final` (a path in
  // the object manager's namespace, a volume without a drive letter...).
  void SetFinalPath(const std::string& path, const std::u16string& final) {
    final_paths_[Key(path)] = final;
  }
  // Another process holds `path` open with this share mode (no handle of
  // ours): opens, deletes and moves are checked against it.
  void HoldOpen(const std::string& path, uint32_t access, uint32_t share_mode);
  // That process closes its handles on `path`.
  void ReleaseHolds(const std::string& path) { holders_.erase(Key(path)); }
  // Only `bytes` more bytes fit on the disk. With `short_write_succeeds` a
  // write past the end reports success with fewer bytes written (as Wine
  // does); otherwise it fails with ERROR_DISK_FULL (as Windows does).
  void SetFreeSpace(uint64_t bytes, bool short_write_succeeds = false);
  // Every write of more than `bytes` in one call fails with
  // ERROR_NO_SYSTEM_RESOURCES, as a huge write can on 32-bit Windows.
  void LimitSingleWrite(uint32_t bytes) { single_write_limit_ = bytes; }

  // --- Inspecting.
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  std::optional<std::vector<uint8_t>> Content(const std::string& path) const;
  std::string ContentText(const std::string& path) const;
  // Names (as created) of the entries of a directory.
  std::vector<std::string> List(const std::string& directory) const;
  size_t OpenHandleCount() const { return handles_.size(); }
  // The descriptor a file was created with (empty: none given).
  std::u16string SecurityDescriptorOf(const std::string& path) const;
  // Whether `file` is an open handle that started processes inherit.
  bool IsInheritable(platform::Handle file) const;
  size_t OpenFindCount() const { return finds_.size(); }
  // Largest count passed to one WriteFile call.
  uint32_t LargestWrite() const { return largest_write_; }
  // Every call, as "CreateFileA <path> access=.. share=.. disposition=.."
  // (CreateFileW alike, its path in UTF-8), "FlushFileBuffers <path>",
  // "DeleteFileA <path>", "MoveFileExA <from> -> <to> flags=..", and for
  // SetFileInformationByHandle "SetFileBasicInfo <path> <attributes>",
  // "SetFileDispositionInfo <path>", "SetFileRenameInfo <path> -> <NT path>":
  // for tests of what was asked of the system, in order.
  const std::vector<std::string>& Calls() const { return calls_; }
  // Runs at each call, as it is logged: to change the scene mid-way.
  std::function<void(const std::string& call)> on_call;

  // --- platform::FileSystem
  using platform::FileSystem::CreateFileA;
  // A new file keeps the descriptor of `security` (SecurityDescriptorOf); one
  // that is not "O:", "G:", "D:" or "S:" text fails with
  // ERROR_INVALID_PARAMETER before anything is created.
  platform::Handle CreateFileA(const std::string& path, uint32_t desired_access,
                               uint32_t share_mode, const platform::SecurityAttributes* security,
                               uint32_t creation_disposition,
                               uint32_t flags_and_attributes) override;
  // Names the same files as CreateFileA, by the UTF-8 form of the path.
  platform::Handle CreateFileW(const std::u16string& path, uint32_t desired_access,
                               uint32_t share_mode, uint32_t creation_disposition,
                               uint32_t flags_and_attributes) override;
  bool ReadFile(platform::Handle file, void* buffer, uint32_t to_read, uint32_t* read) override;
  bool WriteFile(platform::Handle file, const void* buffer, uint32_t to_write,
                 uint32_t* written) override;
  bool SetFilePointerEx(platform::Handle file, int64_t distance, int64_t* new_position,
                        uint32_t move_method) override;
  bool GetFileSizeEx(platform::Handle file, int64_t* size) override;
  bool FlushFileBuffers(platform::Handle file) override;
  // A handle marked for deletion removes its file when it closes.
  bool CloseHandle(platform::Handle file) override;
  bool GetFileInformationByHandle(platform::Handle file,
                                  platform::ByHandleFileInformation* info) override;
  // "\\?\" (a share's "\\?\UNC\") and the names of the file's path as
  // created, links resolved, in UTF-16 by the system's code page.
  bool GetFinalPathNameByHandleW(platform::Handle file, std::u16string* path,
                                 uint32_t flags) override;
  bool SetFileInformationByHandle(platform::Handle file,
                                  const platform::FileBasicInfo& info) override;
  bool SetFileInformationByHandle(platform::Handle file,
                                  const platform::FileDispositionInfo& info) override;
  // The rename of MoveFileExA, of the handle's file, to a "\??\" path.
  bool SetFileInformationByHandle(platform::Handle file,
                                  const platform::FileRenameInfo& info) override;
  bool GetSecurityInfo(platform::Handle file, platform::FileSecurity* security) override;
  // A junction's or a file link's target as it was given, as a "\??\" path.
  bool GetReparsePoint(platform::Handle file, platform::ReparsePoint* point) override;
  // Links are not followed by the calls on a name itself (attributes,
  // delete, remove, move), as on Windows; opens follow them unless asked not
  // to (kFileFlagOpenReparsePoint). A folder, or a folder above it, that a
  // handle holds open cannot be moved or removed.
  uint32_t GetFileAttributesA(const std::string& path) override;
  bool SetFileAttributesA(const std::string& path, uint32_t attributes) override;
  bool DeleteFileA(const std::string& path) override;
  bool RemoveDirectoryA(const std::string& path) override;
  bool MoveFileExA(const std::string& existing, const std::string& target, uint32_t flags) override;
  bool CreateDirectoryA(const std::string& path) override;
  platform::Handle FindFirstFileA(const std::string& pattern, platform::FindData* data) override;
  bool FindNextFileA(platform::Handle find, platform::FindData* data) override;
  bool FindClose(platform::Handle find) override;
  uint32_t GetLastError() override { return last_error_; }

 private:
  struct Node {
    std::string name;  // as created, for listings
    bool directory = false;
    uint32_t attributes = 0;
    std::vector<uint8_t> data;
    uint64_t sized = 0;  // size of a sized file (data empty)
    bool is_sized = false;
    std::string junction_target;         // key of the target of a junction or link
    std::string link_target;             // the target as given
    uint32_t links = 1;                  // names of the file
    std::u16string security_descriptor;  // as created, SDDL
    platform::FileSecurity security = AdministratorsOnly();
    uint64_t Size() const { return is_sized ? sized : data.size(); }
  };
  struct Open {
    std::string key;
    std::string path;  // as passed, for the call log
    uint32_t access = 0;
    uint32_t share = 0;
    uint64_t position = 0;
    bool delete_on_close = false;
    bool inheritable = false;
  };
  struct Find {
    std::vector<platform::FindData> entries;
    size_t next = 0;
  };
  struct Holder {
    uint32_t access;
    uint32_t share;
  };

  static std::string Key(const std::string& path);
  static std::string Parent(const std::string& key);
  static std::string BaseName(const std::string& path);
  static std::string ParentPath(const std::string& path);
  void Log(const std::string& call);
  bool Fail(uint32_t error);
  uint32_t CodePage() const { return ansi_code_page != nullptr ? *ansi_code_page : 1251; }
  // True when a new open with `access` and `share` conflicts with a handle
  // already open on `key` (ours or another process's).
  bool SharingConflict(const std::string& key, uint32_t access, uint32_t share) const;
  // `except`: a handle of ours that does not count (the one that renames).
  bool HeldWithoutDeleteSharing(const std::string& key,
                                platform::Handle except = platform::kInvalidHandleValue) const;
  // The node of the open handle `file` (and the handle's record in `*open`);
  // nullptr, with the error set, when either is gone.
  Node* NodeOf(platform::Handle file, Open** open);
  bool HasChildren(const std::string& key) const;
  // A handle is open on a file or folder below the folder `key`.
  bool HeldBelow(const std::string& key) const;
  // MoveFileExA's work from the resolved name `from` to `to`.
  bool Move(const std::string& from, const std::string& to, const std::string& target_name,
            uint32_t flags, platform::Handle renaming);
  std::string ResolveDirectory(const std::string& key) const;
  // `key` with links followed in its folders only: the name itself.
  std::string ResolveParent(const std::string& key) const;
  platform::Handle OpenFile(const std::string& call, const std::string& path,
                            uint32_t desired_access, uint32_t share_mode,
                            uint32_t creation_disposition, uint32_t flags_and_attributes,
                            const platform::SecurityAttributes* security = nullptr);

  std::map<std::string, Node> nodes_;
  std::map<platform::Handle, Open> handles_;
  std::map<platform::Handle, Find> finds_;
  std::multimap<std::string, Holder> holders_;
  std::set<std::string> denied_opens_, denied_listings_, failing_reads_, denied_deletes_,
      failing_flushes_, denied_attributes_, denied_security_, failing_closes_;
  std::map<std::string, std::u16string> final_paths_;
  std::optional<int> good_reads_left_;
  uint32_t move_error_ = platform::kErrorSuccess;
  std::optional<uint64_t> free_space_;
  bool short_write_succeeds_ = false;
  std::optional<uint32_t> single_write_limit_;
  uint32_t largest_write_ = 0;
  platform::Handle next_handle_ = 0x100;
  uint32_t last_error_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_FILE_SYSTEM_H_
