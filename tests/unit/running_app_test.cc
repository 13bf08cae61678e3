#include "app/running_app.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

constexpr char kMarker[] = "lexoria_memfile";
constexpr char kWindowClass[] = "TLXMainForm";
constexpr char kInstallDir[] = "D:\\Apps\\Lexoria\\";

class RunningAppTest : public ::testing::Test {
 protected:
  RunningAppTest() {
    ctx_.ProductShortName = "Lexoria";
    ctx_.InstallDir = kInstallDir;
    fake_.app_link.FollowClock(fake_.clock);
  }

  // Lexoria, once started by the shell, creates its marker `marker_after` ms
  // and its window `window_after` ms after the start (never when absent).
  void StageStartUp(std::optional<uint64_t> marker_after, std::optional<uint64_t> window_after) {
    fake_.processes.on_shell_execute =
        [this, marker_after, window_after](const testing::FakeProcesses::ShellExecuteCall&) {
          const uint64_t start = fake_.clock.now_ms;
          if (marker_after) fake_.app_link.HoldMappingAt(kMarker, start + *marker_after);
          if (window_after) window_ = fake_.app_link.AddWindow(kWindowClass, start + *window_after);
        };
  }

  // No handle of the setup's own stays open, and none was closed twice.
  void ExpectNoHandleLeft() {
    EXPECT_EQ(fake_.app_link.OpenMappingHandles(), 0u);
    EXPECT_EQ(fake_.app_link.bad_closes, 0);
  }

  testing::FakePlatform fake_;
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
  platform::HWnd window_ = platform::kNullHandle;
};

