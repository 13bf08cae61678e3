// bench_desktop: keeps Wine's desktop up while the benchmark runs.
//
//   bench_desktop
//
// Wine starts its desktop process (explorer.exe /desktop) for the first
// program that needs the desktop window, and ends it one second after the
// last such program has gone. A program timed after such a pause pays for
// starting the desktop again, some 200 ms here, which no program pays on
// Windows, where the desktop lives as long as the session. This program
// holds a window on the desktop, so that every timed program finds it
// running. It prints "ready" once the window exists and then waits for
// messages until it is ended (the benchmark kills it). Exit code 1 when the
// window cannot be created.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // Never shown: a window of any class makes the process a user of the desktop.
  const HWND window = CreateWindowExA(/*dwExStyle=*/0, "STATIC", "bench desktop", WS_POPUP, 0, 0, 1,
                                      1, /*hWndParent=*/nullptr, /*hMenu=*/nullptr,
                                      /*hInstance=*/nullptr, /*lpParam=*/nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "bench_desktop: no window (error %lu)\n", GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, /*hWnd=*/nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
