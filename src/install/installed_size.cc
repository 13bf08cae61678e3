#include "install/installed_size.h"

#include <algorithm>
#include <vector>

#include "install/pinned_folder.h"
#include "platform/scoped_handles.h"
#include "system/registry_accessor.h"

namespace lexoria {

namespace {

constexpr char kEstimatedSizeValue[] = "EstimatedSize";
// EstimatedSize is a signed 32-bit value: a tree of 2 TiB or more still gives
// the largest size it can hold rather than a wrapped or negative one.
constexpr uint64_t kMaxKib = 0x7FFFFFFF;

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// Adds the sizes of the files of one directory to `total` and appends its
// subdirectories to `pending`. A directory that cannot be listed adds nothing.
void WalkOneDirectory(platform::FileSystem& files, const std::string& directory,
                      std::vector<std::string>& pending, uint64_t& total) {
  platform::FindData entry;
  // Every entry is admitted, hidden and system ones included: the size
  // counts everything the installation occupies.
  const platform::ScopedFind find(files, files.FindFirstFileA(directory + "*.*", &entry));
  if (!find.valid()) return;
  do {
    if ((entry.attributes & platform::kFileAttributeDirectory) == 0) {
      total += entry.size;
    } else if (!IsDotEntry(entry.name) &&
               (entry.attributes & platform::kFileAttributeReparsePoint) == 0) {
      pending.push_back(directory + entry.name);
    }
    // A junction or directory link is an entry of its directory but is not
    // walked: its target is counted where it really lies (or lies outside
    // the installation), and a link back up the tree cannot make the walk
    // run for ever.
  } while (files.FindNextFileA(find.get(), &entry));
}

}  // namespace

int32_t EstimateInstalledSize(platform::FileSystem& files, const std::string& directory) {
  if (directory.empty()) return -1;
  const uint32_t attributes = files.GetFileAttributesA(directory);
  if (attributes == platform::kInvalidFileAttributes ||
      (attributes & platform::kFileAttributeDirectory) == 0) {
    return -1;
  }

  // Breadth-first: the start directory, then every subdirectory in the order
  // found. Sizes come from the enumeration alone; no file is opened.
  std::vector<std::string> pending;
  uint64_t total = 0;
  std::string current = directory;
  size_t cursor = 0;
  for (;;) {
    EnsureTrailingBackslash(current);
    WalkOneDirectory(files, current, pending, total);
    if (cursor >= pending.size()) break;
    current = pending[cursor++];
  }
  return static_cast<int32_t>(std::min<uint64_t>(total >> 10, kMaxKib));
}

namespace {

// Writes `value` as the REG_DWORD `name` of Lexoria's uninstall entry, when
// it can be opened; `value` is asked for only then.
template <typename Value>
void WriteToUninstallEntry(Services& s, const std::string& name, Value value) {
  SetupContext& ctx = s.ctx;
  TRegistry& registry = *ctx.SharedRegistry;
  registry.SetRootKey(platform::kHkeyLocalMachine);
  // Closes the key also when the write below raises; the failure itself is
  // left to the caller, which ends the process with it.
  KeyCloser closer(registry);
  // The entry discovery found Lexoria by: the one under WOW6432Node when
  // only that one exists, so that the value lands where the lists of
  // installed programs and the management tools read it. An entry is never
  // created: a key holding nothing but a size is shown by no list and
  // removed by no uninstaller.
  const std::string entry = ctx.Wow64UninstallKey.empty()
                                ? ctx.UninstallKeyRoot + ctx.ProductShortName
                                : ctx.Wow64UninstallKey;
  if (!registry.OpenKey(entry, /*create=*/false)) return;
  const int32_t number = value();
  if (number != -1) registry.WriteInteger(name, number);
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
  WriteToUninstallEntry(s, value_name, [&] { return version; });
}

}  // namespace lexoria
