#include "fakes/fake_gui.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "fakes/fake_utf.h"
#include "platform/app_link.h"
#include "platform/processes.h"

namespace lexoria::testing {

using namespace platform;

namespace {

// The fake's id of the calling thread: 1 for the test's own thread, the id
// CreateThread handed out for a thread it runs.
thread_local uint32_t current_thread = 1;

constexpr uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr uint32_t kSwpNoSize = 0x0001;
constexpr uint32_t kSwpNoMove = 0x0002;
constexpr int kSwHideCommand = 0;  // SW_HIDE

std::string Hex(uint64_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

}  // namespace

FakeGui::~FakeGui() {
  std::vector<std::thread> runners;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [id, thread] : threads_) {
      if (thread.running) thread.queue.push_back(Msg{kNullHandle, kWmQuit, 0, 0});
      if (thread.runner.joinable()) runners.push_back(std::move(thread.runner));
    }
    changed_.notify_all();
  }
  for (std::thread& runner : runners) runner.join();
  // No lock while they run: a function may call back into the fake.
  std::vector<std::pair<uint32_t, Thread*>> hung;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [id, thread] : threads_) {
      if (thread.deferred != nullptr) hung.emplace_back(id, &thread);
    }
  }
  for (auto& [id, thread] : hung) {
    current_thread = id;
    thread->deferred(thread->deferred_parameter);
  }
  current_thread = 1;
}

std::u16string FakeGui::Lower(const std::u16string& text) {
  std::u16string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  });
  return lower;
}

void FakeGui::Log(const std::string& call) { calls_.push_back(call); }

FakeGui::Thread* FakeGui::ThreadById(uint32_t id) {
  auto it = threads_.find(id);
  return it == threads_.end() ? nullptr : &it->second;
}

bool FakeGui::LiveWindow(HWnd window) const {
  auto it = windows_.find(window);
  return it != windows_.end() && !it->second.destroyed;
}

WindowProcedure FakeGui::ProcedureOf(HWnd window) const {
  auto it = windows_.find(window);
  if (it == windows_.end() || it->second.destroyed) return nullptr;
  auto cls = classes_.find(Lower(it->second.class_name));
  return cls == classes_.end() ? nullptr : cls->second.procedure;
}

void FakeGui::DestroyWindowFromOutside(HWnd window) {
  uint32_t owner = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!LiveWindow(window)) return;
    owner = windows_[window].owner_thread;
    Thread* thread = ThreadById(owner);
    if (thread_mode == ThreadMode::kConcurrent && thread != nullptr && thread->running) {
      thread->queue.push_back(Msg{window, kFakeDestroyMessage, 0, 0});
      changed_.notify_all();
      return;
    }
  }
  const uint32_t saved = current_thread;
  current_thread = owner;
  DestroyNow(window);
  current_thread = saved;
}

void FakeGui::DestroyNow(HWnd window) {
  WindowProcedure procedure;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!LiveWindow(window)) return;
    Log("DestroyWindow " + Hex(window));
    procedure = ProcedureOf(window);
  }
  if (procedure) procedure(window, kWmDestroy, 0, 0);
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [handle, w] : windows_) {
    if (handle == window || w.parent == window) {
      w.destroyed = true;
      w.visible = false;
    }
  }
  changed_.notify_all();
}

void FakeGui::MoveWindowFromOutside(HWnd window, int x, int y) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!LiveWindow(window)) return;
  windows_[window].x = x;
  windows_[window].y = y;
}

std::optional<FakeWindow> FakeGui::Window(HWnd window) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return std::nullopt;
  return it->second;
}

std::vector<FakeWindow> FakeGui::Windows() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<FakeWindow> all;
  for (const auto& [handle, window] : windows_) all.push_back(window);
  return all;
}

std::optional<FakeWindow> FakeGui::WindowOfClass(const std::u16string& class_name) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [handle, window] : windows_) {
    if (Lower(window.class_name) == Lower(class_name)) return window;
  }
  return std::nullopt;
}

std::vector<WndClassEx> FakeGui::Classes() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<WndClassEx> all;
  for (const std::u16string& name : class_order_) all.push_back(classes_.at(name));
  return all;
}

std::vector<WindowPosCall> FakeGui::WindowPosCalls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return window_pos_calls_;
}

std::vector<std::string> FakeGui::Calls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

int FakeGui::ThreadsStarted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(threads_.size());
}

int FakeGui::ThreadsRunning() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(std::count_if(threads_.begin(), threads_.end(),
                                        [](const auto& t) { return t.second.running; }));
}

uint32_t FakeGui::CurrentThreadId() { return current_thread; }

int FakeGui::HandlesOpen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(std::count_if(threads_.begin(), threads_.end(),
                                        [](const auto& t) { return t.second.handle_open; }));
}

int FakeGui::InitCommonControlsCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return init_common_controls_;
}

