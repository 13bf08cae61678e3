// bench_size_walk: one EstimateInstalledSize of a directory through the real
// Win32 FileSystem adapter, as the setup computes "EstimatedSize".
//
//   bench_size_walk <directory>
//
// Prints "kib=<estimate> ms=<time of the call alone>"; exit code 0, 2 on a
// usage error. An estimate of -1 (no such directory) is printed like any
// other: the caller judges it.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "install/installed_size.h"
#include "platform/win32/adapters.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_size_walk <directory>\n");
    return 2;
  }
  std::unique_ptr<lexoria::platform::FileSystem> files = lexoria::platform::win32::MakeFileSystem();
  LARGE_INTEGER frequency, began, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&began);
  const int32_t kib = lexoria::EstimateInstalledSize(*files, argv[1]);
  QueryPerformanceCounter(&ended);
  std::printf("kib=%ld ms=%.3f\n", static_cast<long>(kib),
              1000.0 * static_cast<double>(ended.QuadPart - began.QuadPart) /
                  static_cast<double>(frequency.QuadPart));
  return 0;
}
