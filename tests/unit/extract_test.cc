#include "install/extract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "system/command_line.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using testing::BoxCall;
using testing::FakeFileSystem;
using testing::FakePlatform;

constexpr char kTarget[] = "C:\\Lexoria\\lxrq.pak";
constexpr char kTemp[] = "C:\\Lexoria\\~lxrq.pak";
constexpr char16_t kFailureEn[] = u"Can't install file C:\\Lexoria\\lxrq.pak";
constexpr char16_t kFailureRu[] = u"Не удается установить файл C:\\Lexoria\\lxrq.pak";

// A package of `size` bytes carrying `version` in bytes 6 and 7, the rest a
// pattern that tells packages of different versions apart.
std::vector<uint8_t> Package(uint16_t version, size_t size = 64) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + version);
  if (size > 6) bytes[6] = static_cast<uint8_t>(version & 0xFF);
  if (size > 7) bytes[7] = static_cast<uint8_t>(version >> 8);
  return bytes;
}

// Memory that has nothing to give, as a process whose address space is used up.
class NoMemory final : public BufferMemory {
 public:
  uint8_t* Allocate(size_t) override { return nullptr; }
  void Free(uint8_t*) override {}
} no_memory;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Takes the target's folder as the flow takes InstallDir, then writes into it.
WriteResult ExtractInto(Services& s, const std::string& name, const std::string& type,
                        const std::string& target, bool check, HeldTarget held = HeldTarget::kFail,
                        int32_t* version = nullptr) {
  const PinnedFolder folder(s.os, target.substr(0, target.rfind('\\') + 1));
  return ExtractResourceToFile(s, folder, name, type, target, check, held, version);
}
WriteResult JoinInto(Services& s, const std::string& name, const std::string& type,
                     const std::string& target, BufferMemory& memory = HeapMemory()) {
  const PinnedFolder folder(s.os, target.substr(0, target.rfind('\\') + 1));
  return JoinResourcesToFile(s, folder, name, type, target, nullptr, memory);
}

class ExtractTest : public ::testing::Test {
 protected:
  ExtractTest() {
    ctx_.InstallDir = "C:\\Lexoria\\";
    ctx_.UpdateTitleEn = "Lexoria update";
    ctx_.UpdateTitleRu = "Обновление Lexoria";
    fake_.files.AddDirectory("C:\\Lexoria");
    fake_.resources.Add("LXRQ", "PAK", Package(1040));
  }

  WriteResult Extract(bool check = true, const std::string& type = "pak",
                      const std::string& target = kTarget) {
    return ExtractInto(s_, "lxrq", type, target, check);
  }
  const std::vector<BoxCall>& Boxes() const { return fake_.dialogs.calls(); }
  std::vector<std::u16string> BoxTexts() const {
    std::vector<std::u16string> texts;
    for (const BoxCall& box : Boxes()) texts.push_back(box.text);
    return texts;
  }
  // True when some call opened `path` (for reading or writing).
  bool Opened(const std::string& path) const {
    for (const std::string& call : fake_.files.Calls()) {
      if (call.rfind("CreateFileA " + path + " ", 0) == 0) return true;
    }
    return false;
  }
  void ExpectNothingLeftOpen() const {
    EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
    EXPECT_EQ(fake_.resources.LoadedCount(), 0) << "the resource is freed";
  }

  FakePlatform fake_;
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

// Tests every row of the failure table: the one message naming the target,
// and what survives on disk.
TEST_F(ExtractTest, FailuresShowOneMessageAndKeepWhatTheyMust) {
  enum class Left { kOld, kNone, kForeign };
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    bool check;
    bool installed;  // an installed file of version 1039 lies at the target
    Left target;     // what the target holds afterwards
    Left temp;       // what the "~" file holds afterwards
  } rows[] = {
      {"resource missing", [](FakePlatform& f) { f.resources = {}; }, true, true, Left::kOld,
       Left::kNone},
      {"resource cannot be loaded", [](FakePlatform& f) { f.resources.fail_load = true; }, true,
       true, Left::kOld, Left::kNone},
      {"resource cannot be locked", [](FakePlatform& f) { f.resources.fail_lock = true; }, true,
       true, Left::kOld, Left::kNone},
      {"no installed file: the new file cannot be created",
       [](FakePlatform& f) { f.files.DenyOpen(kTemp); }, true, false, Left::kNone, Left::kNone},
      {"check clear: the target can be neither opened nor deleted",
       [](FakePlatform& f) {
         f.files.DenyOpen(kTarget);
         f.files.DenyDelete(kTarget);
       },
       false, true, Left::kOld, Left::kNone},
      {"check clear: the flush fails, the old file stays",
       [](FakePlatform& f) { f.files.FailFlushesOf(kTemp); }, false, true, Left::kOld, Left::kNone},
      {"temporary name taken by a file that cannot be removed",
       [](FakePlatform& f) {
         f.files.AddFile(kTemp, Bytes("someone else's"));
         f.files.DenyDelete(kTemp);
       },
       true, true, Left::kOld, Left::kForeign},
      {"no installed file: disk full, the write fails",
       [](FakePlatform& f) { f.files.SetFreeSpace(40); }, true, false, Left::kNone, Left::kNone},
      {"no installed file: disk full, the write reports success with fewer bytes",
       [](FakePlatform& f) { f.files.SetFreeSpace(40, /*short_write_succeeds=*/true); }, true,
       false, Left::kNone, Left::kNone},
      {"temporary write: disk full", [](FakePlatform& f) { f.files.SetFreeSpace(40, true); }, true,
       true, Left::kOld, Left::kNone},
      {"temporary file cannot be created", [](FakePlatform& f) { f.files.DenyOpen(kTemp); }, true,
       true, Left::kOld, Left::kNone},
      {"no installed file: the flush fails", [](FakePlatform& f) { f.files.FailFlushesOf(kTemp); },
       true, false, Left::kNone, Left::kNone},
      {"no installed file: something took the name before the rename",
       [](FakePlatform& f) {
         f.files.on_call = [&f](const std::string& call) {
           if (call.rfind("FlushFileBuffers", 0) == 0) f.files.AddFile(kTarget, Bytes("planted"));
         };
       },
       true, false, Left::kForeign, Left::kNone},
      {"temporary write: the flush fails", [](FakePlatform& f) { f.files.FailFlushesOf(kTemp); },
       true, true, Left::kOld, Left::kNone},
      {"move refused", [](FakePlatform& f) { f.files.DenyMoves(); }, true, true, Left::kOld,
       Left::kNone},
      {"read-only target",
       [](FakePlatform& f) { f.files.SetAttributes(kTarget, platform::kFileAttributeReadonly); },
       true, true, Left::kOld, Left::kNone},
      {"target held open without delete sharing",
       [](FakePlatform& f) {
         f.files.HoldOpen(kTarget, platform::kGenericRead,
                          platform::kFileShareRead | platform::kFileShareWrite);
       },
       true, true, Left::kOld, Left::kNone},
      {"target cannot be deleted", [](FakePlatform& f) { f.files.DenyDelete(kTarget); }, true, true,
       Left::kOld, Left::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.files.AddDirectory("C:\\Lexoria");
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    if (row.installed) fake.files.AddFile(kTarget, Package(1039));
    row.arrange(fake);
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    EXPECT_EQ(ExtractInto(s, "lxrq", "pak", kTarget, row.check), WriteResult::kFailed);

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.text, kFailureEn);
    EXPECT_EQ(box.caption, u"Lexoria update");
    EXPECT_EQ(box.type, 0x00200010u);
    const auto expect_holds = [&](const char* path, Left left) {
      const auto content = fake.files.Content(path);
      switch (left) {
        case Left::kNone:
          EXPECT_FALSE(content.has_value()) << path;
          break;
        case Left::kOld:
          EXPECT_EQ(content, Package(1039)) << path;
          break;
        case Left::kForeign:
          EXPECT_EQ(content, Bytes(path == std::string(kTarget) ? "planted" : "someone else's"))
              << path;
          break;
      }
    };
    expect_holds(kTarget, row.target);
    expect_holds(kTemp, row.temp);
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
    EXPECT_EQ(fake.resources.LoadedCount(), 0);
    EXPECT_EQ(fake.gui.ThreadsStarted(), 0) << "no question, no progress window";
  }
}

