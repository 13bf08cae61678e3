// The cost of starting a program under Wine, with and without the system
// DLLs the setup imports. Built twice: bench_start_plain imports kernel32
// alone (as the floor does); bench_start_gui also imports user32, gdi32,
// comctl32, shell32 and advapi32 (as the setup does). Both exit at once, so
// the difference of their times is what loading those DLLs costs a program.
#include <windows.h>

#ifdef LEXORIA_BENCH_GUI_IMPORTS
#include <commctrl.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#endif

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // Never true: the calls are there only so that the linker imports them.
  if (GetTickCount() == 1 && GetCurrentProcessId() == 1) {
#ifdef LEXORIA_BENCH_GUI_IMPORTS
    InitCommonControls();
    MessageBoxA(nullptr, "", "", MB_OK);
    IsUserAnAdmin();
    RegCloseKey(HKEY_CURRENT_USER);
    GetStockObject(GRAY_BRUSH);
    CoInitialize(nullptr);  // ole32 and oleaut32: the launch through the desktop shell
    SysFreeString(nullptr);
#endif
    return 1;
  }
  return 0;
}
