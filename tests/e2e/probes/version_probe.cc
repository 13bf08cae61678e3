// version_probe.exe: the real version reader, through the real VersionApi,
// seen from inside a Windows process.
//
//   version_probe.exe exe PATH      ReadExeFileVersion of PATH through the real
//                                   VersionApi; prints, one per line:
//                                     loaded_before=<path of version.dll or ->
//                                     fileversion=<hex of the text's bytes or ->
//                                     loaded_after=<path of version.dll or ->
//                                     image=<hex of ExeFileVersionOf of the
//                                       file's bytes (the reader of a new
//                                       package's image), or ->
//
// Texts are printed as hex so that no code page stands between the bytes and
// the test. Exit code 0, or 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "install/version_readers.h"
#include "platform/win32/adapters.h"
#include "probe_text.h"

namespace {

using lexoria::probes::Hex;

// The file name of the loaded module called version.dll, or "-".
std::string LoadedVersionDll() {
  const HMODULE module = ::GetModuleHandleA("version.dll");
  if (module == nullptr) return "-";
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  return length == 0 ? std::string("?") : std::string(path, length);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "exe") {
    std::printf("loaded_before=%s\n", LoadedVersionDll().c_str());
    auto versions = lexoria::platform::win32::MakeVersionApi();
    const std::string text = lexoria::ReadExeFileVersion(*versions, argv[2]);
    std::printf("fileversion=%s\n", Hex(text).c_str());
    std::printf("loaded_after=%s\n", LoadedVersionDll().c_str());
    std::string bytes;
    if (FILE* file = std::fopen(argv[2], "rb")) {
      char chunk[65536];
      for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) {
        bytes.append(chunk, got);
      }
      std::fclose(file);
    }
    auto system = lexoria::platform::win32::MakeSystemInfo();
    const std::string from_image = lexoria::ExeFileVersionOf(
        *system, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::printf("image=%s\n", Hex(from_image).c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: version_probe exe PATH\n");
  return 2;
}