// Tests that the message is Russian when the interface is.
TEST_F(ExtractTest, FailureMessageInRussian) {
  ctx_.RussianUi = true;
  fake_.files.DenyOpen(kTemp);
  Extract();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, kFailureRu);
  EXPECT_EQ(Boxes()[0].caption, u"Обновление Lexoria");
}

// Tests the version comparison of the data types: equal and newer installed
// files are replaced silently, an older new file leads to the question.
TEST_F(ExtractTest, ComparesVersionsByType) {
  struct Row {
    const char* what;
    std::string type;
    std::vector<uint8_t> carried;
    std::vector<uint8_t> installed;
    bool asks;
  } rows[] = {
      {"pak equal", "pak", Package(1040), Package(1040), false},
      {"pak installed smaller", "pak", Package(1040), Package(1039), false},
      {"pak installed greater", "pak", Package(1040), Package(1041), true},
      {"pak new unreadable (7 bytes)", "pak", Package(1040, 7), Package(1, 8), true},
      {"pak installed unreadable", "pak", Package(1040), Package(9999, 7), false},
      {"pak versions above 32767 are unsigned", "pak", Package(40000), Package(30000), false},
      {"3bs byte 6", "3bs", Bytes("xxxxxx\x05z"), Bytes("xxxxxx\x06z"), true},
      {"3bs equal", "3bs", Bytes("xxxxxx\x06z"), Bytes("xxxxxx\x06z"), false},
      {"cok bytes 5-6", "cok", Bytes("xxxxx\x01\x02z"), Bytes("xxxxx\x02\x02z"), true},
      {"cok installed smaller", "cok", Bytes("xxxxx\x02\x02z"), Bytes("xxxxx\x01\x02z"), false},
      {"lng", "lng", Bytes("[langver]\r\n5\r\n"), Bytes("[langver]\r\n6\r\n"), true},
      {"lng equal", "lng", Bytes("[langver]\r\n6\r\n"), Bytes("[langver]\r\n6\r\n"), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    const std::string target = "C:\\Lexoria\\data." + row.type;
    fake.resources.Add("data", row.type, row.carried);
    fake.files.AddFile(target, row.installed);
    fake.dialogs.default_answer = platform::kIdYes;
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    ExtractInto(s, "data", row.type, target, /*check=*/true);

    EXPECT_EQ(fake.dialogs.calls().size(), row.asks ? 1u : 0u);
    EXPECT_EQ(fake.files.Content(target), row.carried) << "replaced (after Yes when asked)";
    EXPECT_FALSE(fake.files.Exists("C:\\Lexoria\\~data." + row.type));
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  }
}

// Tests that the question shows the installed value after "new file version "
// and the carried one after " with an older file version ", and that No keeps
// the installed file and leaves no "~" file; also while a scanner holds the
// installed file open for reading with full sharing.
TEST_F(ExtractTest, NoKeepsTheNewerInstalledFile) {
  for (const bool scanner : {false, true}) {
    SCOPED_TRACE(scanner ? "held by a scanner" : "not held");
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(1041));
    if (scanner) {
      fake.files.HoldOpen(
          kTarget, platform::kGenericRead,
          platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete);
    }
    fake.dialogs.Answer(platform::kIdNo);
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    EXPECT_EQ(ExtractInto(s, "lxrq", "pak", kTarget, /*check=*/true), WriteResult::kKept);

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    EXPECT_THAT(testing::Utf16ToUtf8(fake.dialogs.calls()[0].text),
                ::testing::HasSubstr("new file version 1041 with an older file version 1040?"));
    EXPECT_EQ(fake.files.Content(kTarget), Package(1041));
    EXPECT_FALSE(fake.files.Exists(kTemp));
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  }
}

// Tests that a "~" file that cannot be deleted after No stays, with no
// message, and the installed file is untouched.
TEST_F(ExtractTest, UndeletableTemporaryFileAfterNoStaysSilently) {
  fake_.files.AddFile(kTarget, Package(1041));
  fake_.files.DenyDelete(kTemp);
  Extract();
  EXPECT_EQ(Boxes().size(), 1u) << "only the question";
  EXPECT_EQ(fake_.files.Content(kTarget), Package(1041));
  EXPECT_EQ(fake_.files.Content(kTemp), Package(1040));
}

// Tests the replacement in one step: the "~" file, held, is renamed over the
// target through its handle (to the target's full path in the pinned
// folder), never deleted first; a close that reports a failure once the
// package is in place leaves it there, and the record says so.
TEST_F(ExtractTest, ReplacesInOneStep) {
  for (const bool failing_close : {false, true}) {
    SCOPED_TRACE(failing_close ? "the close fails" : "the close succeeds");
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(1039));
    if (failing_close) fake.files.FailClosesOf(kTarget);
    ProgressWindow progress(fake.os);
    SetupContext ctx;
    Services s{ctx, fake.os, progress, lang_};
    EXPECT_EQ(ExtractInto(s, "lxrq", "pak", kTarget, /*check=*/true), WriteResult::kWritten);
    EXPECT_TRUE(fake.dialogs.calls().empty());
    EXPECT_EQ(fake.files.Content(kTarget), Package(1040));
    EXPECT_FALSE(fake.files.Exists(kTemp));
    const std::vector<std::string>& calls = fake.files.Calls();
    EXPECT_THAT(calls, ::testing::Contains(std::string("SetFileRenameInfo ") + kTemp +
                                           " -> \\??\\C:\\Lexoria\\lxrq.pak"));
    EXPECT_THAT(calls, ::testing::Not(::testing::Contains(std::string("DeleteFileA ") + kTarget)));
    EXPECT_EQ(ctx.Record.notes.size(), failing_close ? 1u : 0u);
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  }
}

