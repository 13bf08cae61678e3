// bench_checksum: throughput of the setup's integrity self-check on a real
// setup file, under the real Win32 adapter.
//
//   bench_checksum <setup file> [runs]
//
// Each run times, over the same file (warm in the file cache after a first
// untimed pass):
//   read      the file read in 1 MiB blocks through the real FileSystem
//             adapter, as the self-check reads it, with nothing else done:
//             the floor of any reading check;
//   selfcheck the self-check itself (FileIsIntact, the check SetupFileIsIntact
//             makes of the running module) on the given file;
//   memsum    PeChecksum over the file's bytes already in memory: the pure
//             calculation, without the reads.
// Prints "bytes=<n> intact=<0|1>" and then one line per run
//   run=<i> read_ms=<t> selfcheck_ms=<t> memsum_ms=<t>
// Exit code 0, 1 when the file cannot be read, 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "install/pe_checksum.h"
#include "install/self_check.h"
#include "platform/scoped_handles.h"
#include "platform/win32/adapters.h"

namespace lexoria {
namespace {

namespace port = platform;

constexpr uint32_t kBlockSize = 1 << 20;

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&began_);
  }
  double Milliseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - began_.QuadPart) /
           static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER began_;
};

// Reads the whole file in blocks as the self-check does; appends the bytes
// to `copy` when given. False when the file cannot be opened or read.
bool ReadAll(port::FileSystem& files, const std::string& path, std::vector<uint8_t>* copy,
             uint64_t* total) {
  const port::ScopedFile file(
      files, files.CreateFileA(path, port::kGenericRead, port::kFileShareRead, port::kOpenExisting,
                               port::kFileFlagSequentialScan));
  if (!file) return false;
  auto buffer = std::make_unique<uint8_t[]>(kBlockSize);
  bool ok = true;
  *total = 0;
  while (true) {
    uint32_t read = 0;
    if (!files.ReadFile(file.get(), buffer.get(), kBlockSize, &read)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    if (copy != nullptr) copy->insert(copy->end(), buffer.get(), buffer.get() + read);
    *total += read;
  }
  return ok;
}

}  // namespace
}  // namespace lexoria

int main(int argc, char** argv) {
  using namespace lexoria;
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: bench_checksum <setup file> [runs]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int runs = argc == 3 ? std::atoi(argv[2]) : 7;

  const std::unique_ptr<platform::FileSystem> files = platform::win32::MakeFileSystem();
  // The ANSI argument as the wide name the self-check opens.
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> wide(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  const std::u16string module(reinterpret_cast<const char16_t*>(wide.data()));

  // The untimed first pass warms the file cache and keeps the bytes for the
  // in-memory figure.
  std::vector<uint8_t> image;
  uint64_t bytes = 0;
  if (!ReadAll(*files, path, &image, &bytes)) {
    std::fprintf(stderr, "bench_checksum: cannot read %s (error %u)\n", path.c_str(),
                 static_cast<unsigned>(files->GetLastError()));
    return 1;
  }
  std::printf("bytes=%llu intact=%d\n", static_cast<unsigned long long>(bytes),
              FileIsIntact(*files, module) ? 1 : 0);

  for (int run = 0; run < runs; ++run) {
    uint64_t read_bytes = 0;
    Stopwatch read_watch;
    ReadAll(*files, path, nullptr, &read_bytes);
    const double read_ms = read_watch.Milliseconds();

    Stopwatch check_watch;
    const bool intact = FileIsIntact(*files, module);
    const double check_ms = check_watch.Milliseconds();

    Stopwatch sum_watch;
    PeChecksum checksum;
    checksum.Update(image.data(), image.size());
    const std::optional<PeChecksumResult> result = checksum.Finish();
    const double sum_ms = sum_watch.Milliseconds();

    std::printf("run=%d read_ms=%.3f selfcheck_ms=%.3f memsum_ms=%.3f intact=%d sum=%08X\n", run,
                read_ms, check_ms, sum_ms, intact ? 1 : 0,
                result ? static_cast<unsigned>(result->computed) : 0u);
  }
  return 0;
}
