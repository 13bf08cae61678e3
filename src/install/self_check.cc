#include "install/self_check.h"

#include <memory>
#include <optional>

#include "install/pe_checksum.h"

namespace lexoria {

namespace {

// Large enough that the per-call cost of ReadFile vanishes against the sum,
// small enough to stay in the cache and never to need the whole ~88 MB file
// in memory beside the resource copy the extraction makes later.
constexpr uint32_t kBlockSize = 1 << 20;

class FileCloser {
 public:
  FileCloser(platform::FileSystem& files, platform::Handle file) : files_(files), file_(file) {}
  ~FileCloser() { files_.CloseHandle(file_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  platform::FileSystem& files_;
  platform::Handle file_;
};

}  // namespace

bool SetupFileIsIntact(platform::Platform& os) {
  const std::string path = os.system.GetModuleFileNameA();
  if (path.empty()) return false;
  platform::FileSystem& files = os.files;
  const platform::Handle file =
      files.CreateFileA(path, platform::kGenericRead, platform::kFileShareRead,
                        platform::kOpenExisting, platform::kFileFlagSequentialScan);
  if (file == platform::kInvalidHandleValue) return false;
  FileCloser closer(files, file);

  auto buffer = std::make_unique<uint8_t[]>(kBlockSize);
  PeChecksum checksum;
  while (true) {
    uint32_t read = 0;
    if (!files.ReadFile(file, buffer.get(), kBlockSize, &read)) return false;
    if (read == 0) break;
    checksum.Update(buffer.get(), read);
  }
  const std::optional<PeChecksumResult> result = checksum.Finish();
  return result && result->Matches();
}

}  // namespace lexoria
