// The setup's own windows and threads, simulated and recorded: classes,
// windows with their texts, places and visibility, per-thread message queues.
#ifndef LEXORIA_TESTS_FAKES_FAKE_GUI_H_
#define LEXORIA_TESTS_FAKES_FAKE_GUI_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui.h"
#include "platform/processes.h"

namespace lexoria::testing {

// One window as the fake holds it.
struct FakeWindow {
  platform::HWnd handle = platform::kNullHandle;
  std::u16string class_name;
  std::u16string text;
  uint32_t ex_style = 0;
  uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  platform::HWnd parent = platform::kNullHandle;
  platform::Handle menu = platform::kNullHandle;
  platform::Handle instance = platform::kNullHandle;
  uint32_t owner_thread = 0;
  bool visible = false;
  bool topmost = false;  // placed with HWND_TOPMOST, or created WS_EX_TOPMOST
  bool destroyed = false;
};

// A call to SetWindowPos, as made.
struct WindowPosCall {
  platform::HWnd window;
  platform::HWnd insert_after;
  int x, y, cx, cy;
  uint32_t flags;
};

class FakeGui final : public platform::Gui {
 public:
  // How CreateThread runs the thread function.
  enum class ThreadMode {
    // At once, on the caller's stack, before CreateThread returns. The
    // thread's GetMessageW returns 0 when its queue is empty, so a message
    // loop ends after handling what was posted before it started.
    kSynchronous,
    // On a std::thread; GetMessageW blocks until a message is posted. A wait
    // on the thread counts its time-out in fake time: it runs out only when
    // the thread waits in GetMessageW with no message queued.
    kConcurrent,
    // Stuck for `hung_ms` in a call that does not return: a wait of less
    // times out at once; a wait of at least that long runs the function and
    // sees the thread end. A function not run so runs when the fake is
    // destroyed, as a thread that comes back after its creator has moved on
    // and let go of everything of its own.
    kHung,
  };

  FakeGui() = default;
  // Ends the concurrent threads still running (posting WM_QUIT) and joins
  // them; runs the functions of hung threads.
  ~FakeGui() override;

  // --- Setting the scene (before the code under test runs).
  ThreadMode thread_mode = ThreadMode::kSynchronous;
  uint32_t hung_ms = platform::kInfinite;
  int screen_width = 1024;
  int screen_height = 768;
  bool fail_create_thread = false;
  // CreateThread raises std::bad_alloc: memory running out while the window
  // thread is being set up.
  bool create_thread_throws = false;
  // Every RegisterClassExW fails (besides the failure for a name taken).
  bool fail_register_class = false;
  // CreateWindowExW of these classes fails (names compared without case).
  std::set<std::u16string> failing_window_classes;
  // GetMessageW returns -1 (an error) instead of waiting.
  bool fail_get_message = false;

  // --- Faults and events from outside.
  // The platform destroys `window`: the procedure of its class receives
  // WM_DESTROY on the window's thread (at once in synchronous mode).
  void DestroyWindowFromOutside(platform::HWnd window);
  // Another program moves `window`.
  void MoveWindowFromOutside(platform::HWnd window, int x, int y);

  // --- Inspecting (safe from any thread).
  std::optional<FakeWindow> Window(platform::HWnd window) const;
  std::vector<FakeWindow> Windows() const;
  // The first window of `class_name`, if any.
  std::optional<FakeWindow> WindowOfClass(const std::u16string& class_name) const;
  std::vector<platform::WndClassEx> Classes() const;
  std::vector<WindowPosCall> WindowPosCalls() const;
  // Every call in order, as "Function arg arg..." (texts in UTF-8): for
  // order checks.
  std::vector<std::string> Calls() const;
  int ThreadsStarted() const;
  int ThreadsRunning() const;
  int HandlesOpen() const;
  // The fake's id of the calling thread: 1 for the test's own, else the id
  // CreateThread handed out.
  static uint32_t CurrentThreadId();
  int InitCommonControlsCount() const;
  // Waits until `predicate` holds, for concurrent mode; false only when it
  // never does (a bound no working test comes near).
  bool WaitFor(const std::function<bool()>& predicate) const;

