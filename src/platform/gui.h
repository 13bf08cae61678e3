// Windows of the setup's own: the thread, window class, window creation and
// message loop of the progress window (user32, comctl32, gdi32, kernel32).
#ifndef LEXORIA_PLATFORM_GUI_H_
#define LEXORIA_PLATFORM_GUI_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

// GetSystemMetrics
inline constexpr int kSmCxScreen = 0;
inline constexpr int kSmCyScreen = 1;
// Class styles
inline constexpr uint32_t kCsVredraw = 0x0001;
inline constexpr uint32_t kCsHredraw = 0x0002;
inline constexpr uint32_t kCsNoClose = 0x0200;
// Window styles
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDlgFrame = 0x00400000;
inline constexpr uint32_t kWsThickFrame = 0x00040000;
inline constexpr uint32_t kWsExDlgModalFrame = 0x00000001;
inline constexpr uint32_t kWsExTopmost = 0x00000008;
inline constexpr uint32_t kWsExStaticEdge = 0x00020000;
// Messages
inline constexpr uint32_t kWmCreate = 0x0001;
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmSetText = 0x000C;
inline constexpr uint32_t kWmPaint = 0x000F;
inline constexpr uint32_t kWmClose = 0x0010;
// (kWmQuit, 0x0012, lives in app_link.h.)
// SetWindowPos
inline constexpr HWnd kHwndTopmost = ~HWnd{0};  // (HWND)-1
inline constexpr uint32_t kSwpShowWindow = 0x0040;
inline constexpr uint32_t kSwpHideWindow = 0x0080;
// LoadCursorA of the system arrow (IDC_ARROW) and GetStockObject(GRAY_BRUSH).
inline constexpr uintptr_t kIdcArrow = 32512;
inline constexpr int kGrayBrush = 2;
// sizeof(WNDCLASSEXW) of the 32-bit platform the setup is built for. The
// adapter hands the real call the size of its own build's structure.
inline constexpr uint32_t kWndClassExSize = 48;

// A window procedure of the logic: (window, message, wParam, lParam) ->
// LRESULT. Called on the thread that owns the window, from inside
// DispatchMessageW, CreateWindowExW or any call that sends the window a
// message. Its windows are Unicode windows: text messages carry UTF-16.
using WindowProcedure = std::function<intptr_t(HWnd, uint32_t, uintptr_t, intptr_t)>;

// The body of a thread started by CreateThread; its result is the thread's
// exit code.
using ThreadStartRoutine = uint32_t (*)(void* parameter);

// WNDCLASSEXW. Icons, cursor, brush and instance are handles returned by the
// calls below; `menu_name` null means no menu. The names are NUL-terminated
// and outlive the call.
struct WndClassEx {
  uint32_t size = kWndClassExSize;  // cbSize
  uint32_t style = 0;
  WindowProcedure procedure;  // lpfnWndProc
  int class_extra = 0;        // cbClsExtra
  int window_extra = 0;       // cbWndExtra
  Handle instance = kNullHandle;
  Handle icon = kNullHandle;
  Handle cursor = kNullHandle;
  Handle background = kNullHandle;  // hbrBackground
  const char16_t* menu_name = nullptr;
  const char16_t* class_name = nullptr;
  Handle small_icon = kNullHandle;  // hIconSm
};

// MSG.
struct Msg {
  HWnd window = kNullHandle;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  uint32_t time = 0;
  int32_t x = 0;  // pt.x
  int32_t y = 0;  // pt.y
};

// Unless said otherwise, a method may be called from any thread and returns
// what the Win32 call returns; calls on a window owned by another thread are
// carried out by that thread (the platform sends it a message and waits).
// Class names and window texts are UTF-16, as WCHAR holds them: the wide
// calls show them as they are on a system of any code page.
class Gui {
 public:
  virtual ~Gui() = default;

  // --- Threads (kernel32): the progress window's, and the launch's worker.
  // Starts `start`(`parameter`) on a new thread, running at once (not
  // suspended), default stack. Returns the thread handle, which the caller
  // closes with CloseHandle, or kNullHandle on failure; `*thread_id` gets the
  // thread's id.
  virtual Handle CreateThread(ThreadStartRoutine start, void* parameter, uint32_t* thread_id) = 0;
  virtual uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  virtual bool PostThreadMessageA(uint32_t thread_id, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) = 0;

  // --- The module and its resources, classes and windows.
  // GetModuleHandleA(NULL): the running executable.
  virtual Handle GetModuleHandleA() = 0;
  // `name` null asks for an icon without a name: the result is no icon.
  virtual Handle LoadIconA(Handle instance, const char* name) = 0;
  // A system cursor by its MAKEINTRESOURCE number, `instance` null.
  virtual Handle LoadCursorA(Handle instance, uintptr_t resource_id) = 0;
  virtual Handle GetStockObject(int object) = 0;
  // Makes the common controls' window classes (the progress bar) available
  // to this process, loading comctl32 on the first call. Without them (the
  // library could not be loaded) the classes are missing and windows of
  // them are not created.
  virtual void InitCommonControls() = 0;
  // Returns the class atom, or 0 on failure (a class of that name already
  // registered by the module, for one).
  virtual uint16_t RegisterClassExW(const WndClassEx& window_class) = 0;
  // `class_name` and `window_name` NUL-terminated (`window_name` null: no
  // text); `parent` and `menu` kNullHandle for none; no creation parameter. The
  // class's procedure receives WM_CREATE before this returns; a -1 from it
  // makes the creation fail. Returns kNullHandle on failure.
  virtual HWnd CreateWindowExW(uint32_t ex_style, const char16_t* class_name,
                               const char16_t* window_name, uint32_t style, int x, int y, int width,
                               int height, HWnd parent, Handle menu, Handle instance) = 0;
  virtual bool SetWindowPos(HWnd window, HWnd insert_after, int x, int y, int cx, int cy,
                            uint32_t flags) = 0;
  virtual bool SetWindowTextW(HWnd window, const std::u16string& text) = 0;
  virtual bool ShowWindow(HWnd window, int show_command) = 0;
  virtual int GetSystemMetrics(int index) = 0;

  // --- The message loop; REQUIRES: called on the thread that owns the
  // windows. `window` kNullHandle and both filters 0 take every message of
  // the thread. Returns 0 for WM_QUIT, -1 on error, else non-zero.
  virtual int GetMessageW(Msg* msg, HWnd window, uint32_t filter_min, uint32_t filter_max) = 0;
  virtual bool TranslateMessage(const Msg& msg) = 0;
  virtual intptr_t DispatchMessageW(const Msg& msg) = 0;
  virtual intptr_t DefWindowProcW(HWnd window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) = 0;
  virtual void PostQuitMessage(int exit_code) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_GUI_H_
