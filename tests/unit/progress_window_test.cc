#include "ui/progress_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "fakes/fake_platform.h"

namespace lexoria {
namespace {

using platform::HWnd;
using ::testing::ElementsAre;
using testing::FakeGui;
using testing::FakePlatform;
using testing::FakeWindow;

class ProgressWindowTest : public ::testing::Test {
 protected:
  // The fake first, so that the window (and its shutdown) goes before it.
  FakePlatform fake_;
  std::unique_ptr<ProgressWindow> window_ = std::make_unique<ProgressWindow>(fake_.os);

  FakeWindow Main() const { return *fake_.gui.WindowOfClass(u"PlainWindow"); }
  FakeWindow Label() const { return *fake_.gui.WindowOfClass(u"STATIC"); }
  FakeWindow Bar() const { return *fake_.gui.WindowOfClass(u"msctls_progress32"); }
};

// Tests that a hide before any show acts on no window and starts nothing.
TEST_F(ProgressWindowTest, HideBeforeShowDoesNothing) {
  window_->HideProgressWindow();
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 0);
  EXPECT_TRUE(fake_.gui.Windows().empty());
  ASSERT_EQ(fake_.gui.WindowPosCalls().size(), 1u);
  EXPECT_EQ(fake_.gui.WindowPosCalls()[0].window, platform::kNullHandle);
  EXPECT_EQ(fake_.gui.WindowPosCalls()[0].flags, 0x80u);
  EXPECT_FALSE(window_->ProgressWindowExists());
}

// Tests that the window thread registers "PlainWindow" with the class record
// the window needs, field by field.
TEST_F(ProgressWindowTest, FirstShowRegistersThePlainWindowClass) {
  window_->ShowProgressWindow("Caption", "Label");
  const auto classes = fake_.gui.Classes();
  ASSERT_EQ(classes.size(), 1u);
  const platform::WndClassEx& c = classes[0];
  EXPECT_EQ(c.size, 48u);
  EXPECT_EQ(c.style, 0x0203u) << "CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE";
  EXPECT_TRUE(static_cast<bool>(c.procedure));
  EXPECT_EQ(c.class_extra, 4);
  EXPECT_EQ(c.window_extra, 4);
  EXPECT_EQ(c.instance, FakeGui::kModule);
  EXPECT_EQ(c.icon, platform::kNullHandle) << "an icon without a name gives none";
  EXPECT_EQ(c.small_icon, platform::kNullHandle);
  EXPECT_EQ(c.cursor, FakeGui::kArrowCursor);
  EXPECT_EQ(c.background, FakeGui::kGrayBrushObject);
  EXPECT_EQ(c.menu_name, nullptr);
  EXPECT_EQ(std::u16string(c.class_name), u"PlainWindow");
  const auto calls = fake_.gui.Calls();
  EXPECT_THAT(calls, ::testing::Contains("LoadIconA 0x400000 (null)"));
  EXPECT_THAT(calls, ::testing::Contains("LoadCursorA 0x0 32512"));
  EXPECT_THAT(calls, ::testing::Contains("GetStockObject 2"));
}

// Tests that the first show creates the three windows with their exact
// classes, texts, styles, places, sizes and parents; each piece of a text
// from its own code page (the setup's words from 1251 on a Western system, a
// path from the system's).
TEST_F(ProgressWindowTest, FirstShowCreatesTheThreeWindows) {
  fake_.system.ansi_code_page = 1252;
  window_->ShowProgressWindow("Идёт установка", SystemText("C:\\\311ditions"));  // \311: É
  const FakeWindow main = Main();
  struct Row {
    const char* what;
    FakeWindow actual;
    std::u16string text;
    uint32_t ex_style, style;
    int x, y, width, height;
    HWnd parent;
  } rows[] = {
      {"progress window", main, u"Идёт установка", 0x00020009, 0x00400000, 308, 346, 408, 76, 0},
      {"label", Label(), u"C:\\Éditions", 0, 0x50000000, 2, 2, 399, 20, main.handle},
      {"progress bar", Bar(), u"", 0, 0x50040000, 2, 24, 400, 20, main.handle},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.actual.text, row.text);
    EXPECT_EQ(row.actual.ex_style, row.ex_style);
    EXPECT_EQ(row.actual.style, row.style);
    EXPECT_EQ(row.actual.x, row.x);
    EXPECT_EQ(row.actual.y, row.y);
    EXPECT_EQ(row.actual.width, row.width);
    EXPECT_EQ(row.actual.height, row.height);
    EXPECT_EQ(row.actual.parent, row.parent);
    EXPECT_EQ(row.actual.menu, platform::kNullHandle);
    EXPECT_EQ(row.actual.instance, FakeGui::kModule);
    EXPECT_FALSE(row.actual.destroyed);
  }
  EXPECT_EQ(fake_.gui.Windows().size(), 3u);
  EXPECT_TRUE(main.visible);
  EXPECT_TRUE(main.topmost);
  EXPECT_EQ(window_->ProgressWindowHandle(), main.handle);
  EXPECT_EQ(window_->ProgressLabelHandle(), Label().handle);
  EXPECT_EQ(window_->ProgressBarHandle(), Bar().handle);
  EXPECT_TRUE(window_->ProgressWindowExists());
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 1);
}