// Tests the replacement of a file another program holds: only after a quit
// request does it try again, every 250 ms for up to 15 s; then it fails as
// at once, the installed file untouched and the "~" file removed, or, where
// nobody can be told, the "~" file stays and replaces the installed one at
// the next restart, queued once, as a rename that replaces; only in a folder
// standard users cannot change, and the record says why elsewhere. A
// read-only file is not waited for, nor scheduled, nor is another failure.
TEST_F(ExtractTest, WaitsForAProgramAskedToQuitToLetGo) {
  constexpr uint64_t kNever = ~uint64_t{0};
  // A PC up for 49.7 days: GetTickCount wraps to 0 during the wait.
  constexpr uint64_t kStart = (uint64_t{1} << 32) - 2000;
  struct Row {
    const char* what;
    HeldTarget held;
    uint32_t share;     // of the holder's handle
    uint64_t released;  // ms after the start, kNever: never
    bool read_only;
    WriteResult result;
    size_t pauses;                       // of 250 ms
    uint32_t move_error = 0;             // while held, else as the hold makes it
    bool attributes_unreadable = false;  // once the move has failed
    bool schedule_refused = false;
    bool restart_manager = true;             // false: none on this system (Windows XP)
    uint32_t error_once_released = 0;        // the rename's error once the holder let go
    const char* users_may_change = nullptr;  // a folder standard users may change
  } rows[] = {
      {"asked to quit, lets go after 3 s", HeldTarget::kWaitForRelease, platform::kFileShareRead,
       3000, false, WriteResult::kWritten, 12},
      {"asked to quit, held sharing reading and writing, lets go after 1 s",
       HeldTarget::kWaitForRelease, platform::kFileShareRead | platform::kFileShareWrite, 1000,
       false, WriteResult::kWritten, 4},
      {"asked to quit, never lets go", HeldTarget::kWaitForRelease, platform::kFileShareRead,
       kNever, false, WriteResult::kFailed, 60},
      {"asked to quit, read-only file", HeldTarget::kWaitForRelease, platform::kFileShareRead, 0,
       true, WriteResult::kFailed, 0},
      {"not asked: fails at once", HeldTarget::kFail, platform::kFileShareRead, 1000, false,
       WriteResult::kFailed, 0},
      {"asked to quit, a sharing violation", HeldTarget::kWaitForRelease, platform::kFileShareRead,
       1000, false, WriteResult::kWritten, 4, platform::kErrorSharingViolation},
      {"asked to quit, a lock violation", HeldTarget::kWaitForRelease, platform::kFileShareRead,
       1000, false, WriteResult::kWritten, 4, platform::kErrorLockViolation},
      {"asked to quit, a mapped file", HeldTarget::kWaitForRelease, platform::kFileShareRead, 1000,
       false, WriteResult::kWritten, 4, platform::kErrorUserMappedFile},
      {"asked to quit, a full disk is no hold", HeldTarget::kWaitForRelease,
       platform::kFileShareRead, 1000, false, WriteResult::kFailed, 0, platform::kErrorDiskFull},
      {"asked to quit, access denied, attributes unreadable", HeldTarget::kWaitForRelease,
       platform::kFileShareRead, 2000, false, WriteResult::kWritten, 8, 0, true},
      {"nobody to tell, not asked: replaced at the restart", HeldTarget::kReplaceAtRestart,
       platform::kFileShareRead, kNever, false, WriteResult::kScheduled, 0},
      {"nobody to tell, asked, never lets go: replaced at the restart after 15 s",
       HeldTarget::kWaitThenReplaceAtRestart, platform::kFileShareRead, kNever, false,
       WriteResult::kScheduled, 60},
      {"nobody to tell, read-only file: nothing scheduled", HeldTarget::kReplaceAtRestart,
       platform::kFileShareRead, kNever, true, WriteResult::kFailed, 0},
      {"nobody to tell, the restart's rename refused", HeldTarget::kReplaceAtRestart,
       platform::kFileShareRead, kNever, false, WriteResult::kFailed, 0, 0, false, true},
      {"nobody to tell, no Restart Manager to name the holder", HeldTarget::kReplaceAtRestart,
       platform::kFileShareRead, kNever, false, WriteResult::kScheduled, 0, 0, false, false, false},
      {"asked to quit, lets go and the disk is full then: no more waiting",
       HeldTarget::kWaitForRelease, platform::kFileShareRead, 1000, false, WriteResult::kFailed, 4,
       0, false, false, true, platform::kErrorDiskFull},
      {"nobody to tell, a folder standard users may change: nothing queued",
       HeldTarget::kReplaceAtRestart, platform::kFileShareRead, kNever, false, WriteResult::kFailed,
       0, 0, false, false, true, 0, "C:\\Lexoria"},
      {"nobody to tell, a drive whose root users may delete entries of: nothing queued",
       HeldTarget::kReplaceAtRestart, platform::kFileShareRead, kNever, false, WriteResult::kFailed,
       0, 0, false, false, true, 0, "C:\\"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.files.AddDirectory("C:\\Lexoria");
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(1039),
                       row.read_only ? platform::kFileAttributeReadonly : 0);
    fake.files.HoldOpen(kTarget, platform::kGenericRead, row.share);
    fake.files.DenyMoves(row.move_error);
    fake.files.delayed_moves_fail = row.schedule_refused;
    fake.restart_manager.present = row.restart_manager;
    fake.restart_manager.holders = {{4242, u"Lexoria", 1}, {77, u"", 2}};
    if (row.users_may_change) {
      fake.files.SetSecurity(row.users_may_change, FakeFileSystem::UsersMay(0x1301FF));
    }
    // How Windows keeps the rename: "\??\" paths, "!" for one that replaces.
    static constexpr char kQueued[] =
        "\\??\\C:\\Lexoria\\~lxrq.pak\0!\\??\\C:\\Lexoria\\lxrq.pak\0";
    const std::string queued(kQueued, sizeof(kQueued));
    const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    ctx_.Record.notes.clear();
    fake.files.on_call = [&](const std::string& call) {
      if (row.attributes_unreadable && call.rfind("SetFileRenameInfo", 0) == 0) {
        fake.files.DenyAttributes(kTarget);
      }
    };
    fake.clock.now_ms = kStart;
    fake.clock.on_sleep = [&](uint64_t now_ms) {
      if (now_ms - kStart < row.released) return;
      fake.files.ReleaseHolds(kTarget);
      fake.files.DenyMoves(row.error_once_released);
    };
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    EXPECT_EQ(ExtractInto(s, "lxrq", "pak", kTarget, /*check=*/true, row.held), row.result);

    EXPECT_EQ(fake.clock.sleeps, std::vector<uint32_t>(row.pauses, 250));
    EXPECT_EQ(fake.dialogs.calls().size(), row.result == WriteResult::kFailed ? 1u : 0u);
    if (row.result == WriteResult::kWritten) {
      EXPECT_EQ(fake.files.Content(kTarget), Package(1040));
      EXPECT_FALSE(fake.files.Exists(kTemp));
    } else if (row.result == WriteResult::kScheduled) {
      EXPECT_EQ(fake.files.Content(kTarget), Package(1039));
      EXPECT_EQ(fake.files.pending_renames.size(), 1u);
      const auto pending = fake.registry.GetValue(platform::kHkeyLocalMachine, kSessionManager,
                                                  "PendingFileRenameOperations");
      ASSERT_TRUE(pending.has_value());
      EXPECT_EQ(std::string(pending->data.begin(), pending->data.end()), queued);
      fake.files.Restart();
      EXPECT_EQ(fake.files.Content(kTarget), Package(1040));
      EXPECT_FALSE(fake.files.Exists(kTemp));
    } else {
      EXPECT_EQ(fake.dialogs.calls().at(0).text, kFailureEn);
      EXPECT_EQ(fake.files.Content(kTarget), Package(1039));
      EXPECT_FALSE(fake.files.Exists(kTemp)) << "no leftover for nothing";
      EXPECT_TRUE(fake.files.pending_renames.empty());
    }
    // Named whenever a hold refused the replacement, asked, never closed.
    const bool held = row.result != WriteResult::kWritten && !row.read_only &&
                      row.move_error != platform::kErrorDiskFull && row.restart_manager &&
                      row.error_once_released == 0;
    std::vector<std::u16string> named = {u"Held by Lexoria (process 4242, session 1).",
                                         u"Held by a program (process 77, session 2)."};
    if (row.users_may_change) {
      named.push_back(
          u"The package was not left for a replacement at the next restart: the installation "
          u"folder lets standard users change it, and the restart would rename what they put "
          u"there.");
    }
    EXPECT_EQ(ctx_.Record.notes, held ? named : std::vector<std::u16string>());
    EXPECT_EQ(fake.restart_manager.registered,
              held ? std::vector<std::u16string>{u"C:\\Lexoria\\lxrq.pak"}
                   : std::vector<std::u16string>());
    EXPECT_EQ(fake.restart_manager.open_sessions, 0);
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  }
}

