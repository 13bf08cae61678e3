// The program entry: builds the real Win32 world and runs the update in it.
#include <windows.h>

#include "app/run_update.h"
#include "platform/win32/adapters.h"

#ifndef LEXORIA_PACKAGE_VERSION
#error "LEXORIA_PACKAGE_VERSION must name the version of the carried package"
#endif

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  lexoria::platform::win32::Win32Platform win32;
  const lexoria::PackageConfig config{lexoria::DefaultPackageTitle(), "lxrq",
                                      LEXORIA_PACKAGE_VERSION};
  return lexoria::RunProgram(win32.platform(), config);
}