  // --- platform::Gui
  platform::Handle CreateThread(platform::ThreadStartRoutine start, void* parameter,
                                uint32_t* thread_id) override;
  uint32_t WaitForSingleObject(platform::Handle handle, uint32_t milliseconds) override;
  bool CloseHandle(platform::Handle handle) override;
  bool PostThreadMessageA(uint32_t thread_id, uint32_t message, uintptr_t wparam,
                          intptr_t lparam) override;
  platform::Handle GetModuleHandleA() override { return kModule; }
  platform::Handle LoadIconA(platform::Handle instance, const char* name) override;
  platform::Handle LoadCursorA(platform::Handle instance, uintptr_t resource_id) override;
  platform::Handle GetStockObject(int object) override;
  void InitCommonControls() override;
  uint16_t RegisterClassExW(const platform::WndClassEx& window_class) override;
  platform::HWnd CreateWindowExW(uint32_t ex_style, const char16_t* class_name,
                                 const char16_t* window_name, uint32_t style, int x, int y,
                                 int width, int height, platform::HWnd parent,
                                 platform::Handle menu, platform::Handle instance) override;
  bool SetWindowPos(platform::HWnd window, platform::HWnd insert_after, int x, int y, int cx,
                    int cy, uint32_t flags) override;
  bool SetWindowTextW(platform::HWnd window, const std::u16string& text) override;
  bool ShowWindow(platform::HWnd window, int show_command) override;
  int GetSystemMetrics(int index) override;
  int GetMessageW(platform::Msg* msg, platform::HWnd window, uint32_t filter_min,
                  uint32_t filter_max) override;
  bool TranslateMessage(const platform::Msg& msg) override;
  intptr_t DispatchMessageW(const platform::Msg& msg) override;
  intptr_t DefWindowProcW(platform::HWnd window, uint32_t message, uintptr_t wparam,
                          intptr_t lparam) override;
  void PostQuitMessage(int exit_code) override;

  static constexpr platform::Handle kModule = 0x400000;
  static constexpr platform::Handle kArrowCursor = 0x10003;
  static constexpr platform::Handle kGrayBrushObject = 0x1900011;

 private:
  struct Thread {
    uint32_t id = 0;
    platform::Handle handle = platform::kNullHandle;
    bool handle_open = true;
    bool running = true;
    bool idle = false;  // waiting in GetMessageW for a message (concurrent mode)
    std::deque<platform::Msg> queue;
    std::thread runner;  // concurrent mode only
    // Hung mode only: the function that has not run yet.
    platform::ThreadStartRoutine deferred = nullptr;
    void* deferred_parameter = nullptr;
  };
  // How long a concurrent wait may take in real time before the test is
  // taken for broken.
  static constexpr std::chrono::seconds kBrokenTestBound{60};
  // A message the fake posts to itself to destroy a window on its thread.
  static constexpr uint32_t kFakeDestroyMessage = 0x7FFF;

  static std::u16string Lower(const std::u16string& text);
  void Log(const std::string& call);  // REQUIRES: mu_ held
  Thread* ThreadById(uint32_t id);    // REQUIRES: mu_ held
  // Runs the destroy on the calling thread: WM_DESTROY to the procedure.
  void DestroyNow(platform::HWnd window);
  platform::WindowProcedure ProcedureOf(platform::HWnd window) const;  // REQUIRES: mu_ held
  bool LiveWindow(platform::HWnd window) const;                        // REQUIRES: mu_ held

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  std::map<std::u16string, platform::WndClassEx> classes_;  // by lower-case name
  std::vector<std::u16string> class_order_;
  std::map<platform::HWnd, FakeWindow> windows_;
  std::map<uint32_t, Thread> threads_;
  std::vector<WindowPosCall> window_pos_calls_;
  std::vector<std::string> calls_;
  int init_common_controls_ = 0;
  uint32_t next_thread_id_ = 1001;
  platform::HWnd next_window_ = 0x10010;
  uint16_t next_atom_ = 0xC001;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_GUI_H_