// Tests a run that finds its replacement queued for the restart by an earlier
// run: the "~" file that holds this package byte for byte is kept, never
// written again, another is written again under its name; where the target
// is free now it is replaced at once, else the "~" file stays, also where
// the run shows its failure, and the rename is queued no second time.
TEST_F(ExtractTest, AQueuedReplacementSurvivesALaterRun) {
  struct Row {
    const char* what;
    bool same;  // the "~" file holds the carried package
    HeldTarget held;
    bool holder;  // another program still holds the target
    WriteResult result;
  } rows[] = {
      {"the same package, still held, nobody to tell", true, HeldTarget::kReplaceAtRestart, true,
       WriteResult::kScheduled},
      {"another package, still held, nobody to tell", false, HeldTarget::kReplaceAtRestart, true,
       WriteResult::kScheduled},
      {"the same package, still held, someone to tell", true, HeldTarget::kFail, true,
       WriteResult::kFailed},
      {"the same package, free now", true, HeldTarget::kFail, false, WriteResult::kWritten},
  };
  static constexpr char kQueued[] = "\\??\\C:\\Lexoria\\~lxrq.pak\0!\\??\\C:\\Lexoria\\lxrq.pak\0";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(1039));
    fake.files.AddFile(kTemp, row.same ? Package(1040) : Package(1038));
    fake.registry.SetValue(platform::kHkeyLocalMachine,
                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations", platform::kRegMultiSz,
                           std::vector<uint8_t>(kQueued, kQueued + sizeof(kQueued)));
    if (row.holder) fake.files.HoldOpen(kTarget, platform::kGenericRead, platform::kFileShareRead);
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    int32_t version = 0;
    const PinnedFolder folder(fake.os, "C:\\Lexoria\\");
    EXPECT_EQ(ExtractResourceToFile(s, folder, "lxrq", "pak", kTarget, /*check=*/true, row.held,
                                    &version),
              row.result);

    EXPECT_EQ(version, 1040) << "the version the folder holds once the rename is done";
    EXPECT_TRUE(fake.files.pending_renames.empty()) << "queued no second time";
    EXPECT_EQ(fake.dialogs.calls().size(), row.result == WriteResult::kFailed ? 1u : 0u);
    size_t creates = 0;
    for (const std::string& call : fake.files.Calls()) creates += call.ends_with("disposition=1");
    EXPECT_EQ(creates, row.same ? 0u : 1u);
    if (row.holder) {
      EXPECT_EQ(fake.files.Content(kTemp), Package(1040));
      fake.files.Restart();
    } else {
      EXPECT_FALSE(fake.files.Exists(kTemp));
    }
    EXPECT_EQ(fake.files.Content(kTarget), Package(1040));
  }
}

// Tests the order of the compare-and-replace path as the system sees it:
// whatever stood at the "~" name opened as itself and deleted through that
// handle, the "~" file created new with its own security, written and
// flushed, the installed file's version read sharing reading only, then the
// "~" file renamed over it through the same one handle, never opened again
// (its version comes from the bytes written); and the same without an
// installed file, or with the check clear, or for a type outside the table:
// no version read, and a rename that replaces nothing where nothing was.
TEST_F(ExtractTest, OneHandleFromTheCreationToTheRename) {
  struct Row {
    const char* what;
    bool check;
    std::string type;
    bool installed;
    bool leftover;
    std::string name = "x";
  } rows[] = {
      {"compared, over a leftover", true, "pak", true, true},
      {"a name outside ASCII, through the code page", true, "pak", true, false, "пакет"},
      {"no installed file", true, "pak", false, false},
      {"check clear over a newer file", false, "pak", true, false},
      {"a type outside the table", true, "dat", true, false},
      {"type compared case-sensitively", true, "PAK", true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    const std::string target = "C:\\Lexoria\\" + row.name + "." + LowerAsciiLetters(row.type);
    const std::string temp = "C:\\Lexoria\\~" + row.name + "." + LowerAsciiLetters(row.type);
    fake.resources.Add("x", row.type, Package(1040));
    fake.files.AddDirectory("C:\\Lexoria");
    if (row.installed) fake.files.AddFile(target, Package(row.check ? 1039 : 2000));
    if (row.leftover) fake.files.AddFile(temp, Bytes("left by an earlier run, or planted"));
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};
    const PinnedFolder folder(fake.os, "C:\\Lexoria\\");
    const size_t before = fake.files.Calls().size();

    int32_t version = 0;
    EXPECT_EQ(ExtractResourceToFile(s, folder, "x", row.type, target, row.check, HeldTarget::kFail,
                                    &version),
              WriteResult::kWritten);

    EXPECT_TRUE(fake.dialogs.calls().empty());
    EXPECT_EQ(fake.files.Content(target), Package(1040));
    EXPECT_EQ(version, row.type == "pak" ? 1040 : -1);
    EXPECT_EQ(fake.files.SecurityDescriptorOf(target), NewFile::kSecurityDescriptor);
    std::vector<std::string> calls = {
        "CreateFileA " + temp + " access=65920 share=7 disposition=3",
        "SetFileDispositionInfo " + temp,
        "CreateFileA " + temp + " access=1074855936 share=1 disposition=1",
        "FlushFileBuffers " + temp,
        "CreateFileA " + target + " access=2147483648 share=1 disposition=3",
        "SetFileRenameInfo " + temp + " -> \\??\\" + target};
    if (!row.leftover) calls.erase(calls.begin() + 1);
    if (!(row.check && row.installed && row.type == "pak")) calls.erase(calls.end() - 2);
    EXPECT_EQ(
        std::vector<std::string>(fake.files.Calls().begin() + before, fake.files.Calls().end()),
        calls);
    EXPECT_EQ(fake.files.OpenHandleCount(), 1u) << "only the folder is held";
  }
}

