#include "app/environment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "platform/registry.h"
#include "system/registry_accessor.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using testing::FakeRegistry;
using testing::View;

constexpr char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";
constexpr char kWowEntry[] =
    "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";

// Passes every call on to the fake registry and keeps count of the keys open
// at the same time.
class KeyWatch final : public platform::Registry {
 public:
  explicit KeyWatch(platform::Registry& inner) : inner_(inner) {}
  std::set<platform::HKey> open;
  int most_open = 0;

  long RegOpenKeyExA(platform::HKey key, const char* sub_key, uint32_t options, uint32_t sam,
                     platform::HKey* result) override {
    return Opened(inner_.RegOpenKeyExA(key, sub_key, options, sam, result), result);
  }
  long RegCreateKeyExA(platform::HKey key, const char* sub_key, uint32_t reserved,
                       const char* class_name, uint32_t options, uint32_t sam,
                       platform::HKey* result, uint32_t* disposition) override {
    return Opened(inner_.RegCreateKeyExA(key, sub_key, reserved, class_name, options, sam, result,
                                         disposition),
                  result);
  }
  long RegQueryValueExA(platform::HKey key, const char* name, uint32_t* type, uint8_t* data,
                        uint32_t* size) override {
    return inner_.RegQueryValueExA(key, name, type, data, size);
  }
  long RegSetValueExA(platform::HKey key, const char* name, uint32_t reserved, uint32_t type,
                      const uint8_t* data, uint32_t size) override {
    return inner_.RegSetValueExA(key, name, reserved, type, data, size);
  }
  long RegCloseKey(platform::HKey key) override {
    open.erase(key);
    return inner_.RegCloseKey(key);
  }
  long RegFlushKey(platform::HKey key) override { return inner_.RegFlushKey(key); }
  long RegDeleteValueA(platform::HKey key, const char* name) override {
    return inner_.RegDeleteValueA(key, name);
  }

 private:
  long Opened(long result, platform::HKey* key) {
    if (result == 0) {
      open.insert(*key);
      most_open = std::max(most_open, static_cast<int>(open.size()));
    }
    return result;
  }
  platform::Registry& inner_;
};

