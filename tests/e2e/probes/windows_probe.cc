// windows_probe.exe: the start-up settings and the Windows identification of
// the setup, run with the real adapters inside a Windows process.
//
//   windows_probe.exe [ARG...]      InitializeSettings as the setup runs it,
//                                   then IdentifyWindows again for its text;
//                                   prints, one per line:
//                                     edition=<hex of the edition text>
//                                     is64=<0|1>
//                                     russian_ui=<0|1>
//                                     first_argument=<hex or ->
//                                     access=<SharedRegistry's mask, 0x%08X>
//                                     lcid=<GetUserDefaultLCID, 0x%04X>
//                                     version=<major>.<minor>.<build> (the query)
//                                     product_type=<wProductType>
//                                     ver=<hex of CaptureCommandOutput("ver")>
//                                     temp=<hex of the "Temp" variable>
//   windows_probe.exe write-dword KEY NAME VALUE
//                                   after start-up, SharedRegistry at
//                                   HKEY_LOCAL_MACHINE: OpenKey(KEY, create),
//                                   WriteInteger(NAME, VALUE), CloseKey;
//                                   prints written=1, or raised=<hex message>
//   windows_probe.exe read-text KEY NAME
//                                   the same with ReadString(NAME); prints
//                                   text=<hex>, raised=<hex message>, or
//                                   opened=0
//   windows_probe.exe oem-to-char HEX
//                                   the port's OEM-to-ANSI conversion of the
//                                   bytes HEX; prints converted=<hex>
//
// Texts are printed as hex so that no code page stands between the bytes and
// the test. The first lines of every mode are those of the plain mode (the
// first argument then being the mode's name). Exit code 0, or 2 on a usage
// error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/setup_context.h"
#include "platform/win32/adapters.h"
#include "probe_text.h"
#include "system/random_generator.h"
#include "system/registry_accessor.h"
#include "system/settings.h"
#include "system/windows_version.h"

namespace {

using lexoria::probes::Hex;

void Report(lexoria::SetupContext& ctx, lexoria::platform::Platform& os) {
  lexoria::SetupContext scratch;
  lexoria::RandomGenerator random = lexoria::RandomGenerator::FromClock(os.clock);
  const std::string edition = lexoria::IdentifyWindows(scratch, os, random);
  lexoria::platform::OsVersionInfo version;
  const bool queried = os.system.GetVersionExA(lexoria::platform::kOsVersionInfoExSize, &version);
  bool found = false;
  const std::string temp =
      os.system.GetEnvironmentVariableA("Temp", lexoria::platform::kEnvironmentBufferSize, &found);
  std::printf("edition=%s\n", Hex(edition).c_str());
  std::printf("is64=%d\n", ctx.Is64BitWindows ? 1 : 0);
  std::printf("russian_ui=%d\n", ctx.RussianUi ? 1 : 0);
  std::printf("first_argument=%s\n", Hex(ctx.FirstArgument).c_str());
  std::printf("access=0x%08X\n", static_cast<unsigned>(ctx.SharedRegistry->Access()));
  std::printf("lcid=0x%04X\n", static_cast<unsigned>(os.system.GetUserDefaultLCID()));
  if (queried) {
    std::printf("version=%u.%u.%u\n", static_cast<unsigned>(version.major_version),
                static_cast<unsigned>(version.minor_version),
                static_cast<unsigned>(version.build_number));
    std::printf("product_type=%u\n", static_cast<unsigned>(version.product_type));
  } else {
    std::printf("version=-\n");
  }
  std::printf("ver=%s\n", Hex(lexoria::CaptureCommandOutput(os, random, "ver")).c_str());
  std::printf("temp=%s\n", Hex(temp).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  lexoria::platform::win32::Win32Platform win32;
  lexoria::platform::Platform& os = win32.platform();
  lexoria::SetupContext ctx;
  lexoria::InitializeSettings(ctx, os);
  Report(ctx, os);

  int status = 0;
  const std::string mode = argc > 1 ? argv[1] : "";
  lexoria::TRegistry& registry = *ctx.SharedRegistry;
  if (mode == "oem-to-char" && argc == 3) {
    std::string bytes;
    for (const char* hex = argv[2]; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
      bytes.push_back(static_cast<char>(std::strtoul(std::string(hex, 2).c_str(), nullptr, 16)));
    }
    std::printf("converted=%s\n", Hex(os.system.OemToCharBuffA(bytes)).c_str());
  } else if (mode == "write-dword" || mode == "read-text") {
    if ((mode == "write-dword" && argc != 5) || (mode == "read-text" && argc != 4)) {
      std::fprintf(stderr,
                   "usage: windows_probe write-dword KEY NAME VALUE | read-text KEY NAME\n");
      status = 2;
    } else {
      registry.SetRootKey(lexoria::platform::kHkeyLocalMachine);
      if (!registry.OpenKey(argv[2], /*create=*/mode == "write-dword")) {
        std::printf("opened=0\n");
      } else {
        lexoria::KeyCloser closer(registry);
        try {
          if (mode == "write-dword") {
            registry.WriteInteger(argv[3], static_cast<int32_t>(std::strtol(argv[4], nullptr, 0)));
            std::printf("written=1\n");
          } else {
            std::printf("text=%s\n", Hex(registry.ReadString(argv[3])).c_str());
          }
        } catch (const lexoria::ERegistryException& e) {
          std::printf("raised=%s\n", Hex(e.what()).c_str());
        }
      }
    }
  }
  std::fflush(stdout);
  lexoria::FinalizeSettings(ctx);
  return status;
}
