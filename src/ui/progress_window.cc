#include "ui/progress_window.h"

#include <memory>
#include <utility>

namespace lexoria {

namespace {

constexpr char16_t kLabelClass[] = u"STATIC";
constexpr char16_t kProgressBarClass[] = u"msctls_progress32";
constexpr int kShowNormal = 1;  // SW_SHOWNORMAL
constexpr int kClassExtraBytes = 4;
constexpr int kWindowExtraBytes = 4;
// How long the shutdown waits for a window thread, in rounds of
// kShutdownRoundMs: a thread that has not yet made its message queue drops a
// posted quit message, so the message is posted again each round.
constexpr int kShutdownRounds = 40;
constexpr uint32_t kShutdownRoundMs = 50;

// The centred position on one axis. A screen smaller than the window would
// give a far-away position through the unsigned halving; the window is put
// at 0 on that axis instead, so that at least its top-left part is seen.
int32_t CentredPosition(int screen, int window) {
  if (screen < window) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(screen - window) >> 1);
}

}  // namespace

// The thread object. It carries its own copies of the texts the window is
// created with, made on the main thread before the thread starts, so that the
// two threads never touch the same text; it frees itself when its body
// returns, and nothing reads it after the start.
class TSetupForm {
 public:
  TSetupForm(ProgressWindow& owner, std::u16string caption, std::u16string label)
      : owner_(owner), caption_(std::move(caption)), label_(std::move(label)) {}

  static uint32_t ThreadMain(void* parameter) {
    auto* form = static_cast<TSetupForm*>(parameter);
    form->owner_.RunProgressWindow(form->caption_.c_str(), form->label_.c_str());
    delete form;
    return 0;
  }

 private:
  ProgressWindow& owner_;
  const std::u16string caption_;
  const std::u16string label_;
};

ProgressWindow::~ProgressWindow() {
  platform::Gui& gui = os_.gui;
  for (const StartedThread& thread : threads_) {
    for (int round = 0; round < kShutdownRounds; ++round) {
      gui.PostThreadMessageA(thread.id, platform::kWmQuit, 0, 0);
      if (gui.WaitForSingleObject(thread.handle, kShutdownRoundMs) != platform::kWaitTimeout) {
        break;
      }
    }
    gui.CloseHandle(thread.handle);
  }
}

void ProgressWindow::ShowProgressWindow(const TaggedText& caption, const TaggedText& label) {
  if (exists_.load()) {
    SetProgressCaption(caption);
    SetProgressLabel(label);
    PlaceWindow(platform::kSwpShowWindow);
    return;
  }
  pending_caption_ = caption.ToUtf16(os_.system);
  pending_label_ = label.ToUtf16(os_.system);
  // Owned here until a thread has taken it, so that a failure on the way
  // loses nothing.
  auto form = std::make_unique<TSetupForm>(*this, pending_caption_, pending_label_);
  threads_.reserve(threads_.size() + 1);
  uint32_t thread_id = 0;
  const platform::Handle thread =
      os_.gui.CreateThread(&TSetupForm::ThreadMain, form.get(), &thread_id);
  // No thread, no window: like every failure of the window, unreported.
  if (thread == platform::kNullHandle) return;
  form.release();  // the thread frees it
  threads_.push_back({thread, thread_id});
}

void ProgressWindow::HideProgressWindow() { PlaceWindow(platform::kSwpHideWindow); }

void ProgressWindow::SetProgressCaption(const TaggedText& text) {
  std::u16string caption = text.ToUtf16(os_.system);
  if (exists_.load()) {
    os_.gui.SetWindowTextW(window_.load(), caption);
  } else {
    pending_caption_ = std::move(caption);
  }
}

void ProgressWindow::SetProgressLabel(const TaggedText& text) {
  os_.gui.SetWindowTextW(label_.load(), text.ToUtf16(os_.system));
}