class EnvironmentTest : public ::testing::Test {
 protected:
  EnvironmentTest() {
    ctx_.ProductShortName = "Lexoria";
    ctx_.UpdateTitleRu = "Обновление Lexoria";
    ctx_.UpdateTitleEn = "Lexoria update";
    // SharedRegistry as start-up makes it on 64-bit Windows.
    ctx_.SharedRegistry =
        std::make_unique<TRegistry>(watch_, platform::kKeyAllAccess | platform::kKeyWow64_64Key);

    FakeRegistry& r = fake_.registry;
    r.SetString(kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir", "C:\\Program Files");
    r.SetString(kHkeyLocalMachine, kShellFolders, "Common Desktop", "C:\\Users\\Public\\Desktop");
    r.SetString(kHkeyLocalMachine, kShellFolders, "Common Programs",
                "C:\\ProgramData\\Start Menu\\Programs");
    r.SetString(kHkeyCurrentUser, kShellFolders, "Programs", "C:\\Users\\u\\Start Menu\\Programs");
    r.SetString(kHkeyCurrentUser, kShellFolders, "Desktop", "C:\\Users\\u\\Desktop");
    r.SetString(kHkeyCurrentUser, kShellFolders, "Startup",
                "C:\\Users\\u\\Start Menu\\Programs\\Startup");
  }

  // Every open was closed again, and no key was ever opened while another
  // was open: the accessor holds one key at a time.
  void ExpectOneKeyAtATime() {
    EXPECT_EQ(fake_.registry.OpenKeyCount(), 0u);
    EXPECT_EQ(watch_.most_open, 1);
    EXPECT_TRUE(watch_.open.empty());
  }

  int CallsContaining(const std::string& text) {
    int count = 0;
    for (const std::string& call : fake_.registry.Calls()) {
      if (call.find(text) != std::string::npos) ++count;
    }
    return count;
  }

  testing::FakePlatform fake_;
  KeyWatch watch_{fake_.registry};
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

// Tests the directory part of "UninstallString" values: the last backslash
// before the final character decides, a quoted path is cut at its closing
// quotation mark first, and a value without a directory part gives nothing.
TEST(UninstallStringDirectoryTest, CutsToTheDirectoryOfTheUninstaller) {
  struct Row {
    const char* value;
    std::optional<std::string> expected;
  };
  const Row rows[] = {
      {"D:\\Apps\\Lexoria\\unins000.exe", "D:\\Apps\\Lexoria\\"},
      {"D:\\Apps\\Lexoria\\", "D:\\Apps\\"},
      {"D:\\Apps\\Lexoria\\\\", "D:\\Apps\\Lexoria\\"},
      {"C:\\unins000.exe", "C:\\"},
      {"\\\\server\\share\\unins.exe", "\\\\server\\share\\"},
      {"\"D:\\Apps\\Lexoria\\unins000.exe\"", "D:\\Apps\\Lexoria\\"},
      {"\"C:\\Program Files\\Lexoria\\unins000.exe\" /SILENT", "C:\\Program Files\\Lexoria\\"},
      {"\"D:\\Lexoria\\unins000.exe\" /LOG=\"C:\\Temp\\u.log\"", "D:\\Lexoria\\"},
      {"\"D:\\Apps\\Lexoria\\unins000.exe", "D:\\Apps\\Lexoria\\"},
      {"unins000.exe /LOG=C:\\Temp\\u.log", "unins000.exe /LOG=C:\\Temp\\"},
      {"unins000.exe", std::nullopt},
      {"", std::nullopt},
      {"\\", std::nullopt},
      {"x", std::nullopt},
      {"\\x", "\\"},
      {"\"", std::nullopt},
      {"\"\"", std::nullopt},
      {"\"\\\"", std::nullopt},
      {"\"unins000.exe\" C:\\x\\y", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(UninstallStringDirectory(row.value), row.expected) << "value: " << row.value;
  }
}

// Tests which installation directories name the same place from any current
// directory: a drive with its root, or a server and a share.
TEST(IsAbsolutePathTest, OnlyDriveRootsAndUncSharesAreAbsolute) {
  const std::pair<const char*, bool> rows[] = {
      {"C:\\Program Files\\Lexoria\\", true},
      {"d:\\", true},
      {"\\\\server\\share\\Lexoria\\", true},
      {"\\\\server\\share", true},
      {"Lexoria\\", false},
      {"", false},
      {"\\Program Files\\Lexoria\\", false},
      {"C:Lexoria\\", false},
      {"C:", false},
      {"1:\\Lexoria\\", false},
      {"\\\\server\\", false},
      {"\\\\server\\\\Lexoria\\", false},
      {"\\\\\\share\\", false},
  };
  for (const auto& [path, absolute] : rows) EXPECT_EQ(IsAbsolutePath(path), absolute) << path;
}

// Tests a typical 64-bit NT system: every field of discovery, and one
// open-read-close cycle per key in the documented order.
TEST_F(EnvironmentTest, FillsEveryFieldOnATypicalSystem) {
  fake_.registry.SetString(kHkeyLocalMachine, kEntry, "UninstallString",
                           "D:\\Apps\\Lexoria\\unins000.exe");
  fake_.processes.is_admin = true;

  ASSERT_TRUE(DiscoverEnvironment(s_));

  EXPECT_EQ(ctx_.SystemDir, "C:\\Windows\\system32\\");
  EXPECT_EQ(ctx_.WindowsDir, "C:\\Windows\\");
  EXPECT_TRUE(ctx_.IsAdmin);
  EXPECT_EQ(ctx_.TempDir, "C:\\Users\\u\\Temp\\");
  EXPECT_EQ(ctx_.CommonDesktopDir, "C:\\Users\\Public\\Desktop\\");
  EXPECT_EQ(ctx_.CommonProgramsDir, "C:\\ProgramData\\Start Menu\\Programs\\");
  EXPECT_EQ(ctx_.UserProgramsDir, "C:\\Users\\u\\Start Menu\\Programs\\");
  EXPECT_EQ(ctx_.UserDesktopDir, "C:\\Users\\u\\Desktop\\");
  EXPECT_EQ(ctx_.StartupDir, "C:\\Users\\u\\Start Menu\\Programs\\Startup\\");
  EXPECT_EQ(ctx_.UninstallKeyRoot, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  EXPECT_EQ(ctx_.VendorKeyPath, "Software\\Orvane\\Lexoria\\");
  EXPECT_EQ(ctx_.CommonGroupDir, "C:\\ProgramData\\Start Menu\\Programs\\Lexoria update\\");
  EXPECT_EQ(ctx_.CommonGroupDirAlt, "C:\\ProgramData\\Start Menu\\Programs\\Обновление Lexoria\\");
  EXPECT_EQ(ctx_.UserGroupDirRu, "C:\\Users\\u\\Start Menu\\Programs\\Обновление Lexoria\\");
  EXPECT_EQ(ctx_.UserGroupDirEn, "C:\\Users\\u\\Start Menu\\Programs\\Lexoria update\\");
  EXPECT_EQ(ctx_.InstallDir, "D:\\Apps\\Lexoria\\");
  EXPECT_EQ(ctx_.Wow64UninstallKey, "");
  EXPECT_TRUE(fake_.dialogs.calls().empty());

  // Row 1, rows 2 and 3, rows 4 to 6, row 7: four keys, each opened once;
  // row 8 is not read when row 7 found the entry.
  EXPECT_EQ(CallsContaining("RegOpenKeyExA"), 4);
  EXPECT_EQ(CallsContaining("RegCloseKey"), 4);
  EXPECT_EQ(CallsContaining("WOW6432NODE"), 0);
  EXPECT_EQ(CallsContaining("RegCreateKeyExA"), 0) << "discovery must create nothing";
  ExpectOneKeyAtATime();
}

// Tests where InstallDir and Wow64UninstallKey come from: the entry in the
// 64-bit view, else under WOW6432Node, else the program-files default; with
// the quoted form mended and values without a directory part passed over.
TEST_F(EnvironmentTest, FindsTheInstallationDirectory) {
  struct Row {
    const char* message;
    std::function<void(FakeRegistry&)> scene;
    std::string install_dir;
    std::string wow64_key;
  };
  const std::string wow_key = kWowEntry;
  const Row rows[] = {
      {"entry in the 64-bit view",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString",
                     "D:\\Apps\\Lexoria\\unins000.exe");
       },
       "D:\\Apps\\Lexoria\\", ""},
      {"entry only under WOW6432Node (a 32-bit installer's)",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString",
                     "C:\\Program Files (x86)\\Lexoria\\unins000.exe", View::k32);
       },
       "C:\\Program Files (x86)\\Lexoria\\", wow_key},
      {"entries in both views: the 64-bit one wins",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "D:\\A\\unins000.exe");
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "D:\\B\\unins000.exe",
                     View::k32);
       },
       "D:\\A\\", ""},
      {"64-bit key without UninstallString: WOW6432Node is read",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "DisplayName", "Lexoria");
         r.SetString(kHkeyLocalMachine, kWowEntry, "UninstallString", "E:\\L\\unins000.exe");
       },
       "E:\\L\\", wow_key},
      {"no entry at all: the program-files default", [](FakeRegistry&) {},
       "C:\\Program Files\\Lexoria\\", ""},
      {"no entry, ProgramFilesDir with its own backslash",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir", "C:\\PF\\");
       },
       "C:\\PF\\Lexoria\\", ""},
      {"no entry and no ProgramFilesDir: the relative default",
       [](FakeRegistry& r) { r.DeleteKey(kHkeyLocalMachine, kCurrentVersion); }, "Lexoria\\", ""},
      {"no entry and the machine keys refuse full access: the relative default",
       [](FakeRegistry& r) { r.MakeReadOnly(kHkeyLocalMachine, kCurrentVersion); }, "Lexoria\\",
       ""},
      {"quoted value with an argument",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString",
                     "\"C:\\Program Files\\Lexoria\\unins000.exe\" /SILENT");
       },
       "C:\\Program Files\\Lexoria\\", ""},
      {"quoted value under WOW6432Node",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kWowEntry, "UninstallString",
                     "\"D:\\Lexoria\\unins000.exe\"");
       },
       "D:\\Lexoria\\", wow_key},
      {"value without a backslash counts as no entry",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "unins000.exe");
       },
       "C:\\Program Files\\Lexoria\\", ""},
      {"empty value counts as no entry; WOW6432Node is read",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "");
         r.SetString(kHkeyLocalMachine, kWowEntry, "UninstallString", "F:\\L\\u.exe");
       },
       "F:\\L\\", wow_key},
      {"value ending in a backslash names the parent",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "D:\\Apps\\Lexoria\\");
       },
       "D:\\Apps\\", ""},
      {"REG_EXPAND_SZ value taken unexpanded",
       [](FakeRegistry& r) {
         r.SetExpandString(kHkeyLocalMachine, kEntry, "UninstallString",
                           "%ProgramFiles%\\Lexoria\\unins000.exe");
       },
       "%ProgramFiles%\\Lexoria\\", ""},
      {"WOW6432Node entry with a directory-less value stays unfound",
       [](FakeRegistry& r) { r.SetString(kHkeyLocalMachine, kWowEntry, "UninstallString", "u"); },
       "C:\\Program Files\\Lexoria\\", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    SetupContext ctx;
    ctx.ProductShortName = "Lexoria";
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir",
                            "C:\\Program Files");
    row.scene(fake.registry);
    Services s{ctx, fake.os, progress_, lang_};

    ASSERT_TRUE(DiscoverEnvironment(s));

    EXPECT_EQ(ctx.InstallDir, row.install_dir);
    EXPECT_EQ(ctx.Wow64UninstallKey, row.wow64_key);
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
    EXPECT_TRUE(fake.dialogs.calls().empty());
  }
}

