#include "install/extract.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "install/file_holders.h"
#include "install/pinned_folder.h"
#include "install/version_readers.h"
#include "platform/file_system.h"
#include "platform/resources.h"
#include "platform/scoped_handles.h"
#include "ui/lang_unit.h"
#include "ui/messages.h"
#include "ui/progress_window.h"

namespace lexoria {

namespace {

// One WriteFile call of the whole ~88 MB package can fail on 32-bit Windows
// for lack of kernel resources (ERROR_NO_SYSTEM_RESOURCES); blocks of this
// size go through everywhere.
constexpr uint32_t kWriteBlockSize = 4u << 20;

// A program asked to quit closes its files within a few seconds; the
// replacement tries again at this pace, for at most this long.
constexpr uint32_t kReleaseRetryInterval = 250;
constexpr uint32_t kReleaseWaitLimit = 15000;

// A failure of one of the writing operations; caught at their boundary and
// shown as the one "Can't install file " message, which names the file. Its
// text is one for every step (the comment at each throw tells which).
class InstallFailure : public std::runtime_error {
 public:
  InstallFailure() : std::runtime_error("install failed") {}
};

// A resource of the own module, loaded; freed on every path.
class LoadedResource {
 public:
  LoadedResource(platform::Resources& resources, const std::string& name, const std::string& type)
      : resources_(resources) {
    const platform::Handle found = resources.FindResourceA(name, type);
    if (found == platform::kNullHandle) throw InstallFailure();  // no such resource
    size_ = resources.SizeofResource(found);
    loaded_ = resources.LoadResource(found);
    if (loaded_ == platform::kNullHandle) throw InstallFailure();  // cannot load the resource
    data_ = resources.LockResource(loaded_);
    if (data_ == nullptr && size_ != 0) {
      // A constructor that raises runs no destructor: the loaded resource
      // is freed here.
      resources.FreeResource(loaded_);
      loaded_ = platform::kNullHandle;
      throw InstallFailure();  // cannot lock the resource
    }
  }
  ~LoadedResource() {
    if (loaded_ != platform::kNullHandle) resources_.FreeResource(loaded_);
  }
  LoadedResource(const LoadedResource&) = delete;
  LoadedResource& operator=(const LoadedResource&) = delete;

  const uint8_t* data() const { return data_; }
  uint32_t size() const { return size_; }

