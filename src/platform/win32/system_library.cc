#include "platform/win32/system_library.h"

#include <string>

namespace lexoria::platform::win32 {

HMODULE LoadSystemLibrary(const char* name) {
  char directory[MAX_PATH + 1];
  const UINT length = ::GetSystemDirectoryA(directory, sizeof(directory));
  if (length == 0) return nullptr;
  if (length >= sizeof(directory)) {
    ::SetLastError(ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  std::string path(directory, length);
  if (path.back() != '\\') path += '\\';
  path += name;
  return ::LoadLibraryExA(path.c_str(), /*hFile=*/nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadCommonControls() {
  constexpr char kName[] = "comctl32.dll";
  ACTCTX_SECTION_KEYED_DATA redirection = {};
  redirection.cbSize = sizeof(redirection);
  // Asks the thread's activation context, or the process's (the manifest's)
  // when the thread has none active, as the loader itself does.
  if (::FindActCtxSectionStringA(/*dwFlags=*/0, /*lpExtensionGuid=*/nullptr,
                                 ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, kName, &redirection)) {
    return ::LoadLibraryA(kName);
  }
  return LoadSystemLibrary(kName);
}

}  // namespace lexoria::platform::win32
