// The setup's own windows and the thread that owns them (user32, gdi32,
// kernel32; comctl32, loaded for the progress window only).
#include <windows.h>

#include <map>
#include <memory>
#include <utility>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"

namespace lexoria::platform::win32 {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");

HWND ToHwnd(HWnd window) { return reinterpret_cast<HWND>(window); }
HWnd FromHwnd(HWND window) { return reinterpret_cast<HWnd>(window); }
HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(const void* handle) { return reinterpret_cast<Handle>(handle); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// What CreateThread hands to the new thread: the logic's routine is not a
// WINAPI function (the calling conventions differ on 32-bit Windows).
struct ThreadStart {
  ThreadStartRoutine start;
  void* parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  return start->start(start->parameter);
}

// The logic's procedure of every class registered through the port, by class
// atom. Windows calls one plain WNDPROC for all of them (BridgeProc), which
// finds the procedure by the atom of the window's class. Classes are never
// unregistered, so entries stay for the life of the process.
//
// A critical section, not an SRW lock: the setup must start on Windows XP and
// Server 2003, whose kernel32 has no SRW lock functions, and an import the
// loader cannot resolve stops the program before it runs.
class ProcedureTable {
 public:
  ProcedureTable() { InitializeCriticalSection(&lock_); }
  ProcedureTable(const ProcedureTable&) = delete;
  ProcedureTable& operator=(const ProcedureTable&) = delete;

  void Add(ATOM atom, WindowProcedure procedure) {
    EnterCriticalSection(&lock_);
    procedures_[atom] = std::move(procedure);
    LeaveCriticalSection(&lock_);
  }
  WindowProcedure Find(ATOM atom) {
    EnterCriticalSection(&lock_);
    auto it = procedures_.find(atom);
    WindowProcedure procedure = it == procedures_.end() ? nullptr : it->second;
    LeaveCriticalSection(&lock_);
    return procedure;
  }

 private:
  CRITICAL_SECTION lock_;
  std::map<ATOM, WindowProcedure> procedures_;
};

// Never destroyed: the progress window's thread is not waited for at process
// end and may still dispatch a message while the C runtime runs the static
// destructors.
ProcedureTable& Procedures() {
  static ProcedureTable* const table = new ProcedureTable;
  return *table;
}

LRESULT CALLBACK BridgeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto atom = static_cast<ATOM>(GetClassLongPtrW(window, GCW_ATOM));
  // Copied out of the table, so that no lock is held while the procedure
  // runs (it may create windows, which sends messages back here).
  const WindowProcedure procedure = Procedures().Find(atom);
  if (!procedure) return DefWindowProcW(window, message, wparam, lparam);
  // A C++ exception cannot unwind through user32's frames (the process would
  // end): a procedure that fails (out of memory) fails the creation of its
  // window and leaves every other message to the default handling.
  try {
    return procedure(FromHwnd(window), message, wparam, lparam);
  } catch (...) {
    if (message == WM_CREATE) return -1;
    return DefWindowProcW(window, message, wparam, lparam);
  }
}

MSG ToMsg(const Msg& from) {
  MSG to{};
  to.hwnd = ToHwnd(from.window);
  to.message = from.message;
  to.wParam = from.wparam;
  to.lParam = from.lparam;
  to.time = from.time;
  to.pt.x = from.x;
  to.pt.y = from.y;
  return to;
}

class Win32Gui final : public Gui {
 public:
  Handle CreateThread(ThreadStartRoutine start, void* parameter, uint32_t* thread_id) override {
    auto* context = new ThreadStart{start, parameter};
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(/*lpThreadAttributes=*/nullptr, /*dwStackSize=*/0,
                                         &ThreadTrampoline, context, /*dwCreationFlags=*/0, &id);
    if (thread == nullptr) {
      delete context;
      return kNullHandle;
    }
    *thread_id = id;
    return FromHandle(thread);
  }
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override {
    return ::WaitForSingleObject(ToHandle(handle), milliseconds);
  }
  bool CloseHandle(Handle handle) override { return ::CloseHandle(ToHandle(handle)) != FALSE; }
  bool PostThreadMessageA(uint32_t thread_id, uint32_t message, uintptr_t wparam,
                          intptr_t lparam) override {
    return ::PostThreadMessageA(thread_id, message, wparam, lparam) != FALSE;
  }

