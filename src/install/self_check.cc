#include "install/self_check.h"

#include <memory>
#include <optional>

#include "install/pe_checksum.h"
#include "platform/scoped_handles.h"

namespace lexoria {

namespace {

// Large enough that the per-call cost of ReadFile vanishes against the sum,
// small enough to stay in the cache and never to need the whole ~88 MB file
// in memory beside the resource copy the extraction makes later.
constexpr uint32_t kBlockSize = 1 << 20;

}  // namespace

bool SetupFileIsIntact(platform::Platform& os) {
  // The wide name: a setup started from a folder named outside the ANSI code
  // page must still find its own file.
  return FileIsIntact(os.files, os.system.GetModuleFileNameW());
}

bool FileIsIntact(platform::FileSystem& files, const std::u16string& path) {
  if (path.empty()) return false;
  const platform::ScopedFile file(
      files, files.CreateFileW(path, platform::kGenericRead, platform::kFileShareRead,
                               platform::kOpenExisting, platform::kFileFlagSequentialScan));
  if (!file) return false;

  auto buffer = std::make_unique<uint8_t[]>(kBlockSize);
  PeChecksum checksum;
  while (true) {
    uint32_t read = 0;
    if (!files.ReadFile(file.get(), buffer.get(), kBlockSize, &read)) return false;
    if (read == 0) break;
    checksum.Update(buffer.get(), read);
  }
  const std::optional<PeChecksumResult> result = checksum.Finish();
  return result && result->Matches();
}

}  // namespace lexoria