void ProgressWindow::PlaceWindow(uint32_t flags) {
  // Always topmost, at the centred place and fixed size: a window the user
  // moved comes back to the centre.
  os_.gui.SetWindowPos(window_.load(), platform::kHwndTopmost, x_.load(), y_.load(),
                       kProgressWindowWidth, kProgressWindowHeight, flags);
}

void ProgressWindow::RunProgressWindow(const char16_t* caption, const char16_t* label) {
  platform::Gui& gui = os_.gui;
  x_.store(CentredPosition(gui.GetSystemMetrics(platform::kSmCxScreen), kProgressWindowWidth));
  y_.store(CentredPosition(gui.GetSystemMetrics(platform::kSmCyScreen), kProgressWindowHeight));
  gui.InitCommonControls();

  const platform::Handle instance = gui.GetModuleHandleA();
  platform::WndClassEx window_class;
  window_class.size = platform::kWndClassExSize;
  window_class.style = kProgressClassStyle;
  window_class.procedure = [this](platform::HWnd window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam) {
    return ProgressWindowProc(window, message, wparam, lparam);
  };
  window_class.class_extra = kClassExtraBytes;
  window_class.window_extra = kWindowExtraBytes;
  window_class.instance = instance;
  // The module has no icon without a name: the class gets none, and the
  // window, having no system menu, shows none anyway.
  window_class.icon = gui.LoadIconA(instance, /*name=*/nullptr);
  window_class.cursor = gui.LoadCursorA(/*instance=*/platform::kNullHandle, platform::kIdcArrow);
  window_class.background = gui.GetStockObject(platform::kGrayBrush);
  window_class.menu_name = nullptr;
  window_class.class_name = kProgressWindowClass;
  window_class.small_icon = window_class.icon;
  // A second thread (started while the first was still creating its window)
  // fails here, since the class belongs to the module: it ends without a
  // window and the first one stays.
  if (gui.RegisterClassExW(window_class) == 0) return;

  // Only the thread that registered the class gets here, so only it touches
  // the label text that WM_CREATE reads.
  creating_label_ = label;
  const platform::HWnd window = gui.CreateWindowExW(
      kProgressWindowExStyle, kProgressWindowClass, caption, kProgressWindowStyle, x_.load(),
      y_.load(), kProgressWindowWidth, kProgressWindowHeight, /*parent=*/platform::kNullHandle,
      /*menu=*/platform::kNullHandle, instance);
  creating_label_ = nullptr;
  window_.store(window);
  // Set also when the creation failed: the operations then act on no window
  // and no further thread is started.
  exists_.store(true);
  gui.ShowWindow(window, kShowNormal);

  platform::Msg msg;
  // GetMessageW returns -1 on an error; looping on it would spin for ever.
  while (gui.GetMessageW(&msg, /*window=*/platform::kNullHandle, 0, 0) > 0) {
    gui.TranslateMessage(msg);
    gui.DispatchMessageW(msg);
  }
  // The window lives on until the thread ends; the thread object frees itself.
}

intptr_t ProgressWindow::ProgressWindowProc(platform::HWnd window, uint32_t message,
                                            uintptr_t wparam, intptr_t lparam) {
  platform::Gui& gui = os_.gui;
  switch (message) {
    case platform::kWmCreate: {
      const platform::Handle instance = gui.GetModuleHandleA();
      const char16_t* label = creating_label_ != nullptr ? creating_label_ : u"";
      label_.store(gui.CreateWindowExW(0, kLabelClass, label, kProgressLabelStyle, 2, 2, 399, 20,
                                       window,
                                       /*menu=*/platform::kNullHandle, instance));
      bar_.store(gui.CreateWindowExW(0, kProgressBarClass, u"", kProgressBarStyle, 2, 24, 400, 20,
                                     window, /*menu=*/platform::kNullHandle, instance));
      return 0;
    }
    case platform::kWmDestroy:
      gui.PostQuitMessage(0);
      return 0;
    default:
      return gui.DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace lexoria
