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
//   selfcheck SetupFileIsIntact itself, told that the running module is the
//             given file;
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
#include "platform/win32/adapters.h"

namespace lexoria {
namespace {

namespace port = platform;

constexpr uint32_t kBlockSize = 1 << 20;

// The real SystemInfo, except that the running module is the file under
// test, so that SetupFileIsIntact checks that file instead of this helper.
class ModuleOverride : public port::SystemInfo {
 public:
  ModuleOverride(port::SystemInfo& real, const std::string& module) : real_(real) {
    // The ANSI argument as the wide name the self-check opens.
    const int n = MultiByteToWideChar(CP_ACP, 0, module.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, module.c_str(), -1, wide.data(), n);
    module_.assign(reinterpret_cast<const char16_t*>(wide.data()));
  }
  std::string GetCommandLineA() override { return real_.GetCommandLineA(); }
  std::u16string GetModuleFileNameW() override { return module_; }
  std::string GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                      bool* found) override {
    return real_.GetEnvironmentVariableA(name, buffer_size, found);
  }
  std::string GetSystemDirectoryA(uint32_t buffer_size) override {
    return real_.GetSystemDirectoryA(buffer_size);
  }
  std::string GetWindowsDirectoryA(uint32_t buffer_size) override {
    return real_.GetWindowsDirectoryA(buffer_size);
  }
  uint32_t GetUserDefaultLCID() override { return real_.GetUserDefaultLCID(); }
  bool GetVersionExA(uint32_t record_size, port::OsVersionInfo* info) override {
    return real_.GetVersionExA(record_size, info);
  }
  bool HasGetNativeSystemInfo() override { return real_.HasGetNativeSystemInfo(); }
  uint16_t GetNativeSystemInfoArchitecture() override {
    return real_.GetNativeSystemInfoArchitecture();
  }
  uint16_t GetSystemInfoArchitecture() override { return real_.GetSystemInfoArchitecture(); }
  int GetSystemMetrics(int index) override { return real_.GetSystemMetrics(index); }
  bool GetProcessWindowStationFlags(uint32_t* flags) override {
    return real_.GetProcessWindowStationFlags(flags);
  }
  bool ProcessIdToSessionId(uint32_t* session_id) override {
    return real_.ProcessIdToSessionId(session_id);
  }
  uint32_t SetErrorMode(uint32_t mode) override { return real_.SetErrorMode(mode); }
  std::string OemToCharBuffA(const std::string& text) override {
    return real_.OemToCharBuffA(text);
  }

 private:
  port::SystemInfo& real_;
  std::u16string module_;
};

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
  const port::Handle file = files.CreateFileA(path, port::kGenericRead, port::kFileShareRead,
                                              port::kOpenExisting, port::kFileFlagSequentialScan);
  if (file == port::kInvalidHandleValue) return false;
  auto buffer = std::make_unique<uint8_t[]>(kBlockSize);
  bool ok = true;
  *total = 0;
  while (true) {
    uint32_t read = 0;
    if (!files.ReadFile(file, buffer.get(), kBlockSize, &read)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    if (copy != nullptr) copy->insert(copy->end(), buffer.get(), buffer.get() + read);
    *total += read;
  }
  files.CloseHandle(file);
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

  platform::win32::Win32Platform real;
  platform::Platform& os = real.platform();
  ModuleOverride system(os.system, path);
  platform::Platform checked{os.files,    os.registry, os.dialogs,   os.resources,
                             os.clock,    system,      os.processes, os.app_link,
                             os.versions, os.gui,      os.event_log};

  // The untimed first pass warms the file cache and keeps the bytes for the
  // in-memory figure.
  std::vector<uint8_t> image;
  uint64_t bytes = 0;
  if (!ReadAll(os.files, path, &image, &bytes)) {
    std::fprintf(stderr, "bench_checksum: cannot read %s (error %u)\n", path.c_str(),
                 static_cast<unsigned>(os.files.GetLastError()));
    return 1;
  }
  std::printf("bytes=%llu intact=%d\n", static_cast<unsigned long long>(bytes),
              SetupFileIsIntact(checked) ? 1 : 0);

  for (int run = 0; run < runs; ++run) {
    uint64_t read_bytes = 0;
    Stopwatch read_watch;
    ReadAll(os.files, path, nullptr, &read_bytes);
    const double read_ms = read_watch.Milliseconds();

    Stopwatch check_watch;
    const bool intact = SetupFileIsIntact(checked);
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