bool FakeGui::WaitFor(const std::function<bool()>& predicate) const {
  const auto deadline = std::chrono::steady_clock::now() + kBrokenTestBound;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

Handle FakeGui::CreateThread(ThreadStartRoutine start, void* parameter, uint32_t* thread_id) {
  uint32_t id = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Log("CreateThread");
    if (create_thread_throws) throw std::bad_alloc();
    if (fail_create_thread) return kNullHandle;
    id = next_thread_id_++;
    Thread& thread = threads_[id];
    thread.id = id;
    thread.handle = 0x7000 + id;
    *thread_id = id;
    if (thread_mode == ThreadMode::kHung) {
      thread.deferred = start;
      thread.deferred_parameter = parameter;
      return thread.handle;
    }
    if (thread_mode == ThreadMode::kConcurrent) {
      thread.runner = std::thread([this, id, start, parameter] {
        current_thread = id;
        start(parameter);
        std::lock_guard<std::mutex> lock(mu_);
        threads_[id].running = false;
        changed_.notify_all();
      });
      return thread.handle;
    }
  }
  const uint32_t saved = current_thread;
  current_thread = id;
  start(parameter);
  current_thread = saved;
  std::lock_guard<std::mutex> lock(mu_);
  threads_[id].running = false;
  return threads_[id].handle;
}

uint32_t FakeGui::WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mu_);
  Thread* thread = nullptr;
  for (auto& [id, t] : threads_) {
    if (t.handle == handle && t.handle_open) thread = &t;
  }
  Log("WaitForSingleObject " + Hex(handle) + " " + std::to_string(milliseconds));
  if (thread == nullptr) return kWaitFailed;
  if (thread->deferred != nullptr) {
    if (milliseconds < hung_ms || hung_ms == kInfinite) return kWaitTimeout;
    // It comes back within the wait: its function runs now, unlocked, as it
    // may call back into the fake.
    const ThreadStartRoutine start = std::exchange(thread->deferred, nullptr);
    const uint32_t saved = std::exchange(current_thread, thread->id);
    lock.unlock();
    start(thread->deferred_parameter);
    lock.lock();
    current_thread = saved;
    thread->running = false;
    return kWaitObject0;
  }
  // The time-out counts in fake time, which passes only while nothing can
  // happen: a thread that waits in GetMessageA with no message queued will
  // not end on its own, so the wait runs out at once; any other thread is
  // waited for until it ends or comes to such a stop, however long the
  // machine takes. The real bound only ends a broken test.
  (void)milliseconds;
  changed_.wait_for(lock, kBrokenTestBound, [thread] {
    return !thread->running || (thread->idle && thread->queue.empty());
  });
  return thread->running ? kWaitTimeout : kWaitObject0;
}

bool FakeGui::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [id, thread] : threads_) {
    if (thread.handle == handle && thread.handle_open) {
      thread.handle_open = false;
      return true;
    }
  }
  return false;
}

bool FakeGui::PostThreadMessageA(uint32_t thread_id, uint32_t message, uintptr_t wparam,
                                 intptr_t lparam) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("PostThreadMessageA " + std::to_string(thread_id) + " " + Hex(message));
  Thread* thread = ThreadById(thread_id);
  if (thread == nullptr || !thread->running) return false;
  thread->queue.push_back(Msg{kNullHandle, message, wparam, lparam});
  changed_.notify_all();
  return true;
}

Handle FakeGui::LoadIconA(Handle instance, const char* name) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("LoadIconA " + Hex(instance) + " " + (name == nullptr ? "(null)" : name));
  // The module carries no icons: every look-up finds none.
  return kNullHandle;
}

Handle FakeGui::LoadCursorA(Handle instance, uintptr_t resource_id) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("LoadCursorA " + Hex(instance) + " " + std::to_string(resource_id));
  return instance == kNullHandle && resource_id == kIdcArrow ? kArrowCursor : kNullHandle;
}

Handle FakeGui::GetStockObject(int object) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("GetStockObject " + std::to_string(object));
  return object == kGrayBrush ? kGrayBrushObject : 0x1900000 + object;
}

void FakeGui::InitCommonControls() {
  std::lock_guard<std::mutex> lock(mu_);
  Log("InitCommonControls");
  ++init_common_controls_;
}

uint16_t FakeGui::RegisterClassExW(const WndClassEx& window_class) {
  std::lock_guard<std::mutex> lock(mu_);
  // The real call refuses a class without a name.
  if (window_class.class_name == nullptr) return 0;
  Log("RegisterClassExW " + Utf16ToUtf8(window_class.class_name));
  const std::u16string key = Lower(window_class.class_name);
  if (fail_register_class || window_class.size != kWndClassExSize || classes_.count(key) != 0) {
    return 0;
  }
  classes_[key] = window_class;
  class_order_.push_back(key);
  return next_atom_++;
}

