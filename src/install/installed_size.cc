#include "install/installed_size.h"

#include <algorithm>
#include <vector>

#include "install/pinned_folder.h"
#include "platform/scoped_handles.h"
#include "system/registry_accessor.h"

namespace lexoria {

namespace {

constexpr char kEstimatedSizeValue[] = "EstimatedSize";
// The setup's own key, for detection rules: HKLM\SOFTWARE\Orvane\Lexoria Update.
constexpr char kDetectionKey[] = "\\Software\\Orvane\\Lexoria Update";
// EstimatedSize is a signed 32-bit value: a tree of 2 TiB or more still gives
// the largest size it can hold rather than a wrapped or negative one.
constexpr uint64_t kMaxKib = 0x7FFFFFFF;

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// True when `folder` is, through its handle, a folder and no reparse point:
// what the handle holds now, whatever its name leads to.
bool IsPlainFolder(platform::FileSystem& files, platform::Handle folder) {
  platform::ByHandleFileInformation info;
  return files.GetFileInformationByHandle(folder, &info) &&
         (info.attributes & platform::kFileAttributeDirectory) != 0 &&
         (info.attributes & platform::kFileAttributeReparsePoint) == 0;
}

// Adds the sizes of the files of one directory to `total` and appends its
// subfolders to `pending`, and the index of the held folder they were found
// in to `parents`. A directory that cannot be listed adds nothing.
void WalkOneDirectory(platform::FileSystem& files, const std::string& directory, size_t index,
                      std::vector<std::string>& pending, std::vector<size_t>& parents,
                      uint64_t& total) {
  platform::FindData entry;
  // Every entry is admitted, hidden and system ones included: the size
  // counts everything the installation occupies.
  const platform::ScopedFind find(files, files.FindFirstFileA(directory + "*.*", &entry));
  if (!find) return;
  do {
    if ((entry.attributes & platform::kFileAttributeDirectory) == 0) {
      total += entry.size;
    } else if (!IsDotEntry(entry.name) &&
               (entry.attributes & platform::kFileAttributeReparsePoint) == 0) {
      pending.push_back(directory + entry.name);
      parents.push_back(index);
    }
    // A junction or directory link is an entry of its directory but is not
    // walked: its target is counted where it really lies (or lies outside
    // the installation), and a link back up the tree cannot make the walk
    // run for ever.
  } while (files.FindNextFileA(find.get(), &entry));
}

}  // namespace

int32_t EstimateInstalledSize(platform::FileSystem& files, const std::string& directory) {
  if (directory.empty() || !platform::IsFolderAt(files, directory)) return -1;

  // A subfolder is found by one listing and listed by name later, when a
  // standard user may have swapped it, or a folder above it, for a link to
  // anywhere. So each folder is opened itself, never what a link at its name
  // leads to, checked through its handle, and held until the walk ends:
  // read access takes part in sharing checks (a handle for attributes alone
  // would not), and without delete sharing nobody can rename or remove it,
  // nor rename a folder above it. The start folder is the caller's, held by
  // it, and followed as given.
  // Closed when the walk ends (also when it raises): holding them is the point.
  std::vector<platform::ScopedFile> held;
  std::vector<std::string> pending;
  std::vector<size_t> parents;  // of each pending folder, its index in `held`
  uint64_t total = 0;
  std::string current = directory;
  size_t parent = 0;  // the start folder stands in as its own parent
  EnsureTrailingBackslash(current);
  held.emplace_back(files,
                    files.CreateFileA(current, platform::kGenericRead,
                                      platform::kFileShareRead | platform::kFileShareWrite,
                                      platform::kOpenExisting, platform::kFileFlagBackupSemantics));
  // Breadth-first: the start directory, then every subfolder in the order
  // found. Sizes come from the listings alone; only folders are opened.
  size_t cursor = 0;
  for (;;) {
    // A folder a user has emptied can be made a junction where it stands,
    // held or not: the folder this one was found in must still be a plain
    // folder now that this one was opened by a name through it.
    if (IsPlainFolder(files, held.back().get()) && IsPlainFolder(files, held[parent].get())) {
      WalkOneDirectory(files, current, held.size() - 1, pending, parents, total);
    }
    if (cursor >= pending.size()) break;
    parent = parents[cursor];
    current = pending[cursor++];
    held.emplace_back(
        files, files.CreateFileA(
                   current, platform::kGenericRead,
                   platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting,
                   platform::kFileFlagOpenReparsePoint | platform::kFileFlagBackupSemantics));
    EnsureTrailingBackslash(current);
  }
  return static_cast<int32_t>(std::min<uint64_t>(total >> 10, kMaxKib));
}

namespace {

// Writes `value` as the REG_DWORD `name` of Lexoria's uninstall entry, when
// it can be opened; `value` is asked for only then.
// The entry discovery found Lexoria by: the one under WOW6432Node when only
// that one exists, so that values land where the lists of installed programs
// and the management tools read them. An entry is never created: a key
// holding nothing but a size is shown by no list and removed by no
// uninstaller.
std::string UninstallEntry(const SetupContext& ctx) {
  return ctx.Wow64UninstallKey.empty() ? ctx.UninstallKeyRoot + ctx.ProductShortName
                                       : ctx.Wow64UninstallKey;
}

template <typename Value>
void WriteToUninstallEntry(Services& s, const std::string& name, Value value) {
  TRegistry& registry = *s.ctx.SharedRegistry;
  registry.SetRootKey(platform::kHkeyLocalMachine);
  // Closes the key also when the write below raises; the failure itself is
  // left to the caller, which ends the process with it.
  KeyCloser closer(registry);
  if (!registry.OpenKey(UninstallEntry(s.ctx), /*create=*/false)) return;
  const int32_t number = value();
  if (number != -1) registry.WriteInteger(name, number);
}

// `version` as the REG_DWORD `name` of the open key; -1 removes it.
void SetOrDelete(TRegistry& registry, const std::string& name, int32_t version) {
  if (version == -1) {
    registry.DeleteValue(name);
  } else {
    registry.WriteInteger(name, version);
  }
}

}  // namespace

void RecordInstalledSize(Services& s) {
  // The folder as the run holds it: a junction swapped in at InstallDir's
  // name meanwhile would have the walk sum any tree.
  if (!s.ctx.InstallFolder) return;
  const std::string folder = s.ctx.InstallFolder->path();
  WriteToUninstallEntry(s, kEstimatedSizeValue,
                        [&] { return EstimateInstalledSize(s.os.files, folder); });
}

void RecordPackageVersion(Services& s, const std::string& value_name, int32_t version) {
  // The uninstall entry, wherever Lexoria's installer put it, for the tools
  // that read it there.
  {
    TRegistry& registry = *s.ctx.SharedRegistry;
    registry.SetRootKey(platform::kHkeyLocalMachine);
    KeyCloser closer(registry);
    if (registry.OpenKey(UninstallEntry(s.ctx), /*create=*/false)) {
      SetOrDelete(registry, value_name, version);
    }
  }
  // The setup's own key, in one place on every PC (the 64-bit view on 64-bit
  // Windows): one detection rule for a mixed fleet.
  TRegistry& registry = *s.ctx.SharedRegistry;
  registry.SetRootKey(platform::kHkeyLocalMachine);
  KeyCloser closer(registry);
  if (registry.OpenKey(kDetectionKey, /*create=*/version != -1)) {
    SetOrDelete(registry, value_name, version);
  }
}

}  // namespace lexoria