// Tests what a user may have planted at the name the package is written to
// ("~" file, or a target written directly): a link is removed as the link,
// never what it points to, a read-only leftover is replaced; a real folder,
// a read-only file with another name and a name that leads out of the
// folder are left alone, attributes and all, and fail the write; a link that
// cannot be removed (or comes back) makes the creation fail rather than be
// followed.
TEST_F(ExtractTest, WhateverStandsAtTheNameIsRemovedAsItself) {
  static constexpr char kOutside[] = "C:\\Windows\\settings.dat";
  static constexpr char kDangling[] = "C:\\Windows\\evil.dll";
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> plant;
    bool check;  // false: the target is written directly
    bool written;
  } rows[] = {
      {"a junction to a folder", [](FakePlatform& f) { f.files.AddJunction(kTemp, "C:\\Windows"); },
       true, true},
      {"a file link", [](FakePlatform& f) { f.files.AddFileLink(kTemp, kOutside); }, true, true},
      {"a dangling file link", [](FakePlatform& f) { f.files.AddFileLink(kTemp, kDangling); }, true,
       true},
      {"a dangling link that stays",
       [](FakePlatform& f) {
         f.files.AddFileLink(kTemp, kDangling);
         f.files.DenyDelete(kTemp);
       },
       true, false},
      {"a read-only leftover",
       [](FakePlatform& f) {
         f.files.AddFile(kTemp, Bytes("x"), platform::kFileAttributeReadonly);
       },
       true, true},
      {"a real folder", [](FakePlatform& f) { f.files.AddFile(std::string(kTemp) + "\\x", "x"); },
       true, false},
      {"a read-only file with a second name (a hard link a user made)",
       [](FakePlatform& f) {
         f.files.AddFile(kTemp, Bytes("x"), platform::kFileAttributeReadonly);
         f.files.SetLinkCount(kTemp, 2);
       },
       true, false},
      {"a name the open follows out of the folder (an object manager's link)",
       [](FakePlatform& f) {
         f.files.AddFile(kTemp, Bytes("x"));
         f.files.SetFinalPath(kTemp, u"\\\\?\\C:\\Windows\\settings.dat");
       },
       true, false},
      {"a dangling link at a target written directly",
       [](FakePlatform& f) { f.files.AddFileLink(kTarget, kDangling); }, false, true},
      {"a leftover named in capitals",
       [](FakePlatform& f) { f.files.AddFile("C:\\Lexoria\\~LXRQ.PAK", Bytes("x")); }, true, true},
      {"a read-only leftover that is hidden, system and not indexed as well",
       [](FakePlatform& f) {
         f.files.AddFile(kTemp, Bytes("x"),
                         platform::kFileAttributeReadonly | platform::kFileAttributeHidden |
                             platform::kFileAttributeSystem | 0x2000);
       },
       true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddDirectory("C:\\Lexoria");
    fake.files.AddFile(kOutside, "system");
    if (row.check) fake.files.AddFile(kTarget, Package(1039));
    row.plant(fake);
    const uint32_t planted = fake.files.GetFileAttributesA(kTemp);
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    EXPECT_EQ(ExtractInto(s, "lxrq", "pak", kTarget, row.check),
              row.written ? WriteResult::kWritten : WriteResult::kFailed);
    if (!row.written) {
      EXPECT_EQ(fake.files.GetFileAttributesA(kTemp), planted) << "left alone";
    }

    EXPECT_EQ(fake.files.ContentText(kOutside), "system");
    EXPECT_FALSE(fake.files.Exists(kDangling));
    EXPECT_EQ(fake.files.Content(kTarget), Package(row.written ? 1040 : 1039));
    EXPECT_EQ(fake.files.GetFileAttributesA(kTemp) != platform::kInvalidFileAttributes,
              !row.written && planted != platform::kInvalidFileAttributes)
        << "what could not be removed stays, and only that";
  }
}