// Tests that on 32-bit Windows (no registry views) an entry is found in the
// plain key and the WOW6432Node form, which does not exist there, is harmless.
TEST_F(EnvironmentTest, WorksWithoutRegistryViews) {
  testing::FakePlatform fake;
  fake.registry.windows_64bit = false;
  SetupContext ctx;
  ctx.ProductShortName = "Lexoria";
  ctx.SharedRegistry = std::make_unique<TRegistry>(fake.registry, platform::kKeyAllAccess);
  fake.registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir",
                          "C:\\Program Files");
  Services s{ctx, fake.os, progress_, lang_};

  ASSERT_TRUE(DiscoverEnvironment(s));
  EXPECT_EQ(ctx.InstallDir, "C:\\Program Files\\Lexoria\\");
  EXPECT_EQ(ctx.Wow64UninstallKey, "");

  fake.registry.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "C:\\L\\unins000.exe");
  ASSERT_TRUE(DiscoverEnvironment(s));
  EXPECT_EQ(ctx.InstallDir, "C:\\L\\");
  EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
}

// Tests that "Common Programs" is read on the NT family only, and that
// CommonProgramsDir falls back to UserProgramsDir when it gives nothing.
TEST_F(EnvironmentTest, CommonProgramsOnlyOnNtWithFallback) {
  struct Row {
    const char* message;
    uint32_t platform_id;
    bool version_query_fails;
    std::optional<std::string> common_programs;  // the HKLM value, if any
    std::string expected;
    bool queried;  // "Common Programs" was asked for
  };
  const std::string user = "C:\\Users\\u\\Start Menu\\Programs\\";
  const Row rows[] = {
      {"NT with the value", 2, false, "C:\\All\\Programs", "C:\\All\\Programs\\", true},
      {"NT without the value", 2, false, std::nullopt, user, true},
      {"NT with an empty value", 2, false, "", user, true},
      {"NT with a one-letter value", 2, false, "C", "C\\", true},
      {"9x family: the value is not read", 1, false, "C:\\All\\Programs", user, false},
      {"version query refused: not read", 2, true, "C:\\All\\Programs", user, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    SetupContext ctx;
    ctx.ProductShortName = "Lexoria";
    ctx.UpdateTitleEn = "Lexoria update";
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.system.version.platform_id = row.platform_id;
    fake.system.extended_version_fails = row.version_query_fails;
    fake.system.plain_version_fails = row.version_query_fails;
    fake.registry.SetString(kHkeyCurrentUser, kShellFolders, "Programs", user);
    fake.registry.SetString(kHkeyLocalMachine, kShellFolders, "Common Desktop", "C:\\Pub");
    if (row.common_programs) {
      fake.registry.SetString(kHkeyLocalMachine, kShellFolders, "Common Programs",
                              *row.common_programs);
    }
    Services s{ctx, fake.os, progress_, lang_};

    ASSERT_TRUE(DiscoverEnvironment(s));

    EXPECT_EQ(ctx.CommonProgramsDir, row.expected);
    EXPECT_EQ(ctx.CommonGroupDir, row.expected + "Lexoria update\\");
    EXPECT_EQ(ctx.CommonDesktopDir, "C:\\Pub\\");
    int queries = 0;
    for (const std::string& call : fake.registry.Calls()) {
      if (call.find("RegQueryValueExA") == 0 && call.find("COMMON PROGRAMS") != std::string::npos) {
        ++queries;
      }
    }
    EXPECT_EQ(queries > 0, row.queried);
  }
}

// Tests the program groups: only the all-users pair follows the interface
// language; the per-user pair keeps its Russian and English order.
TEST_F(EnvironmentTest, ExchangesOnlyTheAllUsersGroupsForRussian) {
  for (const bool russian : {false, true}) {
    SCOPED_TRACE(russian ? "Russian interface" : "English interface");
    ctx_.RussianUi = russian;
    ASSERT_TRUE(DiscoverEnvironment(s_));
    const std::string common = "C:\\ProgramData\\Start Menu\\Programs\\";
    const std::string user = "C:\\Users\\u\\Start Menu\\Programs\\";
    EXPECT_EQ(ctx_.CommonGroupDir,
              common + (russian ? "Обновление Lexoria\\" : "Lexoria update\\"));
    EXPECT_EQ(ctx_.CommonGroupDirAlt,
              common + (russian ? "Lexoria update\\" : "Обновление Lexoria\\"));
    EXPECT_EQ(ctx_.UserGroupDirRu, user + "Обновление Lexoria\\");
    EXPECT_EQ(ctx_.UserGroupDirEn, user + "Lexoria update\\");
  }
}

// Tests the directories that come from kernel32 and the environment, and the
// administrator flag, when they give nothing: empty texts, never a lone "\".
TEST_F(EnvironmentTest, EmptySourcesGiveEmptyDirectories) {
  fake_.system.environment.erase("TEMP");
  fake_.system.system_dir = std::string(300, 'x');  // does not fit 255 characters
  fake_.system.windows_dir = "";
  fake_.processes.is_admin = false;
  fake_.registry.DeleteKey(kHkeyCurrentUser, kShellFolders);
  fake_.registry.DeleteKey(kHkeyLocalMachine, kShellFolders);

  ASSERT_TRUE(DiscoverEnvironment(s_));

  EXPECT_EQ(ctx_.TempDir, "");
  EXPECT_EQ(ctx_.SystemDir, "");
  EXPECT_EQ(ctx_.WindowsDir, "");
  EXPECT_FALSE(ctx_.IsAdmin);
  EXPECT_EQ(ctx_.CommonDesktopDir, "");
  EXPECT_EQ(ctx_.CommonProgramsDir, "");
  EXPECT_EQ(ctx_.UserProgramsDir, "");
  EXPECT_EQ(ctx_.UserDesktopDir, "");
  EXPECT_EQ(ctx_.StartupDir, "");
  EXPECT_EQ(ctx_.CommonGroupDir, "Lexoria update\\");
  EXPECT_EQ(ctx_.UserGroupDirRu, "Обновление Lexoria\\");
  EXPECT_EQ(ctx_.InstallDir, "C:\\Program Files\\Lexoria\\");
  ExpectOneKeyAtATime();
}

// Tests that an unreadable per-user shell folder gives the "No access to
// system registry" box in the interface language and false, with the key
// closed, the earlier fields set and the later ones untouched.
TEST_F(EnvironmentTest, UnreadableUserShellFolderIsReportedAndStops) {
  struct Row {
    const char* message;
    std::function<void(FakeRegistry&)> fault;
    bool russian;
  };
  const Row rows[] = {
      {"REG_DWORD Programs",
       [](FakeRegistry& r) { r.SetDword(kHkeyCurrentUser, kShellFolders, "Programs", 7); }, false},
      {"REG_BINARY Desktop, Russian box",
       [](FakeRegistry& r) {
         r.SetValue(kHkeyCurrentUser, kShellFolders, "Desktop", platform::kRegBinary, {1, 2});
       },
       true},
      {"Startup vanishing between the queries",
       [](FakeRegistry& r) {
         r.FailDataQuery(kHkeyCurrentUser, kShellFolders, "Startup", platform::kErrorFileNotFound);
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    SetupContext ctx;
    ctx.ProductShortName = "Lexoria";
    ctx.UpdateTitleRu = "Обновление Lexoria";
    ctx.UpdateTitleEn = "Lexoria update";
    ctx.RussianUi = row.russian;
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.registry.SetString(kHkeyLocalMachine, kShellFolders, "Common Desktop", "C:\\Pub");
    fake.registry.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "D:\\L\\u.exe");
    fake.registry.SetString(kHkeyCurrentUser, kShellFolders, "Programs", "C:\\P");
    fake.registry.SetString(kHkeyCurrentUser, kShellFolders, "Desktop", "C:\\D");
    fake.registry.SetString(kHkeyCurrentUser, kShellFolders, "Startup", "C:\\S");
    row.fault(fake.registry);
    Services s{ctx, fake.os, progress_, lang_};

    EXPECT_FALSE(DiscoverEnvironment(s));

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const testing::BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.text,
              row.russian ? u"Нет доступа к системному реестру" : u"No access to system registry");
    EXPECT_EQ(box.type, 0x00200010u);
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
    EXPECT_EQ(ctx.SystemDir, "C:\\Windows\\system32\\");
    EXPECT_EQ(ctx.CommonDesktopDir, "C:\\Pub\\");
    EXPECT_EQ(ctx.UninstallKeyRoot, "");
    EXPECT_EQ(ctx.VendorKeyPath, "");
    EXPECT_EQ(ctx.CommonGroupDir, "");
    EXPECT_EQ(ctx.UserGroupDirEn, "");
    EXPECT_EQ(ctx.InstallDir, "");
    EXPECT_EQ(ctx.Wow64UninstallKey, "");
  }
}

// Tests that a failure in the machine keys (rows 1, 2, 3, 7 and 8) is not
// turned into a box: it leaves discovery as ERegistryException, the key
// closed on the way out.
TEST_F(EnvironmentTest, MachineKeyFailuresPropagate) {
  struct Row {
    const char* message;
    std::function<void(FakeRegistry&)> fault;
  };
  const Row rows[] = {
      {"REG_DWORD ProgramFilesDir",
       [](FakeRegistry& r) {
         r.SetDword(kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir", 1);
       }},
      {"REG_DWORD Common Desktop",
       [](FakeRegistry& r) { r.SetDword(kHkeyLocalMachine, kShellFolders, "Common Desktop", 1); }},
      {"REG_MULTI_SZ Common Programs",
       [](FakeRegistry& r) {
         r.SetValue(kHkeyLocalMachine, kShellFolders, "Common Programs", platform::kRegMultiSz,
                    {'a', 0, 0});
       }},
      {"REG_DWORD UninstallString in the 64-bit view",
       [](FakeRegistry& r) { r.SetDword(kHkeyLocalMachine, kEntry, "UninstallString", 1); }},
      {"REG_DWORD UninstallString under WOW6432Node",
       [](FakeRegistry& r) { r.SetDword(kHkeyLocalMachine, kWowEntry, "UninstallString", 1); }},
      {"UninstallString vanishing between the queries",
       [](FakeRegistry& r) {
         r.SetString(kHkeyLocalMachine, kEntry, "UninstallString", "D:\\L\\u.exe");
         r.FailDataQuery(kHkeyLocalMachine, kEntry, "UninstallString",
                         platform::kErrorFileNotFound);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    SetupContext ctx;
    ctx.ProductShortName = "Lexoria";
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    row.fault(fake.registry);
    Services s{ctx, fake.os, progress_, lang_};

    EXPECT_THROW(DiscoverEnvironment(s), ERegistryException);
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
    EXPECT_FALSE(ctx.SharedRegistry->HasOpenKey());
    EXPECT_TRUE(fake.dialogs.calls().empty());
  }
}

}  // namespace
}  // namespace lexoria
