#include "install/extract.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "install/file_holders.h"
#include "install/restart_renames.h"
#include "install/version_readers.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/scoped_handles.h"
#include "system/command_line.h"
#include "ui/lang_unit.h"
#include "ui/messages.h"
#include "ui/progress_window.h"

namespace lexoria {

namespace {

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
  // A failure of a call, which the record names.
  explicit InstallFailure(FailedCall call)
      : std::runtime_error("install failed"), call_(std::move(call)) {}
  const FailedCall& call() const { return call_; }

 private:
  FailedCall call_;
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

bool TakesCompareAndReplacePath(const std::string& type) {
  return type == "pak" || type == "3bs" || type == "cok" || type == "lng" || type == "exe";
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

// The new file takes the target's place in one step, through its handle:
// deleting the installed file first and renaming after would leave no file
// at all when the rename fails; this way a failure leaves the installed file
// as it was. Where no target existed, the rename replaces nothing: a name
// planted there meanwhile fails it.
//
// A Lexoria asked to quit a moment ago may still hold its package while it
// closes: the rename is then tried again, bounded, rather than waiting for
// its process (which the setup may not be allowed to open, and which may
// hand the file to a helper of its own). Only the file matters. A file still
// held then, where nobody can be told (a rollout from a management tool,
// with Lexoria open in the user's session), is replaced at the next restart,
// as installers do, in a folder only the trusted accounts may change; the
// program is never ended by force, which would lose its user's work.
// Returns kWritten or kScheduled; raises on failure, and the new file goes
// with its handle.
WriteResult ReplaceInstalledFile(Services& s, const PinnedFolder& folder, NewFile& file,
                                 const std::string& name, bool replace_existing, HeldTarget held,
                                 bool queued) {
  platform::FileSystem& files = s.os.files;
  platform::Clock& clock = s.os.clock;
  const std::string temp_path = folder.path() + file.name();
  const std::string target_path = folder.path() + name;
  uint32_t error = platform::kErrorSuccess;
  const auto replace = [&] { return file.RenameTo(name, replace_existing, &error); };
  if (replace()) return WriteResult::kWritten;
  bool held_now = replace_existing && HeldByAnotherProgram(files, error, target_path);
  if (held == HeldTarget::kWaitForRelease || held == HeldTarget::kWaitThenReplaceAtRestart) {
    const uint32_t began = clock.GetTickCount();
    while (held_now && clock.GetTickCount() - began < kReleaseWaitLimit) {
      clock.Sleep(kReleaseRetryInterval);
      if (replace()) return WriteResult::kWritten;
      // The error may change meanwhile (the program let go, and the disk
      // filled): only a hold is waited for.
      held_now = HeldByAnotherProgram(files, error, target_path);
    }
  }
  if (held_now) {
    NoteHolders(s, s.os.system.MultiByteToWideChar(platform::kCpAcp, target_path));
    if (queued) {
      // The rename an earlier run queued takes this file at the restart:
      // it stays, whoever is told of the failure now.
      file.Keep();
      if (held == HeldTarget::kReplaceAtRestart || held == HeldTarget::kWaitThenReplaceAtRestart) {
        return WriteResult::kScheduled;
      }
      throw InstallFailure(file.failure());
    }
    if (held == HeldTarget::kReplaceAtRestart || held == HeldTarget::kWaitThenReplaceAtRestart) {
      if (folder.OthersMayChange()) {
        s.ctx.Record.AddNote(
            "The package was not left for a replacement at the next restart: the installation "
            "folder lets standard users change it, and the restart would rename what they put "
            "there.");
      } else if (files.MoveFileExA(
                     temp_path, target_path,
                     platform::kMovefileReplaceExisting | platform::kMovefileDelayUntilReboot)) {
        file.Keep();
        return WriteResult::kScheduled;
      } else {
        throw InstallFailure(
            {"MoveFileExA (at the next restart)", temp_path, files.GetLastError()});
      }
    }
  }
  throw InstallFailure(file.failure());  // cannot replace the installed file
}

// Notes in the record the call a failure was of, where one was.
void NoteFailure(Services& s, const std::exception& failure) {
  const auto* install = dynamic_cast<const InstallFailure*>(&failure);
  if (install != nullptr && !install->call().call.empty()) {
    s.ctx.Record.failures.push_back(install->call());
  }
}

// The name part of a full file path.
std::string NameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

void ShowInstallFailure(Services& s, const std::string& target_path) {
  ShowFileError(s, "Can't install file ", "Не удается установить файл ", target_path);
}

}  // namespace

WriteResult ExtractResourceToFile(Services& s, const PinnedFolder& folder, const std::string& name,
                                  const std::string& type, const std::string& target_path,
                                  bool check, HeldTarget held, int32_t* version) {
  if (version != nullptr) *version = -1;
  // Also records that a question was asked: the progress window comes back
  // afterwards, whatever the answer.
  bool older = false;
  WriteResult result = WriteResult::kWritten;
  int32_t in_place = -1;
  bool queued = false;
  try {
    // Written straight from the module's own mapped image, which nobody can
    // change while the setup runs: the version read from these bytes is
    // that of the bytes written. A copy would cost as much as the write.
    const LoadedResource resource(s.os.resources, name, type);

    const std::string file_name = NameOf(target_path);
    const std::string temp_name = MakeTempFileName(file_name);
    const bool installed = folder.IsFile(file_name);
    // An earlier run's replacement waits for the restart: its "~" file must
    // be there then. The same package is kept as it is; another is written
    // again under that name, and stays, whatever becomes of this run.
    queued = installed &&
             RenameIsQueued(s.os.registry, folder.path() + temp_name, folder.path() + file_name);
    std::optional<NewFile> file;
    if (queued) {
      file.emplace(folder, temp_name, NewFile::kAdopt);
      if (!file->SameContent(resource.data(), resource.size())) file.reset();
    }
    if (!file) {
      file.emplace(folder, temp_name);
      // Cannot create it, or cannot write it.
      if (!file->valid() || !file->Write(resource.data(), resource.size())) {
        throw InstallFailure(file->failure());
      }
    }
    const std::string new_path = folder.path() + temp_name;
    in_place = VersionOfContent(s, type, resource.data(), resource.size(), new_path);
    bool replace = true;
    if (check && installed && TakesCompareAndReplacePath(type)) {
      const VersionCheck versions = CompareVersions(s, type, resource.data(), resource.size(),
                                                    new_path, folder.path() + file_name);
      older = versions.older;
      in_place = versions.numeric ? versions.new_version : -1;
      if (older) {
        s.progress.HideProgressWindow();
        replace = AskReplaceWithOlder(s, target_path, versions);
        if (!replace && !queued) in_place = versions.numeric ? versions.installed_version : -1;
      }
    }
    if (replace) {
      result = ReplaceInstalledFile(s, folder, *file, file_name,
                                    /*replace_existing=*/installed, held, queued);
    } else {
      // The installed file stays; the new one goes with its handle (a "~"
      // file that cannot be removed is left for the next run, which clears
      // it), unless a queued rename waits for it.
      if (queued) file->Keep();
      result = WriteResult::kKept;
    }
    // The data was flushed before the rename: a close that reports a
    // failure afterwards leaves the package whole in place.
    if (!file->Close() && result == WriteResult::kWritten) {
      s.ctx.Record.AddNote(
          "Closing the new package's file reported a failure after it was in place.");
    }
    if (version != nullptr) *version = in_place;
  } catch (const std::exception& failure) {
    // Memory, resource, create, write or replace: the message names the
    // target as the caller gave it, also when the temporary file failed.
    // A queued replacement still puts the new package in place.
    if (version != nullptr && queued) *version = in_place;
    NoteFailure(s, failure);
    ShowInstallFailure(s, target_path);
    return WriteResult::kFailed;
  }

  // The file is settled: a failure of the window from here on is not a
  // failure to install it.
  if (older) s.progress.ShowProgressWindow("", "");
  return result;
}

WriteResult JoinResourcesToFile(Services& s, const PinnedFolder& folder, const std::string& name,
                                const std::string& type, const std::string& target_path,
                                int32_t* version, BufferMemory& memory) {
  if (version != nullptr) *version = -1;
  try {
    const LoadedResource first(s.os.resources, name + "1", type);
    const LoadedResource second(s.os.resources, name + "2", type);
    ContentBuffer buffer(uint64_t{first.size()} + second.size(), memory);
    buffer.Append(first);
    buffer.Append(second);
    const std::string file_name = NameOf(target_path);
    const bool installed = folder.IsFile(file_name);
    NewFile file(folder, MakeTempFileName(file_name));
    uint32_t error = platform::kErrorSuccess;
    if (!file.valid() || !file.Write(buffer.data(), buffer.size()) ||
        !file.RenameTo(file_name, installed, &error)) {
      throw InstallFailure(file.failure());
    }
    file.Close();
    if (version != nullptr) *version = PakVersionOf(buffer.data(), buffer.size());
  } catch (const std::exception& failure) {
    NoteFailure(s, failure);
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