// Tests that the installation folder is taken as the flow takes it: name by
// name, each held, a link followed only where nobody but the trusted
// accounts may change or remove it (nor the links its target goes through);
// every write goes under the folder's final path. A folder that cannot be
// opened as one, whose final path is on no drive or lies outside the code
// page, or whose links may be a standard user's, is refused before anything
// is written; a rename of the folder, of one above it or of a link on the way
// fails while it is held. Without final paths (Windows XP) a folder reached
// through a link is refused. As Wine, where the open of a link opens its
// target, the folder it leads to and every one above it must be fixed.
TEST_F(ExtractTest, InstallationFolderIsTakenAndHeld) {
  static constexpr char kDir[] = "C:\\Apps\\Lexoria";
  static constexpr char kReal[] = "D:\\Lexoria";
  // The system gives `final` as the final path of what is opened at `path`.
  const auto final_path = [](std::string path, std::u16string final) {
    return [=](FakePlatform& f) { f.files.SetFinalPath(path, final); };
  };
  // kDir is a junction to kReal (which holds version 1039), with `security`.
  const auto junction = [](platform::FileSecurity security = FakeFileSystem::AdministratorsOnly()) {
    return [=](FakePlatform& f) {
      f.files.AddFile(std::string(kReal) + "\\lxrq.pak", Package(1039));
      f.files.RemoveDirectoryA(std::string(kDir) + "\\lxrq.pak");
      f.files.DeleteFileA(std::string(kDir) + "\\lxrq.pak");
      f.files.RemoveDirectoryA(kDir);
      f.files.AddJunction(kDir, kReal);
      f.files.SetSecurity(kDir, security);
    };
  };
  platform::FileSecurity user_owned = FakeFileSystem::AdministratorsOnly();
  user_owned.owner = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                      0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0};
  struct Row {
    const char* what;
    std::function<void(FakePlatform&)> arrange;
    bool written;  // the folder was taken, and the package written into it
    const char* lands_in = kDir;
    bool taken = true;  // the folder was taken
    const char* dir = kDir;
  } rows[] = {
      {"a plain folder", [](FakePlatform&) {}, true},
      {"renamed away, a junction into the object manager's namespace in its place",
       [](FakePlatform& f) {
         f.files.MoveFileExA(kDir, "C:\\Apps\\Old", 0);
         f.files.AddJunction(kDir, "\\RPC Control");
       },
       false, "C:\\Apps\\Old", false},
      {"a final path in the object manager's namespace",
       final_path(kDir, u"\\\\?\\GLOBALROOT\\RPC Control"), false, kDir, false},
      {"a final path on a volume without a drive letter",
       final_path(kDir, u"\\\\?\\Volume{1234}\\Lexoria"), false, kDir, false},
      {"a final path outside the code page", final_path(kDir, u"\\\\?\\C:\\Apps\\\u4E2D"), false,
       kDir, false},
      {"the folder, the one above and the link on the way renamed while written (all refused)",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.on_call = [&f](const std::string& call) {
           if (call.find("disposition=1") == std::string::npos) return;
           EXPECT_FALSE(f.files.MoveFileExA(kReal, "D:\\Old", 0));
           EXPECT_FALSE(f.files.RemoveDirectoryA(kDir)) << "the junction is held";
           EXPECT_FALSE(f.files.MoveFileExA("C:\\Apps", "C:\\Old", 0));
         };
       },
       true, kReal},
      {"an administrator's junction to the real folder", junction(), true, kReal},
      {"a junction standard users may remove", junction(FakeFileSystem::UsersMay()), false, kReal,
       false},
      {"a junction a standard user owns", junction(user_owned), false, kReal, false},
      {"a junction whose security cannot be read",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.DenySecurity(kDir);
       },
       false, kReal, false},
      {"a junction in a folder standard users may delete entries of",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.SetSecurity("C:\\Apps", FakeFileSystem::UsersMay(0x1301FF));
       },
       false, kReal, false},
      {"an administrator's junction whose target a standard user replaced by a junction",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.MoveFileExA(kReal, "D:\\Moved", 0);
         f.files.AddDirectory("E:\\Lexoria");
         f.files.AddJunction(kReal, "E:\\Lexoria");
         f.files.SetSecurity(kReal, FakeFileSystem::UsersMay());
       },
       false, "D:\\Moved", false},
      {"Wine: an administrator's link to a folder nobody else may remove",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.opens_follow_links = true;
       },
       true, kReal},
      {"Wine: a link to a folder standard users may remove",
       [&](FakePlatform& f) {
         junction()(f);
         f.files.opens_follow_links = true;
         f.files.SetSecurity(kReal, FakeFileSystem::UsersMay());
       },
       false, kReal, false},
      {"a folder on a share",
       [](FakePlatform& f) { f.files.AddFile("\\\\srv\\apps\\Lexoria\\lxrq.pak", Package(1039)); },
       true, "\\\\srv\\apps\\Lexoria", true, "\\\\srv\\apps\\Lexoria"},
      {"a folder named outside ASCII",
       [](FakePlatform& f) { f.files.AddFile("C:\\Программы\\Lexoria\\lxrq.pak", Package(1039)); },
       true, "C:\\Программы\\Lexoria", true, "C:\\Программы\\Lexoria"},
      {"the new file's name leads out of the folder once created",
       final_path(std::string(kDir) + "\\~lxrq.pak", u"\\\\?\\C:\\Windows\\x.dll"), false},
      {"Windows XP, a plain folder",
       [](FakePlatform& f) { f.files.final_paths_unsupported = true; }, true},
      {"Windows XP, a folder above that is a junction",
       [](FakePlatform& f) {
         f.files.final_paths_unsupported = true;
         f.files.AddFile(std::string(kReal) + "\\lxrq.pak", Package(1039));
         f.files.RemoveDirectoryA(kDir);
         f.files.RemoveDirectoryA("C:\\Apps");
         f.files.AddJunction("C:\\Apps", "D:\\");
       },
       false, kReal, false},
      {"Windows XP, a drive whose attributes cannot be read",
       [](FakePlatform& f) {
         f.files.final_paths_unsupported = true;
         f.files.DenyAttributes("C:\\");
       },
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddDirectory("C:\\Windows");
    fake.files.AddFile(std::string(kDir) + "\\lxrq.pak", Package(1039));
    row.arrange(fake);
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};

    bool taken = false;
    WriteResult result = WriteResult::kFailed;
    try {
      const PinnedFolder folder(fake.os, std::string(row.dir) + "\\");
      taken = true;
      result = ExtractResourceToFile(s, folder, "lxrq", "pak", std::string(row.dir) + "\\lxrq.pak",
                                     /*check=*/true);
      fake.files.on_call = nullptr;
    } catch (const FolderRefused&) {
    } catch (const FolderMissing&) {
      ADD_FAILURE() << "no folder found";
    }

    fake.files.on_call = nullptr;
    EXPECT_EQ(taken, row.taken);
    EXPECT_EQ(result, row.written ? WriteResult::kWritten : WriteResult::kFailed);
    EXPECT_EQ(fake.dialogs.calls().size(), taken && !row.written ? 1u : 0u);
    EXPECT_EQ(fake.files.Content(std::string(row.lands_in) + "\\lxrq.pak"),
              Package(row.written ? 1040 : 1039));
    size_t creates = 0;
    for (const std::string& call : fake.files.Calls()) creates += call.ends_with("disposition=1");
    EXPECT_EQ(creates, row.taken ? 1u : 0u);
    EXPECT_TRUE(fake.files.List("C:\\Windows").empty());
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  }
}

// Tests that a directory at the target path is not replaced: the write fails
// with the message and the directory stays.
TEST_F(ExtractTest, DirectoryAtTheTargetFails) {
  fake_.files.AddDirectory(kTarget);
  Extract();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, kFailureEn);
  EXPECT_TRUE(fake_.files.IsDirectory(kTarget));
}

// Tests that a language file with "!" in its path is replaced without either
// version being read.
TEST_F(ExtractTest, LanguageFileWithExclamationMarkIsNotCompared) {
  const std::string target = "C:\\Lexoria\\language\\!english.lng";
  fake_.resources.Add("lang", "lng", Bytes("[langver]\r\n1\r\n"));
  fake_.files.AddFile(target, "[langver]\r\n99\r\n");
  ExtractInto(s_, "lang", "lng", target, /*check=*/true);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(fake_.files.ContentText(target), "[langver]\r\n1\r\n");
  EXPECT_FALSE(Opened(target)) << "the installed file is never opened";
  for (const std::string& call : fake_.files.Calls()) {
    EXPECT_THAT(call, ::testing::Not(::testing::HasSubstr("access=2147483648 share=1")));
  }
}

// Tests that an unreadable language-file version shows the reader's message
// and goes on with 0: the installed file is replaced without a question.
TEST_F(ExtractTest, UnreadableLanguageVersionShowsItsMessageAndGoesOn) {
  const std::string target = "C:\\Lexoria\\language\\english.lng";
  fake_.resources.Add("lang", "lng", Bytes("[langver]\r\n5\r\n"));
  fake_.files.AddFile(target, "[langver]\r\nfive\r\n");
  ExtractInto(s_, "lang", "lng", target, /*check=*/true);
  EXPECT_THAT(BoxTexts(),
              ::testing::ElementsAre(
                  u"Can't handle the language support file C:\\Lexoria\\language\\english.lng"));
  EXPECT_EQ(fake_.files.ContentText(target), "[langver]\r\n5\r\n");
}

