// shell_window: registers the desktop's shell window, as Explorer does on
// Windows when it creates its desktop ("Progman"). Wine's explorer.exe serves
// the desktop's shell objects but registers no shell window, so without this
// GetShellWindow() returns no window in a Wine prefix and the setup takes a
// desktop without a shell.
//
// Usage: shell_window.exe READY_FILE
//   Creates a hidden top-level window, registers it with user32's
//   SetShellWindow, writes "shell-window=0xH" to READY_FILE (or
//   "error=N" when the registration failed: another shell window exists) and
//   keeps the window until the process is ended. The registration ends with
//   the window. Exit code: 0, 1 when the registration failed, 2 usage error.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: shell_window READY_FILE\n");
    return 2;
  }
  using SetShellWindowFn = BOOL(WINAPI*)(HWND);
  const auto set_shell_window = reinterpret_cast<SetShellWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetShellWindow")));
  const HWND window =
      CreateWindowExA(0, "STATIC", "stand-in shell window", WS_POPUP, 0, 0, 1, 1,
                      /*hWndParent=*/nullptr, /*hMenu=*/nullptr, GetModuleHandleA(nullptr),
                      /*lpParam=*/nullptr);
  const bool registered = window != nullptr && set_shell_window != nullptr &&
                          set_shell_window(window) && GetShellWindow() == window;
  char line[64];
  if (registered) {
    snprintf(line, sizeof(line), "shell-window=0x%llx\n",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  } else {
    snprintf(line, sizeof(line), "error=%lu\n", GetLastError());
  }
  FILE* ready = fopen(argv[1], "wb");
  if (ready != nullptr) {
    fputs(line, ready);
    fclose(ready);
  }
  if (!registered) return 1;
  MSG msg;
  while (GetMessageA(&msg, /*hWnd=*/nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