  Handle GetModuleHandleA() override { return FromHandle(::GetModuleHandleA(nullptr)); }
  Handle LoadIconA(Handle instance, const char* name) override {
    return FromHandle(::LoadIconA(reinterpret_cast<HINSTANCE>(instance), name));
  }
  Handle LoadCursorA(Handle instance, uintptr_t resource_id) override {
    return FromHandle(
        ::LoadCursorA(reinterpret_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(resource_id)));
  }
  Handle GetStockObject(int object) override { return FromHandle(::GetStockObject(object)); }
  // comctl32 is not imported: its loading registers its window classes, and
  // with them the process joins the desktop and the display (under Wine that
  // starts the desktop process when none runs), which the quiet update, with
  // no window at all, has no use for. It is loaded here, for the progress
  // window, the first time one is made.
  void InitCommonControls() override {
    using InitCommonControlsFn = void(WINAPI*)();
    const HMODULE common_controls = LoadCommonControls();
    if (common_controls == nullptr) return;
    if (const auto init = LookUp<InitCommonControlsFn>(common_controls, "InitCommonControls")) {
      init();
    }
  }

  uint16_t RegisterClassExW(const WndClassEx& window_class) override {
    WNDCLASSEXW record{};
    // The port states the 32-bit record's size; the call needs this build's.
    static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXW) == kWndClassExSize);
    record.cbSize = sizeof(WNDCLASSEXW);
    record.style = window_class.style;
    record.lpfnWndProc = &BridgeProc;
    record.cbClsExtra = window_class.class_extra;
    record.cbWndExtra = window_class.window_extra;
    record.hInstance = reinterpret_cast<HINSTANCE>(window_class.instance);
    record.hIcon = reinterpret_cast<HICON>(window_class.icon);
    record.hCursor = reinterpret_cast<HCURSOR>(window_class.cursor);
    record.hbrBackground = reinterpret_cast<HBRUSH>(window_class.background);
    record.lpszMenuName = Wide(window_class.menu_name);
    record.lpszClassName = Wide(window_class.class_name);
    record.hIconSm = reinterpret_cast<HICON>(window_class.small_icon);
    const ATOM atom = ::RegisterClassExW(&record);
    if (atom != 0) Procedures().Add(atom, window_class.procedure);
    return atom;
  }
  HWnd CreateWindowExW(uint32_t ex_style, const char16_t* class_name, const char16_t* window_name,
                       uint32_t style, int x, int y, int width, int height, HWnd parent,
                       Handle menu, Handle instance) override {
    return FromHwnd(::CreateWindowExW(ex_style, Wide(class_name), Wide(window_name), style, x, y,
                                      width, height, ToHwnd(parent), reinterpret_cast<HMENU>(menu),
                                      reinterpret_cast<HINSTANCE>(instance),
                                      /*lpParam=*/nullptr));
  }
  bool SetWindowPos(HWnd window, HWnd insert_after, int x, int y, int cx, int cy,
                    uint32_t flags) override {
    return ::SetWindowPos(ToHwnd(window), ToHwnd(insert_after), x, y, cx, cy, flags) != FALSE;
  }
  bool SetWindowTextW(HWnd window, const std::u16string& text) override {
    return ::SetWindowTextW(ToHwnd(window), Wide(text.c_str())) != FALSE;
  }
  bool ShowWindow(HWnd window, int show_command) override {
    return ::ShowWindow(ToHwnd(window), show_command) != FALSE;
  }
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

  int GetMessageW(Msg* msg, HWnd window, uint32_t filter_min, uint32_t filter_max) override {
    MSG got{};
    const BOOL result = ::GetMessageW(&got, ToHwnd(window), filter_min, filter_max);
    msg->window = FromHwnd(got.hwnd);
    msg->message = got.message;
    msg->wparam = got.wParam;
    msg->lparam = got.lParam;
    msg->time = got.time;
    msg->x = got.pt.x;
    msg->y = got.pt.y;
    return result;
  }
  bool TranslateMessage(const Msg& msg) override {
    const MSG real = ToMsg(msg);
    return ::TranslateMessage(&real) != FALSE;
  }
  intptr_t DispatchMessageW(const Msg& msg) override {
    const MSG real = ToMsg(msg);
    return ::DispatchMessageW(&real);
  }
  intptr_t DefWindowProcW(HWnd window, uint32_t message, uintptr_t wparam,
                          intptr_t lparam) override {
    return ::DefWindowProcW(ToHwnd(window), message, wparam, lparam);
  }
  void PostQuitMessage(int exit_code) override { ::PostQuitMessage(exit_code); }
};

}  // namespace

std::unique_ptr<Gui> MakeGui() { return std::make_unique<Win32Gui>(); }

}  // namespace lexoria::platform::win32
