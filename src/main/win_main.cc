// The program entry: builds the real Win32 world and runs the update in it.
// It is the one place that knows both the port's Win32 adapter and the
// update's flow, and wires the one to the other; neither includes it.
#include <windows.h>

#include "app/run_update.h"
#include "platform/win32/adapters.h"

#ifndef LEXORIA_PACKAGE_VERSION
#error "LEXORIA_PACKAGE_VERSION must name the version of the carried package"
#endif

namespace {

// Restricts every later DLL load by name to the system directory, so that a
// DLL planted beside the setup (a Downloads folder) is never picked up.
// Windows 7 without KB2533623 lacks the function: it is looked up, not
// imported, and its absence is passed over.
void RestrictDllSearchToSystemDirectory() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return;
  const auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default_dll_directories != nullptr) {
    set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  RestrictDllSearchToSystemDirectory();
  // Never destroyed: a launch left waiting on a desktop shell that does not
  // answer keeps its worker thread inside one of the adapter's calls until
  // the process ends, and the program ends without waiting for it.
  auto* const win32 = new lexoria::platform::win32::Win32Platform;
  const lexoria::PackageConfig config{lexoria::DefaultPackageTitle(), "lxrq",
                                      LEXORIA_PACKAGE_VERSION};
  return lexoria::RunProgram(win32->platform(), config);
}