HWnd FakeGui::CreateWindowExW(uint32_t ex_style, const char16_t* class_name,
                              const char16_t* window_name, uint32_t style, int x, int y, int width,
                              int height, HWnd parent, Handle menu, Handle instance) {
  WindowProcedure procedure;
  HWnd handle = kNullHandle;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (class_name == nullptr) return kNullHandle;
    const std::u16string text = window_name != nullptr ? window_name : u"";
    Log("CreateWindowExW " + Utf16ToUtf8(class_name) + " \"" + Utf16ToUtf8(text) + "\"");
    const std::u16string key = Lower(class_name);
    auto cls = classes_.find(key);
    const bool system_class = key == u"static" || key == u"msctls_progress32";
    if (cls == classes_.end() && !system_class) return kNullHandle;
    for (const std::u16string& failing : failing_window_classes) {
      if (Lower(failing) == key) return kNullHandle;
    }
    if (parent != kNullHandle && !LiveWindow(parent)) return kNullHandle;
    handle = next_window_;
    next_window_ += 0x10;
    FakeWindow& window = windows_[handle];
    window.handle = handle;
    window.class_name = class_name;
    window.text = text;
    window.ex_style = ex_style;
    window.style = style;
    window.x = x;
    window.y = y;
    window.width = width;
    window.height = height;
    window.parent = parent;
    window.menu = menu;
    window.instance = instance;
    window.owner_thread = current_thread;
    window.visible = (style & kWsVisible) != 0;
    window.topmost = (ex_style & kWsExTopmost) != 0;
    if (cls != classes_.end()) procedure = cls->second.procedure;
  }
  if (procedure && procedure(handle, kWmCreate, 0, 0) == -1) {
    std::lock_guard<std::mutex> lock(mu_);
    windows_[handle].destroyed = true;
    return kNullHandle;
  }
  return handle;
}

bool FakeGui::SetWindowPos(HWnd window, HWnd insert_after, int x, int y, int cx, int cy,
                           uint32_t flags) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("SetWindowPos " + Hex(window) + " flags=" + Hex(flags));
  window_pos_calls_.push_back({window, insert_after, x, y, cx, cy, flags});
  if (!LiveWindow(window)) return false;
  FakeWindow& w = windows_[window];
  if (!(flags & kSwpNoMove)) {
    w.x = x;
    w.y = y;
  }
  if (!(flags & kSwpNoSize)) {
    w.width = cx;
    w.height = cy;
  }
  if (insert_after == kHwndTopmost) w.topmost = true;
  if (flags & kSwpShowWindow) w.visible = true;
  if (flags & kSwpHideWindow) w.visible = false;
  return true;
}

bool FakeGui::SetWindowTextW(HWnd window, const std::u16string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("SetWindowTextW " + Hex(window) + " \"" + Utf16ToUtf8(text) + "\"");
  if (!LiveWindow(window)) return false;
  windows_[window].text = text;
  return true;
}

bool FakeGui::ShowWindow(HWnd window, int show_command) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("ShowWindow " + Hex(window) + " " + std::to_string(show_command));
  if (!LiveWindow(window)) return false;
  const bool was_visible = windows_[window].visible;
  windows_[window].visible = show_command != kSwHideCommand;
  return was_visible;
}

int FakeGui::GetSystemMetrics(int index) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("GetSystemMetrics " + std::to_string(index));
  if (index == kSmCxScreen) return screen_width;
  if (index == kSmCyScreen) return screen_height;
  return 0;
}

int FakeGui::GetMessageW(Msg* msg, HWnd window, uint32_t filter_min, uint32_t filter_max) {
  std::unique_lock<std::mutex> lock(mu_);
  Log("GetMessageW");
  (void)window;
  (void)filter_min;
  (void)filter_max;
  for (;;) {
    if (fail_get_message) return -1;
    Thread* thread = ThreadById(current_thread);
    if (thread == nullptr) return -1;  // a thread the fake did not start has no queue
    if (!thread->queue.empty()) {
      const Msg next = thread->queue.front();
      thread->queue.pop_front();
      if (next.message == kFakeDestroyMessage) {
        lock.unlock();
        DestroyNow(next.window);
        lock.lock();
        continue;
      }
      *msg = next;
      return next.message == kWmQuit ? 0 : 1;
    }
    if (thread_mode == ThreadMode::kSynchronous) return 0;
    thread->idle = true;
    changed_.notify_all();
    changed_.wait(lock);
    thread->idle = false;
  }
}

bool FakeGui::TranslateMessage(const Msg& msg) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("TranslateMessage " + Hex(msg.message));
  return false;
}

intptr_t FakeGui::DispatchMessageW(const Msg& msg) {
  WindowProcedure procedure;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Log("DispatchMessageW " + Hex(msg.message));
    procedure = ProcedureOf(msg.window);
  }
  return procedure ? procedure(msg.window, msg.message, msg.wparam, msg.lparam) : 0;
}

intptr_t FakeGui::DefWindowProcW(HWnd window, uint32_t message, uintptr_t, intptr_t) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("DefWindowProcW " + Hex(window) + " " + Hex(message));
  return 0;
}

void FakeGui::PostQuitMessage(int exit_code) {
  std::lock_guard<std::mutex> lock(mu_);
  Log("PostQuitMessage " + std::to_string(exit_code));
  Thread* thread = ThreadById(current_thread);
  if (thread == nullptr || !thread->running) return;
  thread->queue.push_back(
      Msg{kNullHandle, kWmQuit, static_cast<uintptr_t>(static_cast<intptr_t>(exit_code)), 0});
  changed_.notify_all();
}

}  // namespace lexoria::testing
