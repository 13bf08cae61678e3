// poke: does one thing to a running Lexoria (or asks the system one thing)
// and prints what happened, for the end-to-end machinery's own checks.
//
// Usage:
//   poke.exe quit [CLASS]     FindWindowA(CLASS) + PostMessageA(WM_QUIT)
//   poke.exe close [CLASS]    FindWindowA(CLASS) + PostMessageA(WM_CLOSE)
//   poke.exe front [CLASS]    FindWindowA(CLASS) + ShowWindow(SW_SHOWNORMAL)
//                             + SetForegroundWindow
//   poke.exe quit-threads PID PostThreadMessageA(WM_QUIT) to every thread of
//                             process PID, for a quit before any window exists
//   poke.exe mapping [NAME]   OpenFileMappingA(FILE_MAP_READ, NAME)
//   poke.exe write PATH       CreateFileA(PATH, GENERIC_WRITE, no sharing,
//                             OPEN_EXISTING): can the file be written now?
//   poke.exe move FROM TO     MoveFileExA(FROM, TO, 0), as a user renames a
//                             folder: did Windows let it go?
//   poke.exe locale           user locale, code pages and UI language
//   poke.exe version          Windows version as GetVersionExA and
//                             RtlGetVersion report it
//   poke.exe window CLASS     the top-level window of CLASS and its children:
//                             one "window ..." line, then one "child ..." line
//                             each (class, id, style, exstyle, rectangle in
//                             screen or parent client coordinates, text hex)
// CLASS defaults to "TLXMainForm", NAME to "lexoria_memfile". Prints
// "key=value" lines, the last "tick=N": GetTickCount() after the look. Exit code: 0 done, 1 window
// or mapping not found or file not opened, 2 usage error.

#include <windows.h>
//
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Usage() {
  fprintf(stderr,
          "usage: poke quit|close|front|quit-threads|mapping|write|locale|version|window [ARG] | "
          "move FROM TO\n");
  return 2;
}

HWND Find(const char* cls) {
  HWND hwnd = FindWindowA(cls, /*lpWindowName=*/nullptr);
  printf("hwnd=0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
  return hwnd;
}

// Returns how many threads of PID took the message.
int QuitThreads(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int posted = 0;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == pid && PostThreadMessageA(entry.th32ThreadID, WM_QUIT, 0, 0)) {
      ++posted;
    }
  }
  CloseHandle(snapshot);
  return posted;
}

std::string Hex(const char* text) {
  std::string hex;
  char digits[3];
  for (const char* p = text; *p; ++p) {
    snprintf(digits, sizeof(digits), "%02x", static_cast<unsigned char>(*p));
    hex += digits;
  }
  return hex;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM parent_value) {
  HWND parent = reinterpret_cast<HWND>(parent_value);
  if (GetParent(child) != parent) return TRUE;
  char cls[128] = "";
  char text[512] = "";
  GetClassNameA(child, cls, sizeof(cls));
  GetWindowTextA(child, text, sizeof(text));
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  printf(
      "child class=%s id=%d style=0x%08lx exstyle=0x%08lx left=%ld top=%ld width=%ld "
      "height=%ld text=%s\n",
      cls, GetDlgCtrlID(child), static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
      static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE)), rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, Hex(text).c_str());
  return TRUE;
}

int Window(const char* cls) {
  HWND hwnd = FindWindowA(cls, /*lpWindowName=*/nullptr);
  if (hwnd == nullptr) {
    printf("window none\n");
    return 1;
  }
  char text[512] = "";
  GetWindowTextA(hwnd, text, sizeof(text));
  RECT rect;
  GetWindowRect(hwnd, &rect);
  printf(
      "window visible=%d style=0x%08lx exstyle=0x%08lx left=%ld top=%ld width=%ld "
      "height=%ld screen=%dx%d class_style=0x%08lx text=%s\n",
      IsWindowVisible(hwnd), static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)),
      static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)), rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, GetSystemMetrics(SM_CXSCREEN),
      GetSystemMetrics(SM_CYSCREEN), static_cast<unsigned long>(GetClassLongA(hwnd, GCL_STYLE)),
      Hex(text).c_str());
  EnumChildWindows(hwnd, PrintChild, reinterpret_cast<LPARAM>(hwnd));
  return 0;
}

int Version() {
  OSVERSIONINFOEXA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
  printf("getversionex=%lu.%lu.%lu platform=%lu sp=%u product_type=%u\n", info.dwMajorVersion,
         info.dwMinorVersion, info.dwBuildNumber, info.dwPlatformId, info.wServicePackMajor,
         info.wProductType);
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  if (rtl_get_version) {
    OSVERSIONINFOEXW real = {};
    real.dwOSVersionInfoSize = sizeof(real);
    rtl_get_version(&real);
    printf("rtlgetversion=%lu.%lu.%lu\n", real.dwMajorVersion, real.dwMinorVersion,
           real.dwBuildNumber);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "move") {
    const BOOL moved = MoveFileExA(argv[2], argv[3], /*dwFlags=*/0);
    printf("moved=%d error=%lu\ntick=%lu\n", moved, moved ? 0 : GetLastError(), GetTickCount());
    return moved ? 0 : 1;
  }
  if (argc < 2 || argc > 3) return Usage();
  std::string mode = argv[1];
  const char* name = argc == 3 ? argv[2] : nullptr;
  int result = 0;
  if (mode == "quit" || mode == "close" || mode == "front") {
    HWND hwnd = Find(name ? name : "TLXMainForm");
    if (!hwnd) {
      result = 1;
    } else if (mode == "front") {
      BOOL was_visible = ShowWindow(hwnd, SW_SHOWNORMAL);
      BOOL fg = SetForegroundWindow(hwnd);
      printf("was_visible=%d set_foreground=%d foreground_is_it=%d\n", was_visible, fg,
             GetForegroundWindow() == hwnd);
    } else {
      BOOL posted = PostMessageA(hwnd, mode == "quit" ? WM_QUIT : WM_CLOSE, 0, 0);
      printf("posted=%d\n", posted);
    }
  } else if (mode == "quit-threads" && name) {
    int posted = QuitThreads(static_cast<DWORD>(strtoul(name, nullptr, 10)));
    printf("posted=%d\n", posted);
    if (!posted) result = 1;
  } else if (mode == "mapping") {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name ? name : "lexoria_memfile");
    printf("exists=%d error=%lu\n", mapping != nullptr, mapping ? 0 : GetLastError());
    if (mapping) {
      CloseHandle(mapping);
    } else {
      result = 1;
    }
  } else if (mode == "write" && name) {
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, /*dwShareMode=*/0,
                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    /*hTemplateFile=*/nullptr);
    printf("opened=%d error=%lu\n", file != INVALID_HANDLE_VALUE,
           file != INVALID_HANDLE_VALUE ? 0 : GetLastError());
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    } else {
      result = 1;
    }
  } else if (mode == "locale" && !name) {
    printf("user_lcid=0x%lx\nsystem_lcid=0x%lx\nui_language=0x%x\nacp=%u\noemcp=%u\n",
           GetUserDefaultLCID(), GetSystemDefaultLCID(), GetUserDefaultUILanguage(), GetACP(),
           GetOEMCP());
  } else if (mode == "version" && !name) {
    result = Version();
  } else if (mode == "window" && name) {
    result = Window(name);
  } else {
    return Usage();
  }
  // When the look was done, by the clock the stand-in logs by.
  printf("tick=%lu\n", GetTickCount());
  fflush(stdout);
  return result;
}