// Tests that the thread body runs its steps in order: metrics, common
// controls, class, window (children inside its creation), show, loop.
TEST_F(ProgressWindowTest, ThreadBodyRunsItsStepsInOrder) {
  window_->ShowProgressWindow("", "");
  const HWnd main = Main().handle;
  char show[64];
  std::snprintf(show, sizeof(show), "ShowWindow 0x%llX 1", static_cast<unsigned long long>(main));
  EXPECT_THAT(
      fake_.gui.Calls(),
      ElementsAre("CreateThread", "GetSystemMetrics 0", "GetSystemMetrics 1", "InitCommonControls",
                  "LoadIconA 0x400000 (null)", "LoadCursorA 0x0 32512", "GetStockObject 2",
                  "RegisterClassExW PlainWindow", "CreateWindowExW PlainWindow \"\"",
                  "CreateWindowExW STATIC \"\"", "CreateWindowExW msctls_progress32 \"\"",
                  std::string(show), "GetMessageW"));
  EXPECT_EQ(fake_.gui.InitCommonControlsCount(), 1);
}

// Tests the centred placement, and the placement at 0 on an axis where the
// screen is smaller than the window.
TEST_F(ProgressWindowTest, PlacesTheWindowCentredOrAtZero) {
  struct Row {
    int screen_width, screen_height, x, y;
  } rows[] = {
      {1024, 768, 308, 346}, {1920, 1080, 756, 502}, {409, 77, 0, 0},   {410, 78, 1, 1},
      {408, 76, 0, 0},       {300, 50, 0, 0},        {800, 60, 196, 0}, {200, 600, 0, 262},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.screen_width) + "x" + std::to_string(row.screen_height));
    FakePlatform fake;
    fake.gui.screen_width = row.screen_width;
    fake.gui.screen_height = row.screen_height;
    ProgressWindow window(fake.os);
    window.ShowProgressWindow("", "");
    const FakeWindow main = *fake.gui.WindowOfClass(u"PlainWindow");
    EXPECT_EQ(main.x, row.x);
    EXPECT_EQ(main.y, row.y);
    EXPECT_EQ(window.ProgressWindowX(), row.x);
    EXPECT_EQ(window.ProgressWindowY(), row.y);
    window.HideProgressWindow();
    EXPECT_EQ(fake.gui.WindowPosCalls().back().x, row.x);
    EXPECT_EQ(fake.gui.WindowPosCalls().back().y, row.y);
  }
}

// Tests that a later show sets both texts (empty ones clear them) and shows
// the window topmost at the same place, without a second thread.
TEST_F(ProgressWindowTest, LaterShowSetsTextsAndShowsAgain) {
  window_->ShowProgressWindow("Caption", "Label");
  window_->HideProgressWindow();
  EXPECT_FALSE(Main().visible);
  window_->ShowProgressWindow("", "");
  EXPECT_EQ(Main().text, u"");
  EXPECT_EQ(Label().text, u"");
  EXPECT_TRUE(Main().visible);
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 1);
  const testing::WindowPosCall last = fake_.gui.WindowPosCalls().back();
  EXPECT_EQ(last.window, Main().handle);
  EXPECT_EQ(last.insert_after, platform::kHwndTopmost);
  EXPECT_EQ(last.x, 308);
  EXPECT_EQ(last.y, 346);
  EXPECT_EQ(last.cx, 408);
  EXPECT_EQ(last.cy, 76);
  EXPECT_EQ(last.flags, 0x40u);
}