// Tests that the probe answers from ERROR_ALREADY_EXISTS alone, closes its
// handle whatever the answer and leaves no marker behind when none existed.
TEST_F(RunningAppTest, ProbeAnswersFromAlreadyExistsAndClosesItsHandle) {
  struct Row {
    const char* message;
    bool held_by_lexoria;
    uint32_t create_error;
    bool expected;
  };
  const Row rows[] = {
      {"marker held by Lexoria", true, 0, true},
      {"no marker", false, 0, false},
      {"another user's marker refuses us (access denied)", true, platform::kErrorAccessDenied,
       true},
      {"creation fails for want of resources", false, platform::kErrorNoSystemResources, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    Services s{ctx_, fake.os, progress_, lang_};
    if (row.held_by_lexoria) fake.app_link.mappings.insert(kMarker);
    fake.app_link.create_mapping_error = row.create_error;

    EXPECT_EQ(IsApplicationRunning(s), row.expected);

    ASSERT_EQ(fake.app_link.mapping_calls.size(), 1u);
    const auto& call = fake.app_link.mapping_calls[0];
    EXPECT_EQ(call.file, platform::kInvalidHandleValue);
    EXPECT_EQ(call.protect, 4u);
    EXPECT_EQ(call.maximum_size_high, 0u);
    EXPECT_EQ(call.maximum_size_low, 64u);
    EXPECT_EQ(call.name, kMarker);
    EXPECT_EQ(fake.app_link.OpenMappingHandles(), 0u);
    EXPECT_EQ(fake.app_link.bad_closes, 0);
    EXPECT_EQ(fake.app_link.MappingExists(kMarker), row.held_by_lexoria);
  }
}

// Tests that after a positive probe the marker lives only as long as Lexoria
// holds it: the setup keeps no reference of its own.
TEST_F(RunningAppTest, ProbeKeepsNoReferenceToLexoriasMarker) {
  fake_.app_link.mappings.insert(kMarker);
  ASSERT_TRUE(IsApplicationRunning(s_));
  fake_.app_link.mappings.erase(kMarker);  // Lexoria ends
  EXPECT_FALSE(fake_.app_link.MappingExists(kMarker));
  EXPECT_FALSE(IsApplicationRunning(s_));
  ExpectNoHandleLeft();
}

// Tests that the quit request goes, as WM_QUIT with both parameters 0, to the
// window FindWindowA returns for the class, and nowhere when there is none.
TEST_F(RunningAppTest, CloseRunningApplicationPostsQuitToTheFoundWindowOnly) {
  struct Row {
    const char* message;
    std::vector<std::string> classes;  // windows present, in FindWindowA order
    int posted_to;                     // index into classes, -1 for none
  };
  const Row rows[] = {
      {"Lexoria's window", {kWindowClass}, 0},
      {"no window at all", {}, -1},
      {"only windows of other classes", {"Notepad", "TLXMainForm2"}, -1},
      {"two Lexoria windows: the first found", {"Notepad", kWindowClass, kWindowClass}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    Services s{ctx_, fake.os, progress_, lang_};
    std::vector<platform::HWnd> windows;
    for (const std::string& name : row.classes) windows.push_back(fake.app_link.AddWindow(name));

    EXPECT_EQ(CloseRunningApplication(s), row.posted_to >= 0) << "a request was posted";

    ASSERT_EQ(fake.app_link.find_window_calls.size(), 1u);
    EXPECT_EQ(fake.app_link.find_window_calls[0].class_name, kWindowClass);
    EXPECT_TRUE(fake.app_link.find_window_calls[0].any_title);
    if (row.posted_to < 0) {
      EXPECT_TRUE(fake.app_link.posted.empty());
    } else {
      ASSERT_EQ(fake.app_link.posted.size(), 1u);
      const auto& message = fake.app_link.posted[0];
      EXPECT_EQ(message.window, windows[row.posted_to]);
      EXPECT_EQ(message.message, 0x0012u);
      EXPECT_EQ(message.wparam, 0u);
      EXPECT_EQ(message.lparam, 0);
    }
    EXPECT_TRUE(fake.clock.sleeps.empty()) << "the request must not wait";
  }
}

// Tests where the launch goes: with a shell window on the desktop, to the
// desktop shell, on a worker thread waited for at most 15 s, and nothing else
// once the shell's own start call was reached (a shell that failed may have
// started Lexoria already) or the wait ran out. The setup's own start comes
// only when the desktop has no shell window or the start never reached the
// shell (no worker thread, no shell to ask), only as the session's user, and
// then with a normal user's token, in InstallDir, with the error mode the
// setup inherited; what stands in its way is noted. InstallDir is made
// current first, whether or not that works.
TEST_F(RunningAppTest, LaunchGoesToTheDesktopShellFirstAndIsBounded) {
  constexpr char kExe[] = "D:\\Apps\\Lexoria\\Lexoria.exe";
  // What the desktop shell's call answers (kStarted, kFailed in its own
  // start, kNoShell to ask), after how long (kLate: 15 s; kTooLate: 1 ms more,
  // past the wait's bound; kHangs), or what fails around it.
  enum class Shell {
    kStarted,
    kFailed,
    kNoShell,
    kHangs,
    kLate,
    kTooLate,
    kThrows,
    kNoWorkerThread,
    kWorkerThrows,
    kNoShellWindow
  };
  // What stands in the way of the setup's own start.
  enum class Own {
    kNothing,
    kOtherUser,
    kNoUserName,
    kEmptyUserName,
    kUserNotFound,
    kNoToken,
    kSaferStub,
    kNoLevels,
    kLevelUnreadable,
    kLevelKept
  };
  struct Row {
    const char* what;
    Shell shell;
    bool system_account;
    bool desktop_called;  // ShellExecuteOnDesktop was called before the wait ended
    bool own_called;      // the setup's own CreateProcessAsUserA
    bool started;
    Own own = Own::kNothing;
    const char* note = nullptr;  // how the note on the setup's own start ends
  } rows[] = {
      {"the desktop shell takes the start", Shell::kStarted, false, true, false, true},
      {"the shell's own start fails", Shell::kFailed, false, true, false, false},
      {"no shell to ask: the setup's own start", Shell::kNoShell, false, true, true, true},
      {"no shell to ask, as the system account", Shell::kNoShell, true, true, false, false},
      {"the desktop shell takes it, as the system account", Shell::kStarted, true, true, false,
       true},
      {"the desktop shell does not answer within 15 s", Shell::kHangs, false, false, false, false},
      {"no shell to ask, found just within 15 s", Shell::kLate, false, true, true, true},
      {"no shell to ask, found 1 ms too late", Shell::kTooLate, false, false, false, false},
      {"the shell's call raises", Shell::kThrows, false, true, false, false},
      {"no worker thread can be started", Shell::kNoWorkerThread, false, false, true, true},
      {"the worker's creation raises", Shell::kWorkerThrows, false, false, false, false},
      {"a desktop without a shell window", Shell::kNoShellWindow, false, false, true, true},
      {"a desktop without a shell window, as the system account", Shell::kNoShellWindow, true,
       false, false, false},
      {"no shell window, as an administrator in a standard user's session", Shell::kNoShellWindow,
       false, false, false, false, Own::kOtherUser,
       "and the setup's user is not the user logged on to this session."},
      {"no shell window, the session's user name cannot be read", Shell::kNoShellWindow, false,
       false, false, false, Own::kNoUserName, "could not be told."},
      {"no shell window, the session's user name is empty", Shell::kNoShellWindow, false, false,
       false, false, Own::kEmptyUserName, "could not be told."},
      {"no shell window, the session's user is not found", Shell::kNoShellWindow, false, false,
       false, false, Own::kUserNotFound, "could not be told."},
      {"no shell window, no normal user's token", Shell::kNoShellWindow, false, false, false, false,
       Own::kNoToken, "no normal user's rights could be made for it."},
      {"no shell window, Safer hands out no token (Wine): the restriction made directly",
       Shell::kNoShellWindow, false, false, true, true, Own::kSaferStub},
      {"no shell window, no integrity levels (Windows XP)", Shell::kNoShellWindow, false, false,
       true, true, Own::kNoLevels},
      {"no shell window, the token's level cannot be read", Shell::kNoShellWindow, false, false,
       false, false, Own::kLevelUnreadable, "could not be lowered to medium (error 5)."},
      {"no shell window, the token's level cannot be lowered", Shell::kNoShellWindow, false, false,
       false, false, Own::kLevelKept, "could not be lowered to medium (error 1314)."},
  };
  for (const Row& row : rows) {
    for (const bool directory_fails : {false, true}) {
      SCOPED_TRACE(std::string(row.what) +
                   (directory_fails ? ", directory change fails" : ", directory change works"));
      // Declared in this order, the run's own state goes before the fakes: a
      // worker that comes back from a hung shell only when the fakes end
      // (FakeGui runs it then) must need nothing of it.
      testing::FakePlatform fake;
      SetupContext ctx;
      ctx.ProductShortName = ctx_.ProductShortName;
      ctx.InstallDir = ctx_.InstallDir;
      ctx.SystemAccount = row.system_account;
      ctx.InheritedErrorMode = 0x0002;
      fake.system.error_mode = 0x8001;
      LangUnit lang;
      ProgressWindow progress(fake.os);
      Services s{ctx, fake.os, progress, lang};
      fake.processes.desktop_shell = row.shell == Shell::kFailed
                                         ? platform::DesktopShellResult::kFailed
                                     : row.shell == Shell::kNoShell || row.shell == Shell::kLate ||
                                             row.shell == Shell::kTooLate
                                         ? platform::DesktopShellResult::kNoDesktopShell
                                         : platform::DesktopShellResult::kStarted;
      fake.processes.set_current_directory_fails = directory_fails;
      if (row.shell == Shell::kHangs || row.shell == Shell::kLate || row.shell == Shell::kTooLate) {
        fake.gui.thread_mode = testing::FakeGui::ThreadMode::kHung;
        fake.gui.hung_ms = row.shell == Shell::kLate      ? 15000
                           : row.shell == Shell::kTooLate ? 15001
                                                          : platform::kInfinite;
      }
      fake.processes.desktop_shell_throws = row.shell == Shell::kThrows;
      fake.gui.fail_create_thread = row.shell == Shell::kNoWorkerThread;
      fake.gui.create_thread_throws = row.shell == Shell::kWorkerThrows;
      if (row.shell == Shell::kNoShellWindow) fake.app_link.shell_window = platform::kNullHandle;
      if (row.own == Own::kOtherUser) fake.processes.token_user = platform::Sid{1, 1, 0, 0, 0, 0};
      if (row.own == Own::kNoUserName) fake.system.session_texts.erase(platform::kWtsUserName);
      if (row.own == Own::kEmptyUserName) {  // whatever a look-up of "PC\" would find
        fake.system.session_texts[platform::kWtsUserName] = u"";
        fake.processes.accounts[u"PC\\"] = *fake.processes.token_user;
      }
      if (row.own == Own::kUserNotFound) fake.processes.accounts.clear();
      fake.processes.safer_token_fails = fake.processes.restricted_token_fails =
          row.own == Own::kNoToken;
      fake.processes.safer_token_unusable = row.own == Own::kSaferStub;
      fake.processes.no_integrity_levels = row.own == Own::kNoLevels;
      if (row.own == Own::kLevelUnreadable) fake.processes.integrity_read_error = 5;
      if (row.own == Own::kLevelKept) fake.processes.integrity_set_error = 1314;
      uint32_t desktop_thread = 0;
      uint32_t own_start_error_mode = 0;
      fake.processes.on_shell_execute = [&](const auto&) {
        desktop_thread = testing::FakeGui::CurrentThreadId();
      };
      fake.processes.on_create_process = [&](const auto&) {
        own_start_error_mode = fake.system.error_mode;
      };
      const std::string current =
          directory_fails ? std::string("C:\\Users\\u\\Downloads") : kInstallDir;

      if (row.shell == Shell::kWorkerThrows) {
        EXPECT_THROW(LaunchApplication(s), std::bad_alloc);  // a leak shows in the sanitizer
      } else {
        LaunchApplication(s);
      }

      EXPECT_THAT(fake.processes.current_directories, ElementsAre(kInstallDir));
      ASSERT_EQ(fake.processes.shell_calls.size(), size_t{row.desktop_called});
      ASSERT_EQ(fake.processes.create_process_calls.size(), size_t{row.own_called});
      if (row.desktop_called) {
        const auto& desktop = fake.processes.shell_calls[0];
        EXPECT_EQ(desktop.operation, "open");
        EXPECT_EQ(desktop.file, kExe);
        EXPECT_EQ(desktop.parameters, "");
        EXPECT_EQ(desktop.directory, kInstallDir) << "the shell has a current directory of its own";
        EXPECT_EQ(desktop.show_command, 1);
        EXPECT_EQ(desktop.current_directory, current);
      }
      if (row.own_called) {
        const auto& own = fake.processes.create_process_calls[0];
        EXPECT_EQ(own.token, row.own == Own::kSaferStub ? "restricted 1, Administrators, level 8192"
                             : row.own == Own::kNoLevels ? "level 2/131072/1"
                                                         : "level 2/131072/1, level 8192")
            << "a normal user's rights, from the setup's own token, at the medium level";
        EXPECT_EQ(own.application, kExe);
        EXPECT_EQ(own.command_line, std::string("\"") + kExe + "\"");
        EXPECT_EQ(own.creation_flags, 0u);
        EXPECT_EQ(own.current_directory, kInstallDir);
        EXPECT_EQ(own.startup.flags, 1u);
        EXPECT_EQ(own.startup.show_window, 1);
        EXPECT_EQ(own_start_error_mode, 0x0002u) << "Lexoria gets the inherited error mode";
      }
      EXPECT_EQ(fake.system.error_mode, 0x8001u) << "the setup's own mode is back";
      EXPECT_EQ(fake.processes.shell_executed.size() + row.own_called, size_t{row.started})
          << "started at most once";
      EXPECT_EQ(fake.processes.OpenHandles(), 0u) << "token, level and process handles closed";
      EXPECT_EQ(fake.processes.bad_closes, 0);
      ASSERT_EQ(ctx.Record.notes.size(),
                (row.system_account && !row.started) || row.note ? 1u : 0u);
      if (row.note) {
        const std::u16string& note = ctx.Record.notes[0];
        EXPECT_THAT(std::string(note.begin(), note.end()), ::testing::EndsWith(row.note));
      }
      const std::vector<std::string> gui_calls = fake.gui.Calls();
      if (row.shell == Shell::kNoShellWindow) {
        EXPECT_TRUE(gui_calls.empty()) << "no worker without a desktop shell";
      } else {
        ASSERT_FALSE(gui_calls.empty());
        EXPECT_EQ(gui_calls[0], "CreateThread");
        if (row.shell != Shell::kNoWorkerThread && row.shell != Shell::kWorkerThrows) {
          ASSERT_EQ(gui_calls.size(), 2u);
          EXPECT_THAT(gui_calls[1], ::testing::EndsWith(" 15000")) << gui_calls[1];
          EXPECT_EQ(fake.gui.HandlesOpen(), 0) << "the thread handle is closed";
        }
      }
      if (row.desktop_called && !row.own_called && row.started) {
        EXPECT_GT(desktop_thread, 1u) << "the shell is asked from a worker thread";
      }
      EXPECT_TRUE(fake.clock.sleeps.empty());
    }
  }
}

// Tests that a desktop shell that refuses, or that hangs past the bound, gets
// no second start and the marker wait still follows as it does when the
// start never comes up: 8 looks, nothing shown.
TEST_F(RunningAppTest, NoStartAfterAShellThatFailedOrHungAndTheWaitsFollow) {
  for (const bool hangs : {false, true}) {
    SCOPED_TRACE(hangs ? "hangs" : "fails");
    testing::FakePlatform fake;
    fake.app_link.FollowClock(fake.clock);
    Services s{ctx_, fake.os, progress_, lang_};
    fake.processes.desktop_shell = platform::DesktopShellResult::kFailed;
    if (hangs) fake.gui.thread_mode = testing::FakeGui::ThreadMode::kHung;

    LaunchAndActivateApplication(s);

    EXPECT_TRUE(fake.processes.shell_executed.empty());
    EXPECT_EQ(fake.clock.sleeps, std::vector<uint32_t>(8, 512));
    EXPECT_TRUE(fake.app_link.find_window_calls.empty());
    EXPECT_TRUE(fake.app_link.shown.empty());
  }
}

// Tests the two waits after a launch, by either path of the start: how many
// pauses of which length run, and when (if ever) the window is shown and
// brought to the front.
TEST_F(RunningAppTest, LaunchAndActivateWaitsForMarkerThenWindow) {
  struct Row {
    const char* message;
    bool starts;                           // the shell starts the executable
    std::optional<uint64_t> marker_after;  // ms after the start
    std::optional<uint64_t> window_after;
    int marker_pauses;  // of 512 ms
    int window_pauses;  // of 1024 ms
    bool activated;
  };
  const Row rows[] = {
      {"both up at once: earliest activation", true, 0, 0, 1, 1, true},
      {"marker after 3 s, window 2 s later", true, 3000, 5000, 6, 2, true},
      {"marker first seen at the 8th look", true, 4096, 4096, 8, 1, true},
      {"marker just too late for the 8th look", true, 4097, 4097, 8, 0, false},
      {"executable does not start", false, std::nullopt, std::nullopt, 8, 0, false},
      {"Lexoria starts without its marker", true, std::nullopt, 0, 8, 0, false},
      {"marker but never a window", true, 0, std::nullopt, 1, 11, false},
      {"window first seen at the 11th look", true, 0, 512 + 11 * 1024, 1, 11, true},
      {"longest wait: 8th and 11th looks both empty", true, 4096, std::nullopt, 8, 11, false},
  };
  for (const bool shell_window : {true, false}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.message) +
                   (shell_window ? " (desktop shell)" : " (setup's own start)"));
      testing::FakePlatform fake;
      fake.app_link.FollowClock(fake.clock);
      Services s{ctx_, fake.os, progress_, lang_};
      if (!shell_window) fake.app_link.shell_window = platform::kNullHandle;
      if (!row.starts) fake.processes.shell_execute_result = platform::kErrorFileNotFound;
      if (!row.starts) fake.processes.as_user_error = platform::kErrorFileNotFound;
      platform::HWnd window = platform::kNullHandle;
      const auto start_up = [&](const auto&) {
        if (row.marker_after) fake.app_link.HoldMappingAt(kMarker, *row.marker_after);
        if (row.window_after) window = fake.app_link.AddWindow(kWindowClass, *row.window_after);
      };
      fake.processes.on_shell_execute = start_up;
      fake.processes.on_create_process = start_up;

      LaunchAndActivateApplication(s);

      std::vector<uint32_t> expected_sleeps(row.marker_pauses, 512);
      expected_sleeps.insert(expected_sleeps.end(), row.window_pauses, 1024);
      EXPECT_EQ(fake.clock.sleeps, expected_sleeps);
      EXPECT_EQ(fake.processes.shell_calls.size(), size_t{shell_window});
      EXPECT_EQ(fake.processes.create_process_calls.size(), size_t{!shell_window});
      EXPECT_EQ(fake.app_link.mapping_calls.size(), static_cast<size_t>(row.marker_pauses));
      EXPECT_EQ(fake.app_link.find_window_calls.size(), static_cast<size_t>(row.window_pauses));
      EXPECT_EQ(fake.app_link.OpenMappingHandles(), 0u);
      EXPECT_EQ(fake.app_link.bad_closes, 0);
      if (row.activated) {
        const uint64_t at = 512u * row.marker_pauses + 1024u * row.window_pauses;
        ASSERT_EQ(fake.app_link.shown.size(), 1u);
        EXPECT_EQ(fake.app_link.shown[0].window, window);
        EXPECT_EQ(fake.app_link.shown[0].show_command, 1);
        EXPECT_EQ(fake.app_link.shown[0].at_ms, at);
        ASSERT_EQ(fake.app_link.foreground_calls.size(), 1u);
        EXPECT_EQ(fake.app_link.foreground_calls[0].at_ms, at);
        EXPECT_EQ(fake.app_link.foreground_calls[0].window, window);
        EXPECT_LT(fake.app_link.shown[0].sequence, fake.app_link.foreground_calls[0].sequence)
            << "shown first, then brought to the front";
        EXPECT_EQ(fake.app_link.foreground_window, window);
      } else {
        EXPECT_TRUE(fake.app_link.shown.empty());
        EXPECT_TRUE(fake.app_link.foreground_calls.empty());
      }
      EXPECT_TRUE(fake.app_link.posted.empty());
      // A start that never came up leaves no marker of the setup's own.
      if (!row.marker_after) {
        EXPECT_FALSE(fake.app_link.MappingExists(kMarker));
      }
    }
  }
}

