// TSetupForm: the progress window, on a thread of its own.
//
// A small, always-on-top window centred on the primary screen, 408 x 76, with
// a caption, one line of label text and a progress bar that never moves. The
// window thread is started by the first ShowProgressWindow; it registers the
// class "PlainWindow", creates the window and pumps its messages.
#ifndef LEXORIA_UI_PROGRESS_WINDOW_H_
#define LEXORIA_UI_PROGRESS_WINDOW_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/messages.h"

namespace lexoria {

inline constexpr int kProgressWindowWidth = 408;
inline constexpr int kProgressWindowHeight = 76;
inline constexpr char16_t kProgressWindowClass[] = u"PlainWindow";
// WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE
inline constexpr uint32_t kProgressWindowExStyle = 0x00020009;
// WS_DLGFRAME: a title bar for the caption, no system menu.
inline constexpr uint32_t kProgressWindowStyle = 0x00400000;
// WS_CHILD | WS_VISIBLE
inline constexpr uint32_t kProgressLabelStyle = 0x50000000;
// WS_CHILD | WS_VISIBLE | WS_THICKFRAME
inline constexpr uint32_t kProgressBarStyle = 0x50040000;
// CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE
inline constexpr uint32_t kProgressClassStyle = 0x0203;

// The one progress window of the process. The four operations are called on
// the main thread only; they never fail and report nothing. The window thread
// shares only atomics with them, and the pending texts, which it receives as
// copies made before it starts. Every text goes to the wide window calls,
// converted as the message boxes convert theirs (TaggedText).
class ProgressWindow {
 public:
  // Creates nothing yet, and cannot fail.
  explicit ProgressWindow(platform::Platform& os) noexcept : os_(os) {}
  // Asks every window thread started to end its message loop and waits a
  // little for it, so that no window procedure runs once the objects it uses
  // are gone.
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // With the window existing: sets caption and label and shows it, topmost,
  // at its centred place and size. Otherwise stores both texts and starts a
  // window thread, which creates the window with them.
  void ShowProgressWindow(const TaggedText& caption, const TaggedText& label);
  // Hides the window, keeping it topmost, placed and sized; nothing happens
  // before the window exists.
  void HideProgressWindow();
  // Sets the window's caption, or, before the window exists, the caption it
  // will be created with.
  void SetProgressCaption(const TaggedText& text);
  // Sets the label's text; before the window exists the text is lost.
  void SetProgressLabel(const TaggedText& text);

  // --- State, as the window thread leaves it (readable from any thread).
  bool ProgressWindowExists() const { return exists_.load(); }
  platform::HWnd ProgressWindowHandle() const { return window_.load(); }
  platform::HWnd ProgressLabelHandle() const { return label_.load(); }
  platform::HWnd ProgressBarHandle() const { return bar_.load(); }
  int32_t ProgressWindowX() const { return x_.load(); }
  int32_t ProgressWindowY() const { return y_.load(); }
  const std::u16string& PendingCaption() const { return pending_caption_; }
  const std::u16string& PendingLabel() const { return pending_label_; }

 private:
  friend class TSetupForm;

  // The window thread's body: place, register, create, show, pump.
  // The texts are NUL-terminated, for the wide window calls.
  void RunProgressWindow(const char16_t* caption, const char16_t* label);
  intptr_t ProgressWindowProc(platform::HWnd window, uint32_t message, uintptr_t wparam,
                              intptr_t lparam);
  void PlaceWindow(uint32_t flags);

  platform::Platform& os_;

  // Written by the window thread, read by the main thread.
  std::atomic<bool> exists_{false};
  std::atomic<platform::HWnd> window_{platform::kNullHandle};
  std::atomic<platform::HWnd> label_{platform::kNullHandle};
  std::atomic<platform::HWnd> bar_{platform::kNullHandle};
  std::atomic<int32_t> x_{0};
  std::atomic<int32_t> y_{0};
  // The label text during the window's creation: window thread only.
  const char16_t* creating_label_ = nullptr;
  // The texts the window is created with: main thread only.
  std::u16string pending_caption_;
  std::u16string pending_label_;

  // The threads started (normally one), with their ids: main thread only.
  struct StartedThread {
    platform::Handle handle;
    uint32_t id;
  };
  std::vector<StartedThread> threads_;
};

}  // namespace lexoria

#endif  // LEXORIA_UI_PROGRESS_WINDOW_H_