// Tests that hide and show put a window the user moved back at the centre,
// topmost, with its fixed size, each with its own flag.
TEST_F(ProgressWindowTest, HideAndShowReplaceAMovedWindow) {
  window_->ShowProgressWindow("", "");
  const HWnd main = Main().handle;
  struct Row {
    const char* what;
    void (*act)(ProgressWindow&);
    uint32_t flags;
    bool visible;
  } rows[] = {
      {"hide", [](ProgressWindow& w) { w.HideProgressWindow(); }, 0x80, false},
      {"show", [](ProgressWindow& w) { w.ShowProgressWindow("a", "b"); }, 0x40, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fake_.gui.MoveWindowFromOutside(main, 5, 7);
    row.act(*window_);
    const FakeWindow w = Main();
    EXPECT_EQ(w.x, 308);
    EXPECT_EQ(w.y, 346);
    EXPECT_EQ(w.width, 408);
    EXPECT_EQ(w.height, 76);
    EXPECT_TRUE(w.topmost);
    EXPECT_EQ(w.visible, row.visible);
    EXPECT_EQ(fake_.gui.WindowPosCalls().back().flags, row.flags);
    EXPECT_EQ(fake_.gui.WindowPosCalls().back().insert_after, platform::kHwndTopmost);
  }
}

// Tests that before the window exists the caption is stored for its creation
// and the label is lost, and that the first show creates it with its texts.
TEST_F(ProgressWindowTest, TextsBeforeTheWindowExists) {
  window_->SetProgressCaption("Stored caption");
  window_->SetProgressLabel("Lost label");
  EXPECT_EQ(window_->PendingCaption(), u"Stored caption");
  EXPECT_EQ(window_->PendingLabel(), u"");
  EXPECT_TRUE(fake_.gui.Windows().empty());
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 0);

  window_->ShowProgressWindow("Shown caption", "Shown label");
  EXPECT_EQ(window_->PendingCaption(), u"Shown caption");
  EXPECT_EQ(window_->PendingLabel(), u"Shown label");
  EXPECT_EQ(Main().text, u"Shown caption");
  EXPECT_EQ(Label().text, u"Shown label");

  window_->SetProgressCaption("New caption");
  window_->SetProgressLabel("New label");
  EXPECT_EQ(Main().text, u"New caption");
  EXPECT_EQ(Label().text, u"New label");
  EXPECT_EQ(window_->PendingCaption(), u"Shown caption") << "a live window's caption is not stored";
}

// Tests that a failed class registration leaves no window and no exists
// flag, so the next show starts another thread that succeeds.
TEST_F(ProgressWindowTest, FailedRegistrationLetsTheNextShowTryAgain) {
  fake_.gui.fail_register_class = true;
  window_->ShowProgressWindow("First", "");
  EXPECT_FALSE(window_->ProgressWindowExists());
  EXPECT_TRUE(fake_.gui.Windows().empty());
  EXPECT_EQ(fake_.gui.ThreadsRunning(), 0);

  fake_.gui.fail_register_class = false;
  window_->ShowProgressWindow("Second", "");
  EXPECT_TRUE(window_->ProgressWindowExists());
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 2);
  EXPECT_EQ(Main().text, u"Second");
}

// Tests that a failed window creation still sets the exists flag, so no
// further thread starts and every later operation acts on no window.
TEST_F(ProgressWindowTest, FailedCreationStillCountsAsExisting) {
  fake_.gui.failing_window_classes = {u"PlainWindow"};
  window_->ShowProgressWindow("Caption", "Label");
  EXPECT_TRUE(window_->ProgressWindowExists());
  EXPECT_EQ(window_->ProgressWindowHandle(), platform::kNullHandle);
  EXPECT_TRUE(fake_.gui.Windows().empty());

  window_->ShowProgressWindow("Again", "");
  window_->HideProgressWindow();
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 1);
  for (const testing::WindowPosCall& call : fake_.gui.WindowPosCalls()) {
    EXPECT_EQ(call.window, platform::kNullHandle);
  }
}