// Tests that the earliest activation comes 1536 ms after the start and the
// longest fruitless wait spends exactly 15360 ms in pauses.
TEST_F(RunningAppTest, WaitsSpanFrom1536To15360Milliseconds) {
  StageStartUp(0, 0);
  LaunchAndActivateApplication(s_);
  ASSERT_EQ(fake_.app_link.shown.size(), 1u);
  EXPECT_EQ(fake_.app_link.shown[0].at_ms, 1536u);
  EXPECT_EQ(fake_.clock.now_ms, 1536u);

  testing::FakePlatform slow;
  slow.app_link.FollowClock(slow.clock);
  Services s{ctx_, slow.os, progress_, lang_};
  slow.processes.on_shell_execute = [&](const testing::FakeProcesses::ShellExecuteCall&) {
    slow.app_link.HoldMappingAt(kMarker, 8 * 512);
  };
  LaunchAndActivateApplication(s);
  EXPECT_EQ(slow.clock.now_ms, 15360u);
  EXPECT_TRUE(slow.app_link.shown.empty());
}

// Tests that of two Lexoria windows the one FindWindowA returns is the one
// shown and brought to the front, and that the launch went to InstallDir.
TEST_F(RunningAppTest, ActivatesTheWindowFindWindowReturns) {
  StageStartUp(1000, 2000);
  const platform::HWnd later = fake_.app_link.AddWindow(kWindowClass, 2500);
  LaunchAndActivateApplication(s_);
  EXPECT_THAT(fake_.app_link.shown,
              ElementsAre(Field(&testing::FakeAppLink::WindowCall::window, window_)));
  EXPECT_EQ(fake_.app_link.foreground_window, window_);
  EXPECT_NE(window_, later);
  EXPECT_EQ(fake_.processes.current_directory, kInstallDir);
  ExpectNoHandleLeft();
}

}  // namespace
}  // namespace lexoria