// Tests the three variants of the older-version question, byte for byte.
TEST_F(ExtractTest, QuestionVariants) {
  const std::u16string english =
      u"C:\\Lexoria\\lxrq.pak file installing is of older version\r\n"
      "than the same already installed.\r\n\r\n"
      "Do you really want to replace existing\r\n"
      "new file version 1041 with an older file version 1040?";
  const std::u16string russian =
      u"Устанавливаемый файл C:\\Lexoria\\lxrq.pak\r\n"
      "более старой версии, чем уже установленный.\r\n\r\n"
      "Действительно ли Вы хотите заменить уже имеющийся\r\n"
      "файл версии 1041 на более старый версии 1040?";
  struct Row {
    const char* what;
    bool russian_ui;
    bool language_file;
    BoxCall expected;
  } rows[] = {
      {"English",
       false,
       false,
       {"MessageBoxW", 0, english, u"Sound question", 0x00042024, std::nullopt}},
      {"Russian",
       true,
       false,
       {"MessageBoxExW", 0, russian, u"Резонный вопрос", 0x00042024, uint16_t{25}}},
      {"language file",
       true,
       true,
       {"MessageBoxExW", 0, u"Файл C:\\Lexoria\\lxrq.pak новее; %2 заменить?", u"Вопрос",
        0x00042024, uint16_t{0x0407}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(1041));
    SetupContext ctx;
    ctx.InstallDir = "C:\\Lexoria\\";
    ctx.RussianUi = row.russian_ui;
    LangUnit lang;
    if (row.language_file) {
      fake.files.AddFile("C:\\Lexoria\\language\\german.lng",
                         "[soundquest]\r\nВопрос\r\n\r\n"
                         "[olderfilever]\r\nФайл %1 новее; %2 заменить?\r\n");
      lang.LanguageFileNames = {"german.lng"};
      ctx.LanguageIndex = 0;
      ctx.MessageLanguageId = 0x00010407;
    }
    ProgressWindow progress(fake.os);
    Services s{ctx, fake.os, progress, lang};
    ExtractInto(s, "lxrq", "pak", kTarget, /*check=*/true);
    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.function, row.expected.function);
    EXPECT_EQ(box.owner, 0u);
    EXPECT_EQ(box.text, row.expected.text);
    EXPECT_EQ(box.caption, row.expected.caption);
    EXPECT_EQ(box.type, row.expected.type);
    EXPECT_EQ(box.language, row.expected.language);
  }
}

// A 32-bit executable's image whose only resource is a version resource
// with FileVersion `version` for the translation 0419/04E3, as a linker lays
// it out: one section, the resource tree type 16 / name 1 / language 0419.
std::vector<uint8_t> ExeImage(const std::string& version) {
  std::vector<uint8_t> image(0x200, 0);
  const auto put16 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  const auto put32 = [&](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
  };
  // A block: length, value length, type, key, value, children, 4-aligned.
  const auto block = [&](const std::string& key, const std::vector<uint8_t>& value,
                         uint16_t value_length, uint16_t type,
                         const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> b(6, 0);
    for (char c : key) b.insert(b.end(), {static_cast<uint8_t>(c), 0});
    b.insert(b.end(), {0, 0});
    b.resize((b.size() + 3) & ~size_t{3});
    b.insert(b.end(), value.begin(), value.end());
    for (const auto& child : children) {
      b.resize((b.size() + 3) & ~size_t{3});
      b.insert(b.end(), child.begin(), child.end());
    }
    put16(b, 0, static_cast<uint32_t>(b.size()));
    put16(b, 2, value_length);
    put16(b, 4, type);
    return b;
  };
  std::vector<uint8_t> text;
  for (char c : version) text.insert(text.end(), {static_cast<uint8_t>(c), 0});
  text.insert(text.end(), {0, 0});
  const std::vector<uint8_t> info = block(
      "VS_VERSION_INFO", std::vector<uint8_t>(52, 0), 52, 0,
      {block(
           "StringFileInfo", {}, 0, 1,
           {block("041904e3", {}, 0, 1,
                  {block("FileVersion", text, static_cast<uint16_t>(version.size() + 1), 1, {})})}),
       block("VarFileInfo", {}, 0, 1, {block("Translation", {0x19, 0x04, 0xE3, 0x04}, 4, 0, {})})});
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3C, 0x40);
  put32(image, 0x40, 0x4550);        // "PE\0\0"
  put16(image, 0x46, 1);             // one section
  put16(image, 0x54, 0xE0);          // SizeOfOptionalHeader
  put16(image, 0x58, 0x10B);         // PE32
  put32(image, 0x58 + 92, 16);       // NumberOfRvaAndSizes
  put32(image, 0x58 + 112, 0x1000);  // the resource table
  const size_t section = 0x58 + 0xE0;
  std::vector<uint8_t> tree(0x58, 0);
  put16(tree, 14, 1);
  put32(tree, 16, 16);
  put32(tree, 20, 0x80000018);
  put16(tree, 0x18 + 14, 1);
  put32(tree, 0x18 + 16, 1);
  put32(tree, 0x18 + 20, 0x80000030);
  put16(tree, 0x30 + 14, 1);
  put32(tree, 0x30 + 16, 0x419);
  put32(tree, 0x30 + 20, 0x48);
  put32(tree, 0x48, 0x1058);
  put32(tree, 0x4C, static_cast<uint32_t>(info.size()));
  tree.insert(tree.end(), info.begin(), info.end());
  put32(image, section + 8, static_cast<uint32_t>(tree.size()));   // VirtualSize
  put32(image, section + 12, 0x1000);                              // VirtualAddress
  put32(image, section + 16, static_cast<uint32_t>(tree.size()));  // SizeOfRawData
  put32(image, section + 20, 0x200);                               // PointerToRawData
  image.insert(image.end(), tree.begin(), tree.end());
  return image;
}

// Tests that the "exe" type compares FileVersion texts, the new one read from
// the image it is written from, and shows them in the question; an installed
// file without a version is replaced silently; and that an image cut short
// has no version (asked about, as any older one).
TEST_F(ExtractTest, ExecutablesCompareFileVersionTexts) {
  struct Row {
    const char* what;
    std::string new_version, installed_version;
    bool asks;
    size_t cut = 0;  // bytes of the new image left out at its end
  } rows[] = {
      {"installed newer", "1.2.3.4", "1.2.3.5", true},
      {"installed older", "1.2.3.5", "1.2.3.4", false},
      {"equal texts", "2.0", "2.0", false},
      {"installed without version", "1.0.0.0", "", false},
      {"a new image cut inside its version resource", "1.2.3.9", "1.2.3.5", true, 30},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    const std::string target = "C:\\Lexoria\\Tool.exe";
    std::vector<uint8_t> image = ExeImage(row.new_version);
    image.resize(image.size() - row.cut);
    fake.resources.Add("tool", "exe", image);
    fake.files.AddFile(target, "MZ old");
    fake.versions.AddExecutable(target);
    if (!row.installed_version.empty()) {
      fake.versions.SetTranslations(target, {0x04E30419});
      fake.versions.SetString(target, "\\StringFileInfo\\041904e3\\FileVersion",
                              row.installed_version);
    }
    fake.dialogs.default_answer = platform::kIdYes;
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};
    ExtractInto(s, "tool", "exe", target, /*check=*/true);
    ASSERT_EQ(fake.dialogs.calls().size(), row.asks ? 1u : 0u);
    if (row.asks) {
      EXPECT_THAT(testing::Utf16ToUtf8(fake.dialogs.calls()[0].text),
                  ::testing::HasSubstr("new file version " + row.installed_version +
                                       " with an older file version " +
                                       (row.cut ? "" : row.new_version) + "?"));
    }
    EXPECT_EQ(fake.files.Content(target), image);
  }
}

