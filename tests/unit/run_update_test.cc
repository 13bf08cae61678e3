// The whole program on the fakes, one test per path through the update: the
// exact boxes (function, text bytes, caption, flags, language id), what was
// written, and the exit code.
#include "app/run_update.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/event_log_record.h"
#include "app/run_lock.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_utf.h"
#include "install/pe_checksum.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using testing::BoxCall;
using testing::FakePlatform;
using testing::View;

constexpr char kSetupPath[] = "C:\\Users\\u\\Downloads\\lexoria-update.exe";
constexpr char kInstallDir[] = "C:\\Program Files\\Lexoria\\";
constexpr char kPackagePath[] = "C:\\Program Files\\Lexoria\\lxrq.pak";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";
constexpr char kDetectionKey[] = "Software\\Orvane\\Lexoria Update";

constexpr char16_t kConfirmRu[] =
    u"Вы действительно хотите установить\r\nОбновление Lexoria -\r\n"
    "\"Озвучка русско-английских заданий\" версии 1040?";
constexpr char16_t kConfirmEn[] =
    u"Would you like to setup\r\nLexoria update -\r\n"
    "\"Озвучка русско-английских заданий\" версии 1040?";
constexpr char16_t kLaunch[] =
    u"На Ваш компьютер установлено\r\nОбновление Lexoria -\r\n"
    "\"Озвучка русско-английских заданий\" версии 1040\r\n\r\nЗапустить программу?";

std::vector<uint8_t> Package(uint16_t version, size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  data[6] = static_cast<uint8_t>(version & 0xFF);
  data[7] = static_cast<uint8_t>(version >> 8);
  return data;
}