// Tests that a thread that cannot be started leaves no window and that the
// next show tries again.
TEST_F(ProgressWindowTest, FailedThreadStartLetsTheNextShowTryAgain) {
  fake_.gui.fail_create_thread = true;
  window_->ShowProgressWindow("", "");
  EXPECT_FALSE(window_->ProgressWindowExists());
  fake_.gui.fail_create_thread = false;
  window_->ShowProgressWindow("", "");
  EXPECT_TRUE(window_->ProgressWindowExists());
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 1);
}

// Tests the window procedure: WM_CREATE is handled at creation, WM_DESTROY
// posts the quit message with code 0, the rest goes to DefWindowProcW.
TEST_F(ProgressWindowTest, WindowProcedureHandlesItsMessages) {
  window_->ShowProgressWindow("", "");
  const HWnd main = Main().handle;
  const platform::WindowProcedure procedure = fake_.gui.Classes()[0].procedure;
  struct Row {
    uint32_t message;
    const char* call;
  } rows[] = {
      {platform::kWmDestroy, "PostQuitMessage 0"},
      {platform::kWmPaint, "DefWindowProcW"},
      {platform::kWmClose, "DefWindowProcW"},
      {platform::kWmSetText, "DefWindowProcW"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EQ(procedure(main, row.message, 1, 2), 0);
    EXPECT_THAT(fake_.gui.Calls().back(), ::testing::StartsWith(row.call));
  }
}

// Tests that the window thread owns the window when it runs concurrently,
// that the main thread drives it there, and that the shutdown ends the thread.
TEST_F(ProgressWindowTest, ConcurrentThreadOwnsTheWindowAndEndsAtShutdown) {
  fake_.gui.thread_mode = FakeGui::ThreadMode::kConcurrent;
  window_->ShowProgressWindow("Caption", "Label");
  ASSERT_TRUE(fake_.gui.WaitFor([&] { return window_->ProgressWindowExists(); }));
  EXPECT_NE(Main().owner_thread, 1u) << "created on the window thread";
  EXPECT_EQ(fake_.gui.ThreadsRunning(), 1) << "pumping messages";

  window_->HideProgressWindow();
  EXPECT_FALSE(Main().visible);
  window_->ShowProgressWindow("", "");
  EXPECT_TRUE(Main().visible);
  EXPECT_EQ(Main().text, u"");

  window_.reset();
  EXPECT_EQ(fake_.gui.ThreadsRunning(), 0);
  EXPECT_EQ(fake_.gui.HandlesOpen(), 0);
}

// Tests that a window destroyed by the platform ends the thread's loop, and
// that the operations afterwards act on the dead window without effect.
TEST_F(ProgressWindowTest, DestroyedWindowEndsTheThread) {
  fake_.gui.thread_mode = FakeGui::ThreadMode::kConcurrent;
  window_->ShowProgressWindow("Caption", "Label");
  ASSERT_TRUE(fake_.gui.WaitFor([&] { return window_->ProgressWindowExists(); }));
  fake_.gui.DestroyWindowFromOutside(Main().handle);
  ASSERT_TRUE(fake_.gui.WaitFor([&] { return fake_.gui.ThreadsRunning() == 0; }));

  window_->ShowProgressWindow("After", "After");
  EXPECT_TRUE(window_->ProgressWindowExists());
  EXPECT_EQ(fake_.gui.ThreadsStarted(), 1);
  EXPECT_TRUE(Main().destroyed);
  EXPECT_EQ(Main().text, u"Caption");
}

// Tests that an error from GetMessageW ends the loop instead of spinning.
TEST_F(ProgressWindowTest, GetMessageErrorEndsTheLoop) {
  fake_.gui.thread_mode = FakeGui::ThreadMode::kConcurrent;
  fake_.gui.fail_get_message = true;
  window_->ShowProgressWindow("", "");
  EXPECT_TRUE(fake_.gui.WaitFor([&] { return fake_.gui.ThreadsRunning() == 0; }));
  EXPECT_TRUE(window_->ProgressWindowExists());
}

}  // namespace
}  // namespace lexoria
