// Other programs' marker mappings and windows, staged by the test, and every
// call the setup makes on them, recorded with the fake time it was made at.
//
// Time: the fake keeps its own now_ms, moved by AdvanceTo. FollowClock hooks
// it to a FakeClock, so mappings and windows staged for a later time appear
// while the code under test pauses.
#ifndef LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_
#define LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/app_link.h"

namespace lexoria::testing {

class FakeAppLink final : public platform::AppLink {
 public:
  static constexpr uint32_t kErrorInvalidWindowHandle = 1400;

  struct MappingCall {
    platform::Handle file;
    uint32_t protect;
    uint32_t maximum_size_high;
    uint32_t maximum_size_low;
    std::string name;
    uint64_t at_ms;
  };
  struct FindWindowCall {
    std::string class_name;
    bool any_title;  // the window name was null
    uint64_t at_ms;
  };
  struct PostedMessage {
    platform::HWnd window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    uint64_t at_ms;
  };
  struct WindowCall {  // ShowWindow (show_command) or SetForegroundWindow (-1)
    platform::HWnd window;
    int show_command;
    uint64_t at_ms;
    int sequence;  // position among all window calls, from 0: their order
  };

  // The desktop's shell window; kNullHandle for a desktop without a shell.
  platform::HWnd shell_window = 0x10008;

  // Names of mappings other processes hold now. Tests may add and erase.
  std::set<std::string> mappings;
  // Fault: when not 0, CreateFileMappingA fails with this last error.
  uint32_t create_mapping_error = 0;

  std::vector<MappingCall> mapping_calls;
  std::vector<FindWindowCall> find_window_calls;
  std::vector<PostedMessage> posted;
  std::vector<WindowCall> shown;
  std::vector<WindowCall> foreground_calls;
  platform::HWnd foreground_window = platform::kNullHandle;
  // CloseHandle calls on handles that were not open (double or stray closes).
  int bad_closes = 0;

  // Another process creates mapping `name` once the time reaches `at_ms`.
  void HoldMappingAt(const std::string& name, uint64_t at_ms) {
    staged_mappings_.emplace_back(at_ms, name);
    AdvanceTo(now_ms_);
  }
  // Another process creates a top-level window of class `class_name` once the
  // time reaches `at_ms`. Windows are found in the order they were added.
  platform::HWnd AddWindow(const std::string& class_name, uint64_t at_ms = 0,
                           const std::string& title = "") {
    const platform::HWnd handle = next_window_;
    next_window_ += 0x10;
    windows_.push_back(Window{handle, class_name, title, at_ms});
    return handle;
  }
  void RemoveWindow(platform::HWnd window) {
    std::erase_if(windows_, [window](const Window& w) { return w.handle == window; });
  }

  void AdvanceTo(uint64_t now_ms) {
    now_ms_ = now_ms;
    for (auto it = staged_mappings_.begin(); it != staged_mappings_.end();) {
      if (it->first <= now_ms_) {
        mappings.insert(it->second);
        it = staged_mappings_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Moves this fake's time with every pause of `clock` (replaces its hook).
  void FollowClock(FakeClock& clock) {
    AdvanceTo(clock.now_ms);
    clock.on_sleep = [this](uint64_t now_ms) { AdvanceTo(now_ms); };
  }
  uint64_t now_ms() const { return now_ms_; }

  // True while another process holds the mapping or a handle of the setup's
  // own is open on it.
  bool MappingExists(const std::string& name) const {
    if (mappings.count(name)) return true;
    for (const auto& [handle, mapped] : open_mappings_) {
      if (mapped == name) return true;
    }
    return false;
  }
  size_t OpenMappingHandles() const { return open_mappings_.size(); }

  platform::Handle CreateFileMappingA(platform::Handle file, uint32_t protect,
                                      uint32_t maximum_size_high, uint32_t maximum_size_low,
                                      const std::string& name) override {
    mapping_calls.push_back(
        MappingCall{file, protect, maximum_size_high, maximum_size_low, name, now_ms_});
    if (create_mapping_error != 0) {
      last_error_ = create_mapping_error;
      return platform::kNullHandle;
    }
    last_error_ = MappingExists(name) ? platform::kErrorAlreadyExists : platform::kErrorSuccess;
    const platform::Handle handle = next_mapping_;
    next_mapping_ += 4;
    open_mappings_.emplace(handle, name);
    return handle;
  }
  uint32_t GetLastError() override { return last_error_; }
  bool CloseHandle(platform::Handle handle) override {
    if (open_mappings_.erase(handle) == 0) {
      ++bad_closes;
      last_error_ = platform::kErrorInvalidHandle;
      return false;
    }
    return true;
  }
  platform::HWnd GetShellWindow() override { return shell_window; }
  platform::HWnd FindWindowA(const std::string& class_name, const char* window_name) override {
    find_window_calls.push_back(FindWindowCall{class_name, window_name == nullptr, now_ms_});
    for (const Window& w : windows_) {
      if (w.appears_at_ms > now_ms_ || w.class_name != class_name) continue;
      if (window_name != nullptr && w.title != window_name) continue;
      return w.handle;
    }
    return platform::kNullHandle;
  }
  bool PostMessageA(platform::HWnd window, uint32_t message, uintptr_t wparam,
                    intptr_t lparam) override {
    posted.push_back(PostedMessage{window, message, wparam, lparam, now_ms_});
    return Exists(window);
  }
  bool ShowWindow(platform::HWnd window, int show_command) override {
    shown.push_back(WindowCall{window, show_command, now_ms_, window_call_count_++});
    return Exists(window);
  }
  bool SetForegroundWindow(platform::HWnd window) override {
    foreground_calls.push_back(WindowCall{window, -1, now_ms_, window_call_count_++});
    if (!Exists(window)) return false;
    foreground_window = window;
    return true;
  }

 private:
  struct Window {
    platform::HWnd handle;
    std::string class_name;
    std::string title;
    uint64_t appears_at_ms;
  };

  bool Exists(platform::HWnd window) {
    for (const Window& w : windows_) {
      if (w.handle == window && w.appears_at_ms <= now_ms_) return true;
    }
    last_error_ = kErrorInvalidWindowHandle;
    return false;
  }

  uint64_t now_ms_ = 0;
  uint32_t last_error_ = 0;
  int window_call_count_ = 0;
  platform::Handle next_mapping_ = 0x500;
  platform::HWnd next_window_ = 0x10010;
  std::map<platform::Handle, std::string> open_mappings_;
  std::vector<std::pair<uint64_t, std::string>> staged_mappings_;
  std::vector<Window> windows_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_APP_LINK_H_