// A small PE32 image with a correct checksum stamp (or a broken one).
std::vector<uint8_t> SetupImage(bool intact) {
  std::vector<uint8_t> image(0x400, 0);
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x80;
  image[0x80] = 'P';
  image[0x81] = 'E';
  image[0x84] = 0x4C;  // i386
  image[0x85] = 0x01;
  image[0x98] = 0x0B;  // PE32
  image[0x99] = 0x01;
  for (size_t i = 0x200; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  PeChecksum checksum;
  checksum.Update(image.data(), image.size());
  WritePeChecksumField(image.data(), image.size(), checksum.Finish()->computed);
  if (!intact) image[0x300] ^= 0x01;
  return image;
}

class RunUpdateTest : public ::testing::Test {
 protected:
  RunUpdateTest() { Reset(); }

  // A fresh machine with the setup downloaded and Lexoria not installed yet.
  void Reset() {
    other_run_.reset();
    fake_ = std::make_unique<FakePlatform>();
    fake_->system.module_path = kSetupPath;
    fake_->files.AddFile(kSetupPath, SetupImage(/*intact=*/true));
    fake_->resources.Add("LXRQ", "PAK", Package(1040, 4096));
    fake_->registry.SetString(platform::kHkeyLocalMachine,
                              "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                              "C:\\Program Files");
    fake_->app_link.FollowClock(fake_->clock);
  }

  void Install(uint16_t installed_version = 1039) {
    fake_->registry.SetString(platform::kHkeyLocalMachine, kUninstallKey, "UninstallString",
                              std::string(kInstallDir) + "unins000.exe", View::k64);
    fake_->files.AddFile(std::string(kInstallDir) + "Lexoria.exe", std::string(1024, 'x'));
    fake_->files.AddFile(kPackagePath, Package(installed_version, 2048));
  }

  void Arguments(const std::string& arguments) {
    fake_->system.command_line = std::string("\"") + kSetupPath + "\" " + arguments;
  }
  void Russian() { fake_->system.lcid = 0x0419; }

  int Run(const std::string& name = "lxrq") {
    return RunProgram(fake_->os, PackageConfig{DefaultPackageTitle(), name, 1040});
  }

  const std::vector<BoxCall>& Boxes() const { return fake_->dialogs.calls(); }
  bool PackageWritten() const { return fake_->files.Content(kPackagePath) == Package(1040, 4096); }
  std::optional<uint32_t> EstimatedSize() const { return EntryDword("EstimatedSize"); }
  // The version the installation folder holds, for management tools: the
  // same in the uninstall entry and in the setup's own key.
  std::optional<uint32_t> Detected() const {
    const std::optional<uint32_t> own = EntryDword("lxrq.pak", kDetectionKey);
    EXPECT_EQ(own, EntryDword("lxrq.pak"));
    return own;
  }
  std::optional<uint32_t> EntryDword(const char* name, const char* key = kUninstallKey) const {
    auto value = fake_->registry.GetValue(platform::kHkeyLocalMachine, key, name, View::k64);
    if (!value || value->type != platform::kRegDword || value->data.size() != 4) {
      return std::nullopt;
    }
    return value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
           (static_cast<uint32_t>(value->data[3]) << 24);
  }
  bool Launched() const { return !fake_->processes.shell_executed.empty(); }
  // The one record the run left in the event log.
  const testing::FakeEventLog::Record& Record() const {
    EXPECT_EQ(fake_->event_log.records.size(), 1u);
    EXPECT_EQ(fake_->event_log.open_sources, 0);
    return fake_->event_log.records.at(0);
  }

  static void ExpectBox(const BoxCall& box, const std::string& function, const std::u16string& text,
                        const std::u16string& caption, uint32_t flags,
                        std::optional<uint16_t> language) {
    EXPECT_EQ(box.function, function);
    EXPECT_EQ(box.owner, platform::kNullHandle);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.type, flags);
    EXPECT_EQ(box.language, language);
  }

  // As another process (2) with `groups` in its token, takes the run lock as
  // the setup does, and keeps it.
  void TakeLockAsProcessTwo(std::vector<platform::Sid> groups = {platform::kAdministratorsSid}) {
    std::swap(fake_->processes.token_groups, groups);
    fake_->processes.process = 2;
    other_run_ = std::make_unique<RunLock>(fake_->processes);
    fake_->processes.process = 1;
    std::swap(fake_->processes.token_groups, groups);
  }

  std::unique_ptr<FakePlatform> fake_;
  std::unique_ptr<RunLock> other_run_;
};

// Tests the typical run in Russian: confirmation, package replaced, size
// recorded, launch offer answered Yes and Lexoria started.
TEST_F(RunUpdateTest, TypicalRussianRunInstallsRecordsAndLaunches) {
  Russian();
  Install(1039);
  fake_->dialogs.Answer(platform::kIdYes);
  fake_->dialogs.Answer(platform::kIdYes);

  EXPECT_EQ(Run(), 0);

  ASSERT_EQ(Boxes().size(), 2u);
  ExpectBox(Boxes()[0], "MessageBoxExW", kConfirmRu, u"Резонный вопрос", 0x00042024, 25);
  ExpectBox(Boxes()[1], "MessageBoxExW", kLaunch, u"Lexoria update", 0x00042024, 25);
  EXPECT_TRUE(PackageWritten());
  EXPECT_FALSE(fake_->files.Exists("C:\\Program Files\\Lexoria\\~lxrq.pak"));
  // 1024 (Lexoria.exe) + 4096 (the package) bytes: 5 KiB.
  EXPECT_EQ(EstimatedSize(), 5u);
  ASSERT_EQ(fake_->processes.shell_executed.size(), 1u);
  EXPECT_EQ(fake_->processes.shell_executed[0], std::string(kInstallDir) + "Lexoria.exe");
  EXPECT_EQ(fake_->registry.OpenKeyCount(), 0u);
  EXPECT_EQ(Record().strings.at(0).substr(0, 66),
            u"Exit code 0: the package was written.\r\nQuestion box, answered Yes:");
}

// Tests runs nobody can answer (a service's window station) beside an
// attended one: no box is shown and none waits; an error takes OK, a question
// No (normal mode: exit code 7, and no running Lexoria asked to quit); nothing
// is started. Each run leaves one record, of its outcome's type, with event
// id 100 + the exit code.
TEST_F(RunUpdateTest, UnattendedRunsShowNoBoxStartNothingAndLeaveARecord) {
  const uint16_t kError = platform::kEventlogErrorType, kWarning = platform::kEventlogWarningType;
  const struct {
    const char* what;
    bool unattended;
    const char* arguments;
    uint16_t installed;  // 0: no installation
    int exit_code;
    bool written;
    uint16_t type;
    size_t boxes;
  } rows[] = {
      {"quiet, no installation", true, "modest", 0, 4, false, kError, 1},
      {"quiet runapp over an older package", true, "modest runapp", 1039, 0, true,
       platform::kEventlogInformationType, 0},
      {"normal mode", true, "", 1039, 7, false, kWarning, 1},
      {"quiet over a newer package", true, "modest", 1041, 0, false, kWarning, 1},
      {"attended, newer package kept", false, "", 1041, 0, false, kWarning, 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    if (row.installed != 0) Install(row.installed);
    Arguments(row.arguments);
    fake_->system.window_station_flags = row.unattended ? 0u : platform::kWsfVisible;
    fake_->app_link.mappings.insert("lexoria_memfile");
    fake_->app_link.AddWindow("TLXMainForm");
    fake_->dialogs.Answer(platform::kIdYes);  // attended: the confirmation, then No

    EXPECT_EQ(Run(), row.exit_code);

    EXPECT_EQ(Boxes().size(), row.unattended ? 0u : row.boxes);
    EXPECT_EQ(PackageWritten(), row.written);
    EXPECT_FALSE(Launched());
    EXPECT_TRUE(fake_->clock.sleeps.empty());
    EXPECT_EQ(fake_->app_link.posted.size(), row.exit_code == 7 ? 0u : 1u);
    EXPECT_EQ(Record().type, row.type);
    EXPECT_EQ(Record().event_id, 100u + row.exit_code);
    EXPECT_EQ(Record().strings.at(0).find(row.unattended ? u"not shown" : u"answered") !=
                  std::string::npos,
              row.boxes > 0);
  }
}

// Tests that a failure to register the source or to report changes neither
// the exit code nor the boxes, and that a refused registration keeps the record.
TEST_F(RunUpdateTest, RecordFailuresChangeNothing) {
  for (const int fault : {0, 1, 2}) {
    SCOPED_TRACE(fault);
    Reset();
    Install(1039);
    Arguments("modest");
    fake_->registry.DenyAccess(platform::kHkeyLocalMachine, "SYSTEM");
    fake_->event_log.register_fails = fault == 1;
    fake_->event_log.report_fails = fault == 2;
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(fake_->event_log.open_sources, 0);
    EXPECT_EQ(fake_->registry.OpenKeyCount(), 0u);
    EXPECT_EQ(fake_->event_log.records.size(), fault == 1 ? 0u : 1u);
  }
}

// Tests that the record is cut after 30,000 UTF-16 units, or one before
// where a note's character of two units would be split; a pair that ends at
// the cut stays whole.
TEST_F(RunUpdateTest, RecordIsCutOnACharacterBoundary) {
  const std::u16string head = u"Exit code 0: x.\r\nInstallation folder: not found.\r\n";
  for (const size_t before : {29949u, 29948u}) {
    SCOPED_TRACE(before);
    SetupContext ctx;
    ProgressWindow progress(fake_->os);
    LangUnit lang;
    Services s{ctx, fake_->os, progress, lang};
    // The character's first unit at 29,999 (split by the cut) or at 29,998.
    ctx.Record.notes.push_back(std::u16string(before, u'x') + u"\U0001F600");
    EXPECT_EQ(ComposeRunRecord(s, 0, "x"),
              head + std::u16string(before, u'x') + (before == 29948 ? u"\U0001F600" : u""));
  }
}

// Tests that the event source's key gets the values it lacks and keeps those
// it has: a key with an unrelated value only, and a registration cut short.
TEST_F(RunUpdateTest, EventSourceKeyIsCompleted) {
  for (const std::string present :
       {"Other", "EventMessageFile", "EventMessageFile+TypesSupported"}) {
    SCOPED_TRACE(present);
    Reset();
    const std::string first = present.substr(0, present.find('+'));
    fake_->registry.SetExpandString(platform::kHkeyLocalMachine, kEventSourceKey, first, "x");
    if (present != first) {
      fake_->registry.SetDword(platform::kHkeyLocalMachine, kEventSourceKey, "TypesSupported", 3);
    }
    Run();
    std::string values;  // "type:data;" of each
    for (const char* name : {"EventMessageFile", "TypesSupported", "CustomSource"}) {
      auto v = fake_->registry.GetValue(platform::kHkeyLocalMachine, kEventSourceKey, name);
      if (v) values += std::to_string(v->type) + ":" + std::string(v->data.begin(), v->data.end());
      values += ";";
    }
    EXPECT_EQ(values, (present == "Other" ? "2:%SystemRoot%\\System32\\EventCreate.exe" : "2:x") +
                          std::string(present == first ? "\0;4:\7\0\0\0;4:\1\0\0\0;"
                                                       : "\0;4:\3\0\0\0;4:\1\0\0\0;",
                                      16));
  }
}

// Tests that an English locale gets the English confirmation, while the
// launch offer stays Russian with the English title as caption; the record
// word for word (the title in Cyrillic under code page 1252, a note).
TEST_F(RunUpdateTest, EnglishConfirmationRussianLaunchOffer) {
  Install(1039);
  fake_->system.ansi_code_page = 1252;
  fake_->processes.is_local_system = true;
  fake_->dialogs.Answer(platform::kIdYes);
  fake_->dialogs.Answer(platform::kIdNo);

  EXPECT_EQ(Run(), 0);

  ASSERT_EQ(Boxes().size(), 2u);
  ExpectBox(Boxes()[0], "MessageBoxW", kConfirmEn, u"Sound question", 0x00042024, std::nullopt);
  ExpectBox(Boxes()[1], "MessageBoxExW", kLaunch, u"Lexoria update", 0x00042024, 25);
  EXPECT_TRUE(PackageWritten());
  EXPECT_FALSE(Launched());
  EXPECT_EQ(Record().strings.at(0),
            u"Exit code 0: the package was written.\r\nQuestion box, answered Yes:\r\n"
            u"Would you like to setup\r\nLexoria update -\r\n"
            u"\"Озвучка русско-английских заданий\" версии 1040?\r\nQuestion box, answered No:\r\n"
            u"Installed on your computer:\r\nLexoria update -\r\n"
            u"\"Озвучка русско-английских заданий\" версии 1040\r\n\r\nStart the program?\r\n"
            u"Installation folder: C:\\Program Files\\Lexoria\\\r\n"
            u"Package version before: 1039, after: 1040.\r\nThe setup runs as the system account.");
}

// Tests the refusals that end the flow after one error box, in both
// languages, with nothing written and the refusal's own exit code.
TEST_F(RunUpdateTest, RefusalsShowOneErrorAndWriteNothing) {
  struct Case {
    const char* name;
    bool russian;
    std::function<void(FakePlatform&)> scene;
    std::u16string text;
    std::u16string caption;
    int exit_code;
    std::u16string note = u"";  // a piece of the record
  };
  // The installation folder moved to D:\Lexoria, and a junction with
  // `security` at its place.
  const auto moved_behind_a_junction = [](platform::FileSecurity security) {
    return [=](FakePlatform& f) {
      f.files.AddDirectory("D:");
      EXPECT_TRUE(f.files.MoveFileExA("C:\\Program Files\\Lexoria", "D:\\Lexoria", 0));
      f.files.AddJunction("C:\\Program Files\\Lexoria", "D:\\Lexoria");
      f.files.SetSecurity("C:\\Program Files\\Lexoria", security);
    };
  };
  const auto another_run = [this](bool xp) {
    return [this, xp](FakePlatform& f) {
      f.processes.no_private_namespaces = xp;
      TakeLockAsProcessTwo();
      f.app_link.mappings.insert("lexoria_memfile");
      f.app_link.AddWindow("TLXMainForm");
    };
  };
  const std::u16string no_subject_en =
      u"There's no subject of update - the Lexoria installed.\r\nPlease, install the program at "
      "first.";
  const std::u16string no_subject_ru =
      u"Нет предмета обновления - установленной программы Lexoria.\r\nПожалуйста, сначала "
      "установите программу.";
  const std::vector<Case> cases = {
      {"not an administrator", false, [](FakePlatform& f) { f.processes.is_admin = false; },
       u"You have no right to install applications!", u"Lexoria update", 2},
      {"not an administrator, Russian", true, [](FakePlatform& f) { f.processes.is_admin = false; },
       u"У Вас нет права устанавливать программы!", u"Обновление Lexoria", 2},
      {"damaged setup", false,
       [](FakePlatform& f) { f.files.AddFile(kSetupPath, SetupImage(/*intact=*/false)); },
       u"The setup file is damaged. Please download it again.", u"Lexoria update", 3},
      {"damaged setup, Russian", true,
       [](FakePlatform& f) { f.files.AddFile(kSetupPath, SetupImage(/*intact=*/false)); },
       u"Файл установки повреждён. Пожалуйста, загрузите его заново.", u"Обновление Lexoria", 3},
      {"setup file unreadable", false, [](FakePlatform& f) { f.files.FailReadsOf(kSetupPath); },
       u"The setup file is damaged. Please download it again.", u"Lexoria update", 3},
      {"no Lexoria.exe", false,
       [](FakePlatform& f) { f.files.DeleteFileA(std::string(kInstallDir) + "Lexoria.exe"); },
       no_subject_en, u"Lexoria update", 4},
      {"Lexoria.exe is a directory", true,
       [](FakePlatform& f) {
         f.files.DeleteFileA(std::string(kInstallDir) + "Lexoria.exe");
         f.files.AddDirectory(std::string(kInstallDir) + "Lexoria.exe");
       },
       no_subject_ru, u"Обновление Lexoria", 4},
      // An installation directory that is no absolute path would name a
      // folder under the current directory (a Downloads folder, say), which
      // here holds a Lexoria.exe.
      {"no entry and no ProgramFilesDir: \"Lexoria\\\"", false,
       [](FakePlatform& f) {
         f.registry.DeleteKey(platform::kHkeyLocalMachine,
                              "Software\\Microsoft\\Windows\\CurrentVersion");
         f.files.AddFile("Lexoria\\Lexoria.exe", "x");
       },
       no_subject_en, u"Lexoria update", 4},
      {"relative UninstallString", false,
       [](FakePlatform& f) {
         f.registry.SetString(platform::kHkeyLocalMachine, kUninstallKey, "UninstallString",
                              "Lexoria\\unins000.exe", View::k64);
         f.files.AddFile("Lexoria\\Lexoria.exe", "x");
       },
       no_subject_en, u"Lexoria update", 4},
      {"UninstallString relative to a drive's current directory", false,
       [](FakePlatform& f) {
         f.registry.SetString(platform::kHkeyLocalMachine, kUninstallKey, "UninstallString",
                              "C:Lexoria\\unins000.exe", View::k64);
         f.files.AddFile("C:Lexoria\\Lexoria.exe", "x");
       },
       no_subject_en, u"Lexoria update", 4},
      {"no installation folder at all", false,
       [](FakePlatform& f) {
         f.files.DeleteFileA(std::string(kInstallDir) + "Lexoria.exe");
         f.files.DeleteFileA(kPackagePath);
         f.files.RemoveDirectoryA(kInstallDir);
       },
       no_subject_en, u"Lexoria update", 4, u"Package version before: none, after: none."},
      {"the folder reached through a junction standard users may remove", false,
       moved_behind_a_junction(testing::FakeFileSystem::UsersMay()),
       u"Can't install file C:\\Program Files\\Lexoria\\lxrq.pak", u"Lexoria update", 6,
       u"The installation folder was refused: a link on the way to it could have been made by a "
       u"standard user: C:\\Program Files\\Lexoria"},
      {"the folder cannot be opened, Russian", true,
       [](FakePlatform& f) { f.files.DenyOpen("C:\\Program Files\\Lexoria"); },
       u"Не удается установить файл C:\\Program Files\\Lexoria\\lxrq.pak", u"Обновление Lexoria", 6,
       u"The installation folder was refused: it cannot be opened (error 5)"},
      // Lexoria runs: it must not be asked to quit either.
      {"another run holds the lock", false, another_run(false),
       u"Another update of Lexoria is in progress. Please wait until it has finished.",
       u"Lexoria update", 1618,
       u"Exit code 1618: another update of Lexoria is in progress: nothing was changed."},
      {"another run holds the global name of Windows XP, Russian", true, another_run(true),
       u"Выполняется другое обновление Lexoria. Пожалуйста, дождитесь его окончания.",
       u"Обновление Lexoria", 1618},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    if (c.russian) Russian();
    Install(1039);
    c.scene(*fake_);

    EXPECT_EQ(Run(), c.exit_code);

    ASSERT_EQ(Boxes().size(), 1u);
    ExpectBox(Boxes()[0], c.russian ? "MessageBoxExW" : "MessageBoxW", c.text, c.caption,
              0x00200010, c.russian ? std::optional<uint16_t>(25) : std::nullopt);
    if (c.note.empty() || c.exit_code != 4) {
      EXPECT_TRUE(fake_->files.Content(kPackagePath) == Package(1039, 2048));
    }
    EXPECT_FALSE(EstimatedSize().has_value());
    EXPECT_FALSE(Detected().has_value());
    EXPECT_FALSE(Launched());
    EXPECT_TRUE(fake_->app_link.posted.empty());
    EXPECT_EQ(Record().type,
              c.exit_code == 1618 ? platform::kEventlogWarningType : platform::kEventlogErrorType);
    EXPECT_EQ(Record().event_id, c.exit_code == 1618 ? 118u : 100u + c.exit_code);
    EXPECT_NE(Record().strings.at(0).find(c.note), std::u16string::npos) << c.name;
    EXPECT_EQ(fake_->files.OpenHandleCount(), 0u);
    for (const char* dir : {"Lexoria\\", "C:Lexoria\\"}) {
      EXPECT_FALSE(fake_->files.Exists(std::string(dir) + "lxrq.pak")) << dir;
    }
  }
}

// Tests that a user without administrator rights is refused before the
// running Lexoria is probed, even when Lexoria is not installed at all.
TEST_F(RunUpdateTest, NonAdministratorIsRefusedBeforeAnythingElse) {
  fake_->processes.is_admin = false;
  fake_->app_link.mappings.insert("lexoria_memfile");
  fake_->app_link.AddWindow("TLXMainForm");

  EXPECT_EQ(Run(), 2);

  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, u"You have no right to install applications!");
  EXPECT_TRUE(fake_->app_link.mapping_calls.empty());
  EXPECT_TRUE(fake_->app_link.posted.empty());
}

// Tests that every way the setup's own file can fail the integrity check ends
// the flow with the damage box, after the quit request and before anything
// is written, with the file's handle closed again.
TEST_F(RunUpdateTest, SelfCheckRefusesEveryDamagedOrUnreadableSetup) {
  struct Case {
    const char* name;
    std::function<void(FakePlatform&)> scene;
    bool refused;
  };
  const auto replace = [](std::vector<uint8_t> image) {
    return [image](FakePlatform& f) { f.files.AddFile(kSetupPath, image); };
  };
  std::vector<uint8_t> zero_stamp = SetupImage(/*intact=*/true);
  ASSERT_TRUE(WritePeChecksumField(zero_stamp.data(), zero_stamp.size(), 0));
  std::vector<uint8_t> truncated = SetupImage(/*intact=*/true);
  truncated.pop_back();
  std::vector<uint8_t> extended = SetupImage(/*intact=*/true);
  extended.push_back(0);
  std::vector<uint8_t> not_pe = SetupImage(/*intact=*/true);
  not_pe[0x80] = 'N';
  const std::vector<Case> cases = {
      {"intact setup passes", [](FakePlatform&) {}, false},
      {"zero checksum stamp", replace(zero_stamp), true},
      {"truncated by one byte", replace(truncated), true},
      {"one byte appended", replace(extended), true},
      {"no PE signature", replace(not_pe), true},
      {"empty file", replace({}), true},
      {"module path unknown", [](FakePlatform& f) { f.system.module_path.clear(); }, true},
      {"setup file missing", [](FakePlatform& f) { f.files.DeleteFileA(kSetupPath); }, true},
      {"setup file cannot be opened", [](FakePlatform& f) { f.files.DenyOpen(kSetupPath); }, true},
      {"reads of the setup file fail", [](FakePlatform& f) { f.files.FailReadsOf(kSetupPath); },
       true},
      // Folder names outside every ANSI code page: the file is opened by its
      // wide name (the fakes name such files in UTF-8).
      {"intact setup in a Kazakh and a Chinese folder",
       [](FakePlatform& f) {
         const std::u8string path = u8"C:\\Users\\Жүктеулер-Әң\\下载\\lexoria-update.exe";
         f.system.module_path.assign(path.begin(), path.end());
         f.files.AddFile(f.system.module_path, SetupImage(/*intact=*/true));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Install(1039);
    Arguments("modest");
    fake_->app_link.mappings.insert("lexoria_memfile");
    const platform::HWnd window = fake_->app_link.AddWindow("TLXMainForm");
    c.scene(*fake_);

    EXPECT_EQ(Run(), c.refused ? 3 : 0);

    ASSERT_EQ(fake_->app_link.posted.size(), 1u) << "the quit request comes before the check";
    EXPECT_EQ(fake_->app_link.posted[0].window, window);
    EXPECT_EQ(fake_->files.OpenHandleCount(), 0u);
    if (c.refused) {
      ASSERT_EQ(Boxes().size(), 1u);
      ExpectBox(Boxes()[0], "MessageBoxW", u"The setup file is damaged. Please download it again.",
                u"Lexoria update", 0x00200010, std::nullopt);
      EXPECT_FALSE(PackageWritten());
      EXPECT_FALSE(EstimatedSize().has_value());
    } else {
      EXPECT_TRUE(Boxes().empty());
      EXPECT_TRUE(PackageWritten());
    }
  }
}

// Tests that the quit request depends on the marker: a window of Lexoria's
// class without the marker is left alone, a marker without a window gets
// nothing, and a running Lexoria is asked to quit even when there turns out
// to be no installation to update.
TEST_F(RunUpdateTest, QuitRequestOnlyWhenTheMarkerSaysLexoriaRuns) {
  struct Case {
    const char* name;
    bool marker;
    bool window;
    bool installed;
    bool posted;
  };
  const std::vector<Case> cases = {
      {"marker and window", true, true, true, true},
      {"window without marker", false, true, true, false},
      {"marker without window", true, false, true, false},
      {"marker and window, nothing installed", true, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    if (c.installed) Install(1039);
    if (c.marker) fake_->app_link.mappings.insert("lexoria_memfile");
    if (c.window) fake_->app_link.AddWindow("TLXMainForm");
    size_t posted_at_first_box = 99;
    fake_->dialogs.on_box = [&](const BoxCall&) {
      if (posted_at_first_box == 99) posted_at_first_box = fake_->app_link.posted.size();
    };

    EXPECT_EQ(Run(), c.installed ? 0 : 4);

    EXPECT_EQ(fake_->app_link.mapping_calls.size(), 1u);
    EXPECT_EQ(fake_->app_link.find_window_calls.size(), c.marker ? 1u : 0u);
    EXPECT_EQ(fake_->app_link.posted.size(), c.posted ? 1u : 0u);
    EXPECT_EQ(posted_at_first_box, c.posted ? 1u : 0u) << "the request precedes every box";
    EXPECT_EQ(fake_->app_link.OpenMappingHandles(), 0u);
    EXPECT_EQ(fake_->app_link.MappingExists("lexoria_memfile"), c.marker);
  }
}

// Tests that the replacement of a package Lexoria still holds waits for it to
// let go only when this run asked it to quit: then every 250 ms for up to
// 15 s, else not at all; the outcome is reported as for any failed write, or,
// where nobody can be told, the replacement waits for the next restart (exit
// code 3010, a warning record), and the version detected is the new one.
TEST_F(RunUpdateTest, ReplacementWaitsOnlyForALexoriaAskedToQuit) {
  constexpr uint64_t kNever = ~uint64_t{0};
  struct Row {
    const char* what;
    bool window;        // Lexoria's window, so that the request is posted
    uint64_t released;  // ms after the start when the package is let go
    int exit_code;
    size_t pauses;  // of 250 ms
    bool unattended = false;
  } rows[] = {
      {"asked to quit, lets go 2 s later", true, 2000, 0, 8},
      {"asked to quit, never lets go", true, kNever, 6, 60},
      {"marker without window: nobody asked, held", false, 2000, 6, 0},
      {"unattended, Lexoria in another session (no window): at the restart", false, kNever, 3010, 0,
       true},
      {"unattended, asked to quit, never lets go: at the restart after 15 s", true, kNever, 3010,
       60, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    Install(1039);
    Arguments("modest");
    fake_->app_link.mappings.insert("lexoria_memfile");
    if (row.window) fake_->app_link.AddWindow("TLXMainForm");
    fake_->system.window_station_flags = row.unattended ? 0u : platform::kWsfVisible;
    fake_->files.HoldOpen(kPackagePath, platform::kGenericRead, platform::kFileShareRead);
    fake_->clock.on_sleep = [&](uint64_t now_ms) {
      fake_->app_link.AdvanceTo(now_ms);
      if (now_ms >= row.released) fake_->files.ReleaseHolds(kPackagePath);
    };

    EXPECT_EQ(Run(), row.exit_code);

    EXPECT_EQ(fake_->clock.sleeps, std::vector<uint32_t>(row.pauses, 250));
    EXPECT_EQ(PackageWritten(), row.exit_code == 0);
    EXPECT_EQ(Boxes().size(), row.exit_code == 6 ? 1u : 0u);
    EXPECT_EQ(fake_->files.Exists("C:\\Program Files\\Lexoria\\~lxrq.pak"), row.exit_code == 3010);
    if (row.exit_code != 0) {
      EXPECT_EQ(fake_->files.Content(kPackagePath), Package(1039, 2048));
      EXPECT_EQ(fake_->files.pending_renames.size(), row.exit_code == 3010 ? 1u : 0u);
    }
    if (row.exit_code == 3010) {
      EXPECT_EQ(Record().type, platform::kEventlogWarningType);
      EXPECT_EQ(Record().event_id, 110u);
      EXPECT_NE(Record().strings.at(0).find(u"replaces the installed one at the next restart"),
                std::u16string::npos);
    }
    EXPECT_TRUE(EstimatedSize().has_value()) << "the size is recorded either way";
    EXPECT_EQ(Detected(), row.exit_code == 6 ? 1039u : 1040u);
  }
}

// Tests that the run lock is held from before the quit request to the run's
// end and let go then: a run that starts while the confirmation waits finds
// it taken, one after the end takes it.
TEST_F(RunUpdateTest, RunLockIsHeldToTheEndOfTheRun) {
  Install(1039);
  std::optional<RunLock::State> during;
  fake_->dialogs.on_box = [&](const BoxCall&) {
    fake_->processes.process = 2;
    if (!during) during = RunLock(fake_->processes).state();
    fake_->processes.process = 1;
  };
  fake_->dialogs.Answer(platform::kIdYes);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(during, RunLock::State::kAnotherRun);
  EXPECT_EQ(fake_->processes.OpenHandles(), 0u);
  EXPECT_EQ(fake_->processes.bad_closes, 0);
  EXPECT_EQ(RunLock(fake_->processes).state(), RunLock::State::kHeld);
}

// Tests the switches administrators type beyond quiet mode: /? and an
// argument the setup does not know give the usage text (a box, or with
// /quiet only the record) and nothing else, not even a quit request; /quiet
// shows no box where the desktop is visible: a newer package is kept, and
// one another program holds is replaced at the restart, as where nobody can
// see the run.
TEST_F(RunUpdateTest, SwitchesAsAdministratorsTypeThem) {
  struct Case {
    const char* arguments;
    uint16_t installed;
    bool held;
    int exit_code;
    std::vector<uint32_t> box_flags;  // of the boxes shown
    uint16_t left;                    // the package's version afterwards
    const char16_t* record;           // a piece of the record
  };
  const std::vector<Case> cases = {
      {"/?", 1039, false, 0, {0x00200040}, 1039, u"Information box, answered OK:\r\nUsage: "},
      {"-HELP modest", 1039, false, 0, {0x00200040}, 1039, u"nothing else was done"},
      {"modest /passive",
       1039,
       false,
       1639,
       {0x00200010},
       1039,
       u"Exit code 1639: the command line is invalid: nothing was done.\r\nError box, answered "
       u"OK:\r\nUnknown argument: /passive\r\n\r\nUsage: "},
      {"/quiet /?", 1039, false, 0, {}, 1039, u"box, not shown (/quiet), OK taken:\r\nUsage: "},
      {"/quiet", 1041, false, 0, {}, 1041, u"Question box, not shown (/quiet), No taken:"},
      {"/q", 1039, true, 3010, {}, 1039, u"replaces the installed one at the next restart"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Reset();
    Install(c.installed);
    Arguments(c.arguments);
    fake_->app_link.mappings.insert("lexoria_memfile");
    fake_->app_link.AddWindow("TLXMainForm");
    if (c.held)
      fake_->files.HoldOpen(kPackagePath, platform::kGenericRead, platform::kFileShareRead);

    EXPECT_EQ(Run(), c.exit_code);

    std::vector<uint32_t> flags;
    for (const BoxCall& box : Boxes()) flags.push_back(box.type);
    EXPECT_EQ(flags, c.box_flags);
    EXPECT_EQ(fake_->files.Content(kPackagePath), Package(c.left, 2048));
    const bool usage = c.left == c.installed && c.installed == 1039 && !c.held;
    EXPECT_EQ(fake_->app_link.posted.empty(), usage) << "a quit request only for an update";
    EXPECT_EQ(EstimatedSize().has_value(), !usage);
    EXPECT_NE(Record().strings.at(0).find(c.record), std::u16string::npos)
        << testing::Utf16ToUtf8(Record().strings.at(0));
  }
}

// Tests the log file /log asks for: appended in UTF-8, its header, the steps
// and the record, a failed call with the system's text for it; a link or a
// file with another name at its name is not written through, and a log that
// fills the disk midway leaves the rest of the run as it is; the record
// says so either way.
TEST_F(RunUpdateTest, LogFileOfTheRun) {
  static constexpr char kLog[] = "C:\\Logs\\Lexoria.log";
  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> scene;
    std::vector<std::string> logged;  // pieces of the log, in UTF-8
    const char16_t* noted;            // a piece of the record
  };
  const std::vector<Case> cases = {
      {"written after what was there",
       [](FakePlatform& f) { f.files.AddFile(kLog, "before\r\n"); },
       {"before\r\n==== Lexoria update 1.0.1040.0, 2026-12-09 20:15:07\r\n"
        "Command line: \"C:\\Users\\u\\Downloads\\lexoria-update.exe\" modest "
        "/log=C:\\Logs\\Lexoria.log\r\nAccount: PC\\u (S-1-5-1001); session ",
        "\r\n6. Quiet mode (modest).\r\n", "\r\n9. The package is written.\r\n",
        "\r\nRecord, event id 100:\r\nExit code 0: the package was written.\r\n"},
       u"Exit code 0"},
      {"a failed call with the system's text",
       [](FakePlatform& f) { f.files.DenyMoves(platform::kErrorAccessDenied); },
       {"\r\nFailed: SetFileInformationByHandle (rename to) C:\\Program Files\\Lexoria\\lxrq.pak: "
        "error 5 (Access is denied.).\r\n"},
       u"\r\nFailed: SetFileInformationByHandle (rename to) C:\\Program Files\\Lexoria\\lxrq.pak: "
       u"error 5."},
      {"a link at its name",
       [](FakePlatform& f) { f.files.AddFileLink(kLog, "C:\\Windows\\x.ini"); },
       {},
       u"The log file C:\\Logs\\Lexoria.log was not written: a link or a folder stands at its "
       u"name."},
      {"a file with a second name",
       [](FakePlatform& f) {
         f.files.AddFile(kLog, "hard");
         f.files.SetLinkCount(kLog, 2);
       },
       {},
       u"was not written: it is a link, a folder or a file with more than one name."},
      {"the disk fills once the package is in place",
       [](FakePlatform& f) {
         // From the first look into the folder after the rename (the size
         // walk's), with no space left.
         f.files.on_call = [&f, renamed = false](const std::string& call) mutable {
           if (renamed && call.rfind("CreateFileA", 0) == 0) f.files.SetFreeSpace(0, true);
           renamed |= call.rfind("SetFileRenameInfo", 0) == 0;
         };
       },
       {},
       u"The log file C:\\Logs\\Lexoria.log could not be written to its end."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    Install(1039);
    Arguments("modest /log=C:\\Logs\\Lexoria.log");
    fake_->files.AddDirectory("C:\\Logs");
    fake_->files.AddDirectory("C:\\Windows");
    c.scene(*fake_);
    const bool failed_write = c.logged.size() == 1;

    EXPECT_EQ(Run(), failed_write ? 6 : 0);

    const std::string log = fake_->files.ContentText(kLog);
    for (const std::string& piece : c.logged) EXPECT_NE(log.find(piece), std::string::npos) << log;
    if (c.logged.empty()) {
      EXPECT_TRUE(fake_->files.List("C:\\Windows").empty());
    }
    EXPECT_NE(Record().strings.at(0).find(c.noted), std::u16string::npos)
        << testing::Utf16ToUtf8(Record().strings.at(0));
  }
}

// Tests that the program turns off the system's critical-error and
// open-file boxes for its process before it touches any file, key or other
// program, keeping the bits it inherited, which alone Lexoria gets when the
// setup starts it itself.
TEST_F(RunUpdateTest, SystemErrorBoxesAreOffBeforeAnythingElse) {
  for (const uint32_t inherited : {0x0000u, 0x0002u}) {
    SCOPED_TRACE(inherited);
    Reset();
    Install(1039);
    Arguments("modest runapp");
    fake_->app_link.shell_window = platform::kNullHandle;  // the setup's own start
    fake_->system.error_mode = inherited;
    uint32_t mode_at_start = 0xFFFF;
    fake_->processes.on_create_process = [&](auto&) { mode_at_start = fake_->system.error_mode; };
    bool first = true;
    fake_->system.on_set_error_mode = [&] {
      if (!first) return;
      first = false;
      EXPECT_TRUE(fake_->files.Calls().empty());
      EXPECT_TRUE(fake_->registry.Calls().empty());
      EXPECT_TRUE(fake_->app_link.mapping_calls.empty());
      EXPECT_TRUE(Boxes().empty());
    };

    EXPECT_EQ(Run(), 0);

    EXPECT_FALSE(first) << "the error mode was set";
    EXPECT_EQ(fake_->system.error_modes_set[0], 0x8001u);
    EXPECT_EQ(fake_->system.error_mode, 0x8001u | inherited);
    EXPECT_EQ(mode_at_start, inherited) << "Lexoria, started by the setup, gets the inherited mode";
  }
}

// Tests that only Yes continues: a question box that could not be shown (0)
// or any other answer stops the installation or the launch; a confirmation
// that could not be shown is no answer (exit code 7), not a No.
TEST_F(RunUpdateTest, OnlyYesContinues) {
  struct Case {
    const char* name;
    int confirmation;
    int launch;
    bool written;
    bool launched;
  };
  const std::vector<Case> cases = {
      {"confirmation box not shown", 0, platform::kIdYes, false, false},
      {"confirmation answered No", platform::kIdNo, platform::kIdYes, false, false},
      {"confirmation closed otherwise (IDCANCEL)", 2, platform::kIdYes, false, false},
      {"launch box not shown", platform::kIdYes, 0, true, false},
      {"launch closed otherwise (IDCANCEL)", platform::kIdYes, 2, true, false},
      {"both Yes", platform::kIdYes, platform::kIdYes, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Install(1039);
    fake_->dialogs.Answer(c.confirmation);
    fake_->dialogs.Answer(c.launch);

    EXPECT_EQ(Run(), c.confirmation == 0 ? 7 : 0) << "a box not shown is no answer";

    EXPECT_EQ(Boxes().size(), c.written ? 2u : 1u);
    EXPECT_EQ(PackageWritten(), c.written);
    EXPECT_EQ(EstimatedSize().has_value(), c.written);
    EXPECT_EQ(Launched(), c.launched);
  }
}

// Tests that a running Lexoria is asked to quit before the confirmation, and
// that answering No then writes nothing and asks nothing more.
TEST_F(RunUpdateTest, RunningLexoriaAskedToQuitEvenWhenTheAnswerIsNo) {
  Install(1039);
  fake_->app_link.mappings.insert("lexoria_memfile");
  const platform::HWnd window = fake_->app_link.AddWindow("TLXMainForm");
  fake_->dialogs.on_box = [&](const BoxCall&) {
    ASSERT_EQ(fake_->app_link.posted.size(), 1u);
    EXPECT_EQ(fake_->app_link.posted[0].window, window);
    EXPECT_EQ(fake_->app_link.posted[0].message, platform::kWmQuit);
  };
  fake_->dialogs.Answer(platform::kIdNo);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_FALSE(PackageWritten());
  EXPECT_FALSE(EstimatedSize().has_value());
  EXPECT_FALSE(Launched());
}

// Tests the quiet mode in its forms: no question; the launch only with
// "runapp" as second argument (any letter case); "runapp" alone is normal.
TEST_F(RunUpdateTest, QuietModeAndRunApp) {
  struct Case {
    const char* arguments;
    size_t boxes;
    bool launched;
  };
  const std::vector<Case> cases = {
      {"MODEST", 0, false},
      {"Modest", 0, false},
      {"modest RunApp", 0, true},
      {"modest runapp extra", 0, true},
      {"modest \"runapp\"", 0, true},
      {"modest run", 0, false},
      {"runapp", 2, true},
      {"/quiet", 0, false},
      {"/S RunApp", 0, true},
      {"-verysilent modest runapp", 0, true},
      {"/norestart modest /suppressmsgboxes", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Reset();
    Install(1039);
    Arguments(c.arguments);
    fake_->dialogs.default_answer = platform::kIdYes;

    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(Boxes().size(), c.boxes);
    EXPECT_TRUE(PackageWritten());
    EXPECT_EQ(EstimatedSize(), 5u);
    EXPECT_EQ(Launched(), c.launched);
  }
}

// Tests that a failed package write is reported and the size and launch
// steps still follow, and that the exit code still tells of the failure.
TEST_F(RunUpdateTest, PackageFailureStillRecordsSizeAndOffersLaunch) {
  Install(1039);
  fake_->files.DenyOpen("C:\\Program Files\\Lexoria\\~lxrq.pak");
  fake_->dialogs.Answer(platform::kIdYes);
  fake_->dialogs.Answer(platform::kIdYes);

  EXPECT_EQ(Run(), 6);

  ASSERT_EQ(Boxes().size(), 3u);
  ExpectBox(Boxes()[1], "MessageBoxW", u"Can't install file C:\\Program Files\\Lexoria\\lxrq.pak",
            u"Lexoria update", 0x00200010, std::nullopt);
  EXPECT_EQ(Boxes()[2].text, kLaunch);
  EXPECT_FALSE(PackageWritten());
  EXPECT_EQ(EstimatedSize(), 3u);  // 1024 + 2048 bytes
  EXPECT_TRUE(Launched());
  EXPECT_EQ(Record().type, platform::kEventlogErrorType);
}

// Tests that an unreadable per-user shell folder ends the flow with the
// registry message and exit code 5, and that a registry value of the wrong
// type elsewhere in discovery escapes as an uncaught failure: exit code 1,
// a task-modal box, every key closed.
TEST_F(RunUpdateTest, RegistryFailuresDuringDiscovery) {
  Install(1039);
  fake_->registry.SetDword(platform::kHkeyCurrentUser,
                           "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "Programs", 7);
  EXPECT_EQ(Run(), 5);
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectBox(Boxes()[0], "MessageBoxW", u"No access to system registry", u"Lexoria update",
            0x00200010, std::nullopt);
  EXPECT_EQ(fake_->registry.OpenKeyCount(), 0u);
  EXPECT_EQ(Record().type, platform::kEventlogErrorType);

  Reset();
  Install(1039);
  fake_->registry.SetDword(platform::kHkeyLocalMachine,
                           "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", 1);
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find(u"ProgramFilesDir"), std::u16string::npos);
  EXPECT_TRUE(Boxes()[0].type & platform::kMbTaskModal);
  EXPECT_TRUE(Boxes()[0].type & platform::kMbIconStop);
  EXPECT_EQ(fake_->registry.OpenKeyCount(), 0u);
  EXPECT_FALSE(PackageWritten());
}

// Tests that a refused write of "EstimatedSize" ends the process with exit
// code 1 after the package was written.
TEST_F(RunUpdateTest, RefusedSizeWriteIsAnUncaughtFailure) {
  Install(1039);
  Arguments("modest");
  fake_->registry.FailWrites(platform::kErrorAccessDenied);

  EXPECT_EQ(Run(), 1);

  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find(u"EstimatedSize"), std::u16string::npos);
  EXPECT_TRUE(PackageWritten());
  EXPECT_FALSE(Launched());
  EXPECT_EQ(fake_->registry.OpenKeyCount(), 0u);
  EXPECT_EQ(Record().type, platform::kEventlogErrorType);  // the source's writes refused too
}

// Tests that the package name "lxq" joins the two resources lxq1 and lxq2
// without any version comparison.
TEST_F(RunUpdateTest, JoinedPackageWritesBothParts) {
  Install(1039);
  Arguments("modest");
  fake_->files.AddFile("C:\\Program Files\\Lexoria\\lxq.pak", Package(2000, 16));
  fake_->resources.Add("lxq1", "pak", {1, 2, 3});
  fake_->resources.Add("lxq2", "pak", {4, 5});

  EXPECT_EQ(Run("lxq"), 0);

  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(fake_->files.Content("C:\\Program Files\\Lexoria\\lxq.pak"),
            (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

// Tests the exit code of each way the package step can end, in quiet mode
// (no confirmation): written, kept after No to the older-version question,
// and not written, for the checked and the joined package.
TEST_F(RunUpdateTest, PackageStepExitCodes) {
  struct Case {
    const char* name;
    const char* package;
    uint16_t installed;
    std::function<void(FakePlatform&)> scene;
    int exit_code;
    std::vector<uint8_t> left;  // the package afterwards
    std::u16string note = u"";  // a piece of the record
  };
  const std::string joined = "C:\\Program Files\\Lexoria\\lxq.pak";
  const std::vector<Case> cases = {
      {"written", "lxrq", 1039, [](FakePlatform&) {}, 0, Package(1040, 4096)},
      {"older, Yes", "lxrq", 1041, [](FakePlatform& f) { f.dialogs.Answer(platform::kIdYes); }, 0,
       Package(1040, 4096)},
      {"older, No", "lxrq", 1041, [](FakePlatform& f) { f.dialogs.Answer(platform::kIdNo); }, 0,
       Package(1041, 2048)},
      {"move refused", "lxrq", 1039, [](FakePlatform& f) { f.files.DenyMoves(); }, 6,
       Package(1039, 2048)},
      {"move refused, a value an earlier run left wrong corrected", "lxrq", 1039,
       [](FakePlatform& f) {
         f.files.DenyMoves();
         f.registry.SetDword(platform::kHkeyLocalMachine, kUninstallKey, "lxrq.pak", 1040);
         f.registry.SetDword(platform::kHkeyLocalMachine, kDetectionKey, "lxrq.pak", 1040);
       },
       6, Package(1039, 2048)},
      {"resource missing", "lxrq", 1039, [](FakePlatform& f) { f.resources = {}; }, 6,
       Package(1039, 2048)},
      // A standard user took the setup's own lock first (refused its
      // namespace) and the global name of Windows XP: no lock keeps it out.
      {"lock names taken first by a standard user", "lxrq", 1039,
       [this](FakePlatform& f) {
         TakeLockAsProcessTwo(/*groups=*/{});
         f.processes.process = 2;
         EXPECT_NE(f.processes.CreateMutexW(nullptr, false, kRunLockGlobalName), 0u);
         f.processes.process = 1;
       },
       0, Package(1040, 4096)},
      {"the lock cannot be taken: the run goes on", "lxrq", 1039,
       [](FakePlatform& f) { f.processes.mutex_error = platform::kErrorNoSystemResources; }, 0,
       Package(1040, 4096),
       u"The lock against another run of the setup could not be taken (CreateMutexW failed with "
       u"error 1450): this run went on without it."},
      {"joined, written", "lxq", 1039, [](FakePlatform&) {}, 0, {1, 2}},
      {"joined, second part missing",
       "lxq",
       1039,
       [](FakePlatform& f) {
         f.resources = {};
         f.resources.Add("lxq1", "pak", {1});
       },
       6,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Install(c.installed);
    Arguments("modest");
    if (std::string(c.package) == "lxq") {
      fake_->resources.Add("lxq1", "pak", {1});
      fake_->resources.Add("lxq2", "pak", {2});
    }
    c.scene(*fake_);

    EXPECT_EQ(Run(c.package), c.exit_code);

    const auto left = fake_->files.Content(std::string(c.package) == "lxq" ? joined : kPackagePath);
    EXPECT_EQ(left.value_or(std::vector<uint8_t>{}), c.left);
    EXPECT_TRUE(EstimatedSize().has_value()) << "the size step follows in every case";
    EXPECT_NE(Record().strings.at(0).find(c.note), std::u16string::npos);
    if (std::string(c.package) == "lxrq") {
      EXPECT_EQ(Detected(), std::optional<uint32_t>(c.left[6] | c.left[7] << 8))
          << "the version the folder holds, a newer one kept included, the old one after a "
             "failure";
    }
  }
}

// Tests that a failure during start-up (here: memory running out while the
// "ver" probe's output is converted) gets the uncaught failure's box, in the
// interface language, and exit code 1, with nothing written.
TEST_F(RunUpdateTest, StartUpFailureIsAnUncaughtFailure) {
  for (const bool russian : {false, true}) {
    SCOPED_TRACE(russian ? "Russian" : "English");
    Reset();
    if (russian) Russian();
    Install(1039);
    fake_->system.oem_to_char = [](const std::string&) -> std::string { throw std::bad_alloc(); };

    EXPECT_EQ(Run(), 1);

    ASSERT_EQ(Boxes().size(), 1u);
    ExpectBox(Boxes()[0], russian ? "MessageBoxExW" : "MessageBoxW", u"Out of memory",
              russian ? u"Обновление Lexoria" : u"Lexoria update", 0x00042010,
              russian ? std::optional<uint16_t>(25) : std::nullopt);
    EXPECT_TRUE(fake_->app_link.mapping_calls.empty()) << "the update did not begin";
    EXPECT_EQ(fake_->files.ContentText(kPackagePath),
              std::string(reinterpret_cast<const char*>(Package(1039, 2048).data()), 2048));
  }
}

// Tests that a progress window that fails to come back after the package
// replaced a newer one is an uncaught failure, not "Can't install file": the
// package is in place, exit code 1, and the flow stops there.
TEST_F(RunUpdateTest, ProgressWindowFailureAfterTheReplaceIsNotAnInstallFailure) {
  Install(1041);
  Arguments("modest");
  fake_->dialogs.Answer(platform::kIdYes);
  fake_->gui.create_thread_throws = true;

  EXPECT_EQ(Run(), 1);

  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_NE(Boxes()[0].text.find(u"older file version 1040"), std::u16string::npos);
  ExpectBox(Boxes()[1], "MessageBoxW", u"Out of memory", u"Lexoria update", 0x00042010,
            std::nullopt);
  EXPECT_TRUE(PackageWritten());
  EXPECT_FALSE(EstimatedSize().has_value());
}

}  // namespace
}  // namespace lexoria