// Tests the progress window around the question: hidden before it, shown
// (started) with empty texts after it whatever the answer, and not shown when
// the replacement after Yes fails or when no question was asked.
TEST_F(ExtractTest, ProgressWindowAroundTheQuestion) {
  struct Row {
    const char* what;
    uint16_t installed;
    int answer;
    bool deny_moves;
    bool shown_after;
  } rows[] = {
      {"Yes", 1041, platform::kIdYes, false, true},
      {"No", 1041, platform::kIdNo, false, true},
      {"Yes, then the move fails", 1041, platform::kIdYes, true, false},
      {"no question", 1039, platform::kIdYes, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.resources.Add("LXRQ", "PAK", Package(1040));
    fake.files.AddFile(kTarget, Package(row.installed));
    if (row.deny_moves) fake.files.DenyMoves();
    fake.dialogs.Answer(row.answer);
    size_t hides_at_question = 0;
    int threads_at_question = -1;
    fake.dialogs.on_box = [&](const BoxCall&) {
      if (threads_at_question == -1) {
        hides_at_question = fake.gui.WindowPosCalls().size();
        threads_at_question = fake.gui.ThreadsStarted();
      }
    };
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};
    ExtractInto(s, "lxrq", "pak", kTarget, /*check=*/true);
    if (row.installed > 1040) {
      EXPECT_EQ(hides_at_question, 1u) << "hidden before the question";
      EXPECT_EQ(fake.gui.WindowPosCalls()[0].flags, 0x80u);
      EXPECT_EQ(threads_at_question, 0);
    } else {
      EXPECT_TRUE(fake.gui.WindowPosCalls().empty());
    }
    EXPECT_EQ(progress.ProgressWindowExists(), row.shown_after);
    if (row.shown_after) {
      const auto window = fake.gui.WindowOfClass(u"PlainWindow");
      ASSERT_TRUE(window.has_value());
      EXPECT_EQ(window->text, u"");
      EXPECT_TRUE(window->visible);
      EXPECT_EQ(fake.gui.WindowOfClass(u"STATIC")->text, u"");
    }
  }
}

// Tests that a failure of the progress window coming back after a replace
// is not taken for a failed install: no "Can't install file", the file is in
// place, and the failure leaves to the caller.
TEST_F(ExtractTest, ProgressWindowFailureAfterTheReplaceLeavesUnreported) {
  fake_.files.AddFile(kTarget, Package(1041));
  fake_.dialogs.Answer(platform::kIdYes);
  fake_.gui.create_thread_throws = true;
  EXPECT_THROW(Extract(), std::bad_alloc);
  EXPECT_EQ(Boxes().size(), 1u) << "only the question";
  EXPECT_EQ(fake_.files.Content(kTarget), Package(1040));
  EXPECT_FALSE(fake_.files.Exists(kTemp));
  ExpectNothingLeftOpen();
}

// Tests that a large package goes out in blocks of a few MiB, never in one
// call, and arrives whole.
TEST_F(ExtractTest, WritesInBlocks) {
  const std::vector<uint8_t> big = Package(1040, 9 * 1024 * 1024 + 5);
  fake_.resources.Add("LXRQ", "PAK", big);
  fake_.files.LimitSingleWrite(4 * 1024 * 1024);
  Extract();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(fake_.files.Content(kTarget), big);
  EXPECT_LE(fake_.files.LargestWrite(), 4u * 1024 * 1024);
  ExpectNothingLeftOpen();
}

// Tests that a single write larger than the system takes fails cleanly: the
// message, and no partial file.
TEST_F(ExtractTest, RefusedBlockWriteRemovesThePartialFile) {
  fake_.resources.Add("LXRQ", "PAK", Package(1040, 6 * 1024 * 1024));
  fake_.files.LimitSingleWrite(1024 * 1024);
  Extract();
  EXPECT_THAT(BoxTexts(), ::testing::ElementsAre(kFailureEn));
  EXPECT_FALSE(fake_.files.Exists(kTarget));
}

// Tests the temporary names, including the ones at the edges.
TEST(MakeTempFileNameTest, InsertsTheTildeBeforeTheFileName) {
  struct Row {
    std::string path, expected;
  } rows[] = {
      {"D:\\Data\\lxrq.pak", "D:\\Data\\~lxrq.pak"},
      {"lxrq.pak", "~lxrq.pak"},
      {"", "~"},
      {"D:\\a\\", "D:\\~a\\"},
      {"\\", "~\\"},
      {"\\x", "\\~x"},
      {"C:\\Program Files\\Lexoria\\lxrq.pak", "C:\\Program Files\\Lexoria\\~lxrq.pak"},
      {"C:/a/b.pak", "~C:/a/b.pak"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MakeTempFileName(row.path), row.expected) << row.path;
  }
}

class JoinResourcesTest : public ExtractTest {};

// Tests that the join writes the first resource, then the second, directly
// to the target, with no version check even over a newer file.
TEST_F(JoinResourcesTest, JoinsTwoResources) {
  fake_.resources.Add("lxq1", "pak", Package(1040, 100));
  fake_.resources.Add("LXQ2", "PAK", Bytes("tail"));
  fake_.files.AddFile("C:\\Lexoria\\lxq.pak", Package(5000));
  EXPECT_EQ(JoinInto(s_, "lxq", "pak", "C:\\Lexoria\\lxq.pak"), WriteResult::kWritten);
  std::vector<uint8_t> expected = Package(1040, 100);
  for (char c : std::string("tail")) expected.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(fake_.files.Content("C:\\Lexoria\\lxq.pak"), expected);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(fake_.files.Exists("C:\\Lexoria\\~lxq.pak"));
  ExpectNothingLeftOpen();
}

// Tests the join's failures: the message names the target and no file is
// left behind.
TEST_F(JoinResourcesTest, FailuresShowTheMessage) {
  struct Row {
    const char* what;
    bool second_present;
    BufferMemory* memory;
    uint64_t free_space;
  } rows[] = {
      {"second part missing", false, &HeapMemory(), 1 << 20},
      {"memory exhausted", true, &no_memory, 1 << 20},
      {"disk full", true, &HeapMemory(), 50},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    fake.files.AddDirectory("C:\\Lexoria");
    fake.files.SetFreeSpace(row.free_space, /*short_write_succeeds=*/true);
    fake.resources.Add("lxq1", "pak", Package(1040, 60));
    if (row.second_present) fake.resources.Add("lxq2", "pak", Package(1040, 60));
    ProgressWindow progress(fake.os);
    Services s{ctx_, fake.os, progress, lang_};
    EXPECT_EQ(JoinInto(s, "lxq", "pak", "C:\\Lexoria\\lxq.pak", *row.memory), WriteResult::kFailed);
    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    EXPECT_EQ(fake.dialogs.calls()[0].text, u"Can't install file C:\\Lexoria\\lxq.pak");
    EXPECT_FALSE(fake.files.Exists("C:\\Lexoria\\lxq.pak"));
    EXPECT_EQ(fake.resources.LoadedCount(), 0);
  }
}

}  // namespace
}  // namespace lexoria
