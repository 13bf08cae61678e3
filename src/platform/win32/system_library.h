// System DLLs loaded at run time, on the path that needs them, and only from
// the system directory.
//
// The setup runs with administrator rights from a folder (a Downloads folder)
// where anyone may have left a DLL. A DLL loaded by name is looked for in the
// setup's own folder first unless it is a KnownDLL, and Windows XP, Vista and
// 7 without KB2533623 have no SetDefaultDllDirectories to change that. So a
// DLL the setup loads after its start is loaded by its full path in the system
// directory, where the loader takes that file and no other; comctl32 alone
// comes by name, through the activation context (LoadCommonControls).
#ifndef LEXORIA_PLATFORM_WIN32_SYSTEM_LIBRARY_H_
#define LEXORIA_PLATFORM_WIN32_SYSTEM_LIBRARY_H_

#include <windows.h>

#include "platform/win32/unique_handles.h"

namespace lexoria::platform::win32 {

// Loads `name` ("version.dll") from the system directory by its full path.
// LOAD_WITH_ALTERED_SEARCH_PATH makes the loader look for the DLL's own
// dependencies beside it (the system directory), not beside the setup.
// Returns the module, or null with the last error set (the system directory
// could not be had, or the load failed). The caller frees it, or keeps it for
// the life of the process.
HMODULE LoadSystemLibrary(const char* name);

// Loads comctl32 as the manifest asks: Common Controls 6.0.0.0 from the
// side-by-side store, which the process's activation context serves only to
// a load by name (a load by full path gets the system directory's version
// 5). The name is loaded only when the activation context redirects it, and
// a redirected name goes to the store before any folder is searched (on
// every Windows since XP), so the setup's folder is never looked in. Without
// a redirection (no version 6 on the machine), the system directory's
// comctl32 is loaded by its full path. Null with the last error set on
// failure. Any thread; the module is kept for the life of the process (its
// window classes serve every window made from them).
HMODULE LoadCommonControls();

// A function of `module` by name, as the type it has; null when missing.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  // GetProcAddress returns a generic FARPROC; the cast to the real
  // signature goes through void* to silence -Wcast-function-type.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// `function` of the system library `library` ("shell32.dll"), as the type it
// has. The library is loaded by LoadSystemLibrary and never freed: shell32
// and COM may leave threads behind that still run in their code (the start
// through the desktop shell may be left waiting on a worker thread), so what
// the setup loads this way stays loaded until the process ends. Null with the
// last error set when the library or the function is missing. Any thread.
template <typename Function>
Function SystemFunction(const char* library, const char* function) {
  const HMODULE module = LoadSystemLibrary(library);
  if (module == nullptr) return nullptr;
  const Function found = LookUp<Function>(module, function);
  if (found == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
  return found;
}

}  // namespace lexoria::platform::win32

#endif  // LEXORIA_PLATFORM_WIN32_SYSTEM_LIBRARY_H_