 private:
  platform::Resources& resources_;
  platform::Handle loaded_ = platform::kNullHandle;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

class Heap final : public BufferMemory {
 public:
  uint8_t* Allocate(size_t size) override { return new (std::nothrow) uint8_t[size]; }
  void Free(uint8_t* block) override { delete[] block; }
};

// The one whole copy of the content, sized before anything is written, so
// that exhausted memory leaves every file untouched; freed on every path.
class ContentBuffer {
 public:
  ContentBuffer(uint64_t capacity, BufferMemory& memory) : memory_(memory) {
    if (capacity > SIZE_MAX) throw std::bad_alloc();
    capacity_ = static_cast<size_t>(capacity);
    data_ = memory_.Allocate(capacity_ == 0 ? 1 : capacity_);
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~ContentBuffer() { memory_.Free(data_); }
  ContentBuffer(const ContentBuffer&) = delete;
  ContentBuffer& operator=(const ContentBuffer&) = delete;

  // REQUIRES: the resource fits in what is left of the capacity.
  void Append(const LoadedResource& resource) {
    std::memcpy(data_ + size_, resource.data(), resource.size());
    size_ += resource.size();
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  BufferMemory& memory_;
  uint8_t* data_ = nullptr;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

bool IsFile(platform::FileSystem& files, const std::string& path) {
  const uint32_t attributes = files.GetFileAttributesA(path);
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) == 0;
}

// The attributes FileBasicInfo can set; the others belong to the file system.
constexpr uint32_t kSettableAttributes =
    platform::kFileAttributeReadonly | platform::kFileAttributeHidden |
    platform::kFileAttributeSystem | platform::kFileAttributeArchive |
    platform::kFileAttributeNormal | 0x100 /*temporary*/ | 0x1000 /*offline*/ |
    0x2000 /*not content indexed*/;

// Clears the name `name` of `folder` for a new file. Whatever stands there
// is opened as itself and looked at, changed and deleted through that one
// handle, so that nothing can be swapped in between the look and the
// delete: a link (a junction, a directory or file symbolic link) is removed
// as the link, never its target; a read-only file with one name (an earlier
// run's leftover, copied by a user) is made writable first, so that it
// cannot block every later update. Left alone, attribute and all: a real
// folder; a read-only file with more names (a hard link a user made to a
// file it may only read: the attribute belongs to the file, not to the
// name); and a name that an open leads elsewhere (a link the file system
// follows although asked not to). Failures are ignored: the creation that
// follows fails when the name is still taken.
void ClearName(platform::FileSystem& files, const PinnedFolder& folder, const std::string& name) {
  platform::ScopedFile existing(
      files, files.CreateFileA(
                 folder.path() + name,
                 platform::kDelete | platform::kFileReadAttributes | platform::kFileWriteAttributes,
                 platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
                 platform::kOpenExisting,
                 platform::kFileFlagOpenReparsePoint | platform::kFileFlagBackupSemantics));
  if (!existing.valid()) return;
  platform::ByHandleFileInformation info;
  if (!files.GetFileInformationByHandle(existing.get(), &info) ||
      !folder.Holds(existing.get(), name)) {
    return;
  }
  const bool link = (info.attributes & platform::kFileAttributeReparsePoint) != 0;
  if ((info.attributes & platform::kFileAttributeDirectory) != 0 && !link) return;
  if ((info.attributes & platform::kFileAttributeReadonly) != 0) {
    if (info.number_of_links > 1) return;
    const uint32_t writable =
        info.attributes & kSettableAttributes & ~platform::kFileAttributeReadonly;
    if (!files.SetFileInformationByHandle(
            existing.get(),
            platform::FileBasicInfo{writable != 0 ? writable : platform::kFileAttributeNormal})) {
      return;
    }
  }
  files.SetFileInformationByHandle(existing.get(), platform::FileDispositionInfo{true});
}

// Writes `buffer` as the new file `name` of `folder`, in blocks, and
// flushes it to the disk; every count is checked, since some systems report
// success for a short write to a full disk. A failure after the creation
// removes the partial file, so that no truncated package is left behind.
//
// The setup runs elevated, and the installation folder may be writable by
// standard users (Lexoria installed outside Program Files inherits their
// Modify right). A name there could be a hard link or a symbolic link a user
// planted to any file of the system, which a write through it would
// overwrite, or a dangling link whose target the creation would make. So
// the name is cleared first (ClearName) and the file created new without
// following a link: if a link stands there again, or anything still does,
// the creation fails and so does the write. A file that the creation made
// elsewhere (the name led out of the folder after all) is removed again.
void WriteNewFile(platform::FileSystem& files, const PinnedFolder& folder, const std::string& name,
                  const ContentBuffer& buffer) {
  ClearName(files, folder, name);
  const std::string path = folder.path() + name;
  platform::ScopedFile file(
      files,
      files.CreateFileA(path, platform::kGenericWrite | platform::kDelete, /*share_mode=*/0,
                        platform::kCreateNew,
                        platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint));
  if (!file.valid()) throw InstallFailure();  // cannot create the file
  bool complete = folder.Holds(file.get(), name);
  for (size_t done = 0; complete && done < buffer.size();) {
    const uint32_t block =
        static_cast<uint32_t>(std::min<size_t>(kWriteBlockSize, buffer.size() - done));
    uint32_t written = 0;
    if (!files.WriteFile(file.get(), buffer.data() + done, block, &written) || written != block) {
      complete = false;
    }
    done += block;
  }
  // The data reaches the disk before the file is closed and moved over the
  // installed one: the rename is recorded by the file system's journal, the
  // data is not, and a power cut soon after a rename of unflushed data can
  // leave the package's name over no content. A flush that fails is a write
  // that failed.
  if (complete && !files.FlushFileBuffers(file.get())) complete = false;
  if (!complete) {
    // Removed when the handle closes, through the handle: the name may lead
    // elsewhere by now.
    files.SetFileInformationByHandle(file.get(), platform::FileDispositionInfo{true});
    file.Close();
    throw InstallFailure();  // cannot write the file
  }
  // A close can report a write-behind error of its own.
  if (!file.Close()) {
    ClearName(files, folder, name);
    throw InstallFailure();  // cannot close the file
  }
}

bool TakesCompareAndReplacePath(const std::string& type) {
  return type == "pak" || type == "3bs" || type == "cok" || type == "lng" || type == "exe";
}

struct VersionCheck {
  bool older = false;
  std::string new_text;
  std::string installed_text;
};

// Reads the new version (from the temporary file) first, then the installed
// one, as the file type keeps them. Equal versions are not older.
VersionCheck CompareVersions(Services& s, const std::string& type, const std::string& temp_path,
                             const std::string& target_path) {
  VersionCheck check;
  if (type == "exe") {
    // FileVersion texts: an installed file without one, or the same text on
    // both sides, is replaced without a question.
    check.new_text = ReadExeFileVersion(s.os.versions, temp_path);
    check.installed_text = ReadExeFileVersion(s.os.versions, target_path);
    check.older = !check.installed_text.empty() && check.installed_text != check.new_text &&
                  IsVersionOlder(check.new_text, check.installed_text);
    return check;
  }
  int32_t new_version = 0;
  int32_t installed_version = 0;
  if (type == "lng") {
    // A language file with "!" in its path is always replaced: no version
    // is read at all.
    if (target_path.find('!') != std::string::npos) return check;
    new_version = ReadLngVersion(s, temp_path);
    installed_version = ReadLngVersion(s, target_path);
  } else {
    int32_t (*reader)(platform::FileSystem&, const std::string&) = type == "pak" ? &ReadPakVersion
                                                                   : type == "3bs"
                                                                       ? &Read3bsVersion
                                                                       : &ReadCokVersion;
    new_version = reader(s.os.files, temp_path);
    installed_version = reader(s.os.files, target_path);
  }
  check.new_text = std::to_string(new_version);
  check.installed_text = std::to_string(installed_version);
  check.older = installed_version > new_version;
  return check;
}

// The older-version question, in the language file's words when one is in
// use, else in the interface language. True only for Yes.
bool AskReplaceWithOlder(Services& s, const std::string& target_path, const VersionCheck& check) {
  if (s.ctx.LanguageIndex >= 0) {
    const std::string caption = LookupLanguageString(s, "soundquest");
    const std::string text =
        FormatLanguageText(s, "olderfilever", {target_path}, /*drop_first_line=*/false);
    const TaggedText question = SystemText(text);
    return AskQuestionWithCaption(s, question, SystemText(caption), s.ctx.MessageLanguageId,
                                  /*english=*/question);
  }
  const TaggedText english =
      SystemText(target_path) +
      OwnText(
          " file installing is of older version\r\n"
          "than the same already installed.\r\n\r\n"
          "Do you really want to replace existing\r\n"
          "new file version " +
          check.installed_text + " with an older file version " + check.new_text + "?");
  const TaggedText russian =
      "Устанавливаемый файл " + SystemText(target_path) +
      OwnText(
          "\r\n"
          "более старой версии, чем уже установленный.\r\n\r\n"
          "Действительно ли Вы хотите заменить уже имеющийся\r\n"
          "файл версии " +
          check.installed_text + " на более старый версии " + check.new_text + "?");
  return AskQuestion(s, english, russian);
}

// Whether a replacement that failed with `error` failed because another
// program holds the target: it may succeed once that program lets go. A
// file held open without delete sharing, or mapped into memory, refuses a
// rename over it with "access denied" as a read-only file does; only the
// read-only file will refuse it for ever.
bool HeldByAnotherProgram(platform::FileSystem& files, uint32_t error,
                          const std::string& target_path) {
  switch (error) {
    case platform::kErrorSharingViolation:
    case platform::kErrorLockViolation:
    case platform::kErrorUserMappedFile:
      return true;
    case platform::kErrorAccessDenied: {
      const uint32_t attributes = files.GetFileAttributesA(target_path);
      return attributes == platform::kInvalidFileAttributes ||
             (attributes & platform::kFileAttributeReadonly) == 0;
    }
    default:
      return false;
  }
}

// Names, in the run's record, the programs that hold the file at `path`.
void NoteHolders(Services& s, const std::u16string& path) {
  for (const platform::RmProcessInfo& holder : ProgramsHolding(s.os.restart_manager, path)) {
    s.ctx.Record.notes.push_back(DescribeHolder(holder));
  }
}

// The temporary file takes the target's place in one step. Deleting the
// installed file first and renaming after would leave no file at all when
// the rename fails; this way a failure leaves the installed file as it was.
//
// The rename goes through a handle on the temporary file, checked to be that
// name in the pinned folder and held without delete sharing until the rename
// is done: the file cannot be removed meanwhile, so the folder, which holds
// it, cannot be emptied and turned into a link either, and the target's name
// is resolved in the same folder. Where the system gives no final path
// (Windows XP), the file is renamed by its path.
//
// A Lexoria asked to quit a moment ago may still hold its package while it
// closes: the rename is then tried again, bounded, rather than waiting for
// its process (which the setup may not be allowed to open, and which may
// hand the file to a helper of its own). Only the file matters. A file still
// held then, where nobody can be told (a rollout from a management tool,
// with Lexoria open in the user's session), is replaced at the next restart,
// as installers do; the program is never ended by force, which would lose
// its user's work. Returns kWritten or kScheduled; raises on failure, after
// removing the temporary file.
WriteResult ReplaceInstalledFile(Services& s, const PinnedFolder& folder,
                                 const std::string& temp_name, const std::string& name,
                                 HeldTarget held) {
  platform::FileSystem& files = s.os.files;
  platform::Clock& clock = s.os.clock;
  const std::string temp_path = folder.path() + temp_name;
  const std::string target_path = folder.path() + name;
  const std::u16string nt_target = folder.NtPathOf(name);
  platform::ScopedFile temp(files, platform::kInvalidHandleValue);
  if (!nt_target.empty()) {
    temp.Reset(files.CreateFileA(temp_path, platform::kDelete | platform::kSynchronize,
                                 platform::kFileShareRead, platform::kOpenExisting,
                                 platform::kFileFlagOpenReparsePoint));
    if (!temp.valid() || !folder.Holds(temp.get(), temp_name)) {
      throw InstallFailure();  // cannot open the new file
    }
  }
  uint32_t error = platform::kErrorSuccess;
  const auto replace = [&] {
    const bool done =
        temp.valid()
            ? files.SetFileInformationByHandle(
                  temp.get(), platform::FileRenameInfo{/*replace_if_exists=*/true, nt_target})
            : files.MoveFileExA(
                  temp_path, target_path,
                  platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough);
    if (!done) error = files.GetLastError();
    return done;
  };
  if (replace()) return WriteResult::kWritten;
  bool held_now = HeldByAnotherProgram(files, error, target_path);
  if (held == HeldTarget::kWaitForRelease || held == HeldTarget::kWaitThenReplaceAtRestart) {
    const uint32_t began = clock.GetTickCount();
    while (held_now && clock.GetTickCount() - began < kReleaseWaitLimit) {
      clock.Sleep(kReleaseRetryInterval);
      if (replace()) return WriteResult::kWritten;
      held_now = HeldByAnotherProgram(files, error, target_path);
    }
  }
  temp.Close();
  if (held_now) {
    NoteHolders(s, s.os.system.MultiByteToWideChar(platform::kCpAcp, target_path));
    if ((held == HeldTarget::kReplaceAtRestart || held == HeldTarget::kWaitThenReplaceAtRestart) &&
        files.MoveFileExA(
            temp_path, target_path,
            platform::kMovefileReplaceExisting | platform::kMovefileDelayUntilReboot)) {
      return WriteResult::kScheduled;
    }
  }
  // Nothing will use the new content: no 88 MB left behind until the next
  // run.
  ClearName(files, folder, temp_name);
  throw InstallFailure();  // cannot replace the installed file
}

// The folder part of a full file path, with its backslash, and the name.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) throw InstallFailure();  // no folder in the target path
  return path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

void ShowInstallFailure(Services& s, const std::string& target_path) {
  ShowFileError(s, "Can't install file ", "Не удается установить файл ", target_path);
}

}  // namespace

WriteResult ExtractResourceToFile(Services& s, const std::string& name, const std::string& type,
                                  const std::string& target_path, bool check, HeldTarget held,
                                  BufferMemory& memory) {
  platform::FileSystem& files = s.os.files;
  // Also records that a question was asked: the progress window comes back
  // afterwards, whatever the answer.
  bool older = false;
  WriteResult result = WriteResult::kWritten;
  try {
    const LoadedResource resource(s.os.resources, name, type);
    ContentBuffer buffer(resource.size(), memory);
    buffer.Append(resource);

    // Held until the file is settled; every path below is under it.
    const PinnedFolder folder(files, s.os.system, FolderOf(target_path));
    const std::string file_name = NameOf(target_path);
    const std::string write_path = folder.path() + file_name;
    if (!check || !IsFile(files, write_path) || !TakesCompareAndReplacePath(type)) {
      WriteNewFile(files, folder, file_name, buffer);
    } else {
      const std::string temp_name = MakeTempFileName(file_name);
      WriteNewFile(files, folder, temp_name, buffer);
      const VersionCheck versions = CompareVersions(s, type, folder.path() + temp_name, write_path);
      older = versions.older;
      bool replace = true;
      if (older) {
        s.progress.HideProgressWindow();
        replace = AskReplaceWithOlder(s, target_path, versions);
      }
      if (replace) {
        result = ReplaceInstalledFile(s, folder, temp_name, file_name, held);
      } else {
        // The installed file stays; a "~" file that cannot be deleted is
        // left for the next run, which writes it anew.
        ClearName(files, folder, temp_name);
        result = WriteResult::kKept;
      }
    }
  } catch (const std::exception&) {
    // Memory, resource, folder, create, write or replace: the message names
    // the target as the caller gave it, also when the temporary file failed.
    ShowInstallFailure(s, target_path);
    return WriteResult::kFailed;
  }

  // The file is settled: a failure of the window from here on is not a
  // failure to install it.
  if (older) s.progress.ShowProgressWindow("", "");
  return result;
}

WriteResult JoinResourcesToFile(Services& s, const std::string& name, const std::string& type,
                                const std::string& target_path, BufferMemory& memory) {
  try {
    const LoadedResource first(s.os.resources, name + "1", type);
    const LoadedResource second(s.os.resources, name + "2", type);
    ContentBuffer buffer(uint64_t{first.size()} + second.size(), memory);
    buffer.Append(first);
    buffer.Append(second);
    const PinnedFolder folder(s.os.files, s.os.system, FolderOf(target_path));
    WriteNewFile(s.os.files, folder, NameOf(target_path), buffer);
  } catch (const std::exception&) {
    ShowInstallFailure(s, target_path);
    return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

BufferMemory& HeapMemory() {
  // Stateless: one for the process, built before any code runs.
  static constinit Heap heap;
  return heap;
}

std::string MakeTempFileName(const std::string& path) {
  // From the second-to-last character back to the first: a trailing
  // backslash is not taken as the start of the file name.
  for (size_t i = path.size() < 2 ? 0 : path.size() - 1; i-- > 0;) {
    if (path[i] == '\\') return path.substr(0, i + 1) + "~" + path.substr(i + 1);
  }
  return "~" + path;
}

}  // namespace lexoria
