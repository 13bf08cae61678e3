#include "system/settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "system/registry_accessor.h"

namespace lexoria {
namespace {

using ::lexoria::testing::FakePlatform;
using ::lexoria::testing::View;
using platform::kHkeyLocalMachine;

constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

class SettingsTest : public ::testing::Test {
 protected:
  // 64-bit Windows 10 as the setup sees it: 6.2, x64, "ver" naming 10.
  SettingsTest() {
    p_.system.version = platform::OsVersionInfo{6, 2, 9200, 2, "", 0x0100, 1};
    p_.system.native_architecture = 9;
    p_.registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", "Windows 10 Pro");
    p_.processes.process_starts = true;
    p_.files.AddDirectory("C:\\Users\\u\\Temp");
    p_.processes.on_create_process = [this](const auto& call) {
      const std::string banner = "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n";
      uint32_t written = 0;
      p_.files.WriteFile(call.child_output, banner.data(), banner.size(), &written);
    };
  }
  void TearDown() override {
    FinalizeSettings(ctx_);
    EXPECT_EQ(p_.registry.OpenKeyCount(), 0u);
  }

  FakePlatform p_;
  SetupContext ctx_;
};

// Tests the locale list: the seven identifiers, whole, and nothing else.
TEST_F(SettingsTest, RussianUiFromWholeLocaleIdentifier) {
  const struct {
    uint32_t lcid;
    bool russian;
    const char* what;
  } rows[] = {
      {0x0402, true, "Bulgarian"},
      {0x0419, true, "Russian, Russia"},
      {0x0422, true, "Ukrainian"},
      {0x0423, true, "Belarusian"},
      {0x043F, true, "Kazakh"},
      {0x0444, true, "Tatar"},
      {0x0819, true, "Russian, Moldova"},
      {0x0409, false, "English (United States)"},
      {0x0809, false, "English (United Kingdom)"},
      {0x0C19, false, "another sublanguage of Russian"},
      {0x0415, false, "Polish"},
      {0x00010419, false, "Russian with a sort order"},
      {0x00050402, false, "Bulgarian with a sort order"},
      {0x0019, false, "the neutral Russian language"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FinalizeSettings(ctx_);
    ctx_.RussianUi = !row.russian;
    p_.system.lcid = row.lcid;
    InitializeSettings(ctx_, p_.os);
    EXPECT_EQ(ctx_.RussianUi, row.russian);
  }
}

// Tests when a run counts as unattended: a window station that is not
// visible, session 0 from Windows Vista on, or a session nobody is connected
// to (disconnected: 4); a fact that cannot be read (none) leaves the run
// attended. The system account is told apart too.
TEST_F(SettingsTest, UnattendedFromWindowStationAndSession) {
  const std::optional<uint32_t> none;
  const struct {
    std::optional<uint32_t> station_flags, session;
    uint32_t major_version;
    bool system, unattended;
    std::optional<uint32_t> connect_state = platform::kWtsActive;
  } rows[] = {
      {platform::kWsfVisible, 1, 6, false, true, 4},
      {platform::kWsfVisible, 1, 6, false, false, none},
      {platform::kWsfVisible, 1, 6, false, false},
      {0, 1, 6, true, true},
      {0x0100, 1, 6, false, true},
      {platform::kWsfVisible, 0, 6, true, true},
      {platform::kWsfVisible, 0, 5, false, false},
      {none, 1, 10, false, false},
      {none, 0, 10, false, true},
      {platform::kWsfVisible, none, 10, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    FinalizeSettings(ctx_);
    ctx_ = SetupContext{};
    p_.system.window_station_flags = row.station_flags;
    p_.system.session_id = row.session;
    p_.system.version.major_version = row.major_version;
    p_.processes.is_local_system = row.system;
    p_.system.connect_state = row.connect_state;
    InitializeSettings(ctx_, p_.os);
    EXPECT_EQ(std::make_pair(ctx_.Unattended, ctx_.SystemAccount),
              std::make_pair(row.unattended, row.system));
    EXPECT_EQ(ctx_.Record.notes.size(), size_t{row.unattended} + row.system);
  }
}

// Tests the first argument: lowered A-Z only, quotes removed, empty without
// arguments.
TEST_F(SettingsTest, FirstArgumentLowersLatinLettersOnly) {
  const struct {
    const char* command_line;
    const char* expected;
  } rows[] = {
      {"\"C:\\Users\\u\\Downloads\\lexoria-update.exe\"", ""},
      {"\"C:\\Users\\u\\Downloads\\lexoria-update.exe\" MODEST", "modest"},
      {"lexoria-update.exe MoDeSt RUNAPP", "modest"},
      {"lexoria-update.exe \"Mo Dest\"", "mo dest"},
      {"lexoria-update.exe ТИХО", "ТИХО"},
      {"lexoria-update.exe \xC4\xC0Z", "\xC4\xC0z"},
      {"lexoria-update.exe    ", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command_line);
    FinalizeSettings(ctx_);
    p_.system.command_line = row.command_line;
    InitializeSettings(ctx_, p_.os);
    EXPECT_EQ(ctx_.FirstArgument, row.expected);
  }
}

// Tests that on 64-bit Windows 10 the shared accessor asks for the 64-bit view
// and a value written under HKLM\Software lands there, not in WOW6432Node.
TEST_F(SettingsTest, SixtyFourBitWindowsUsesSixtyFourBitView) {
  InitializeSettings(ctx_, p_.os);
  EXPECT_TRUE(ctx_.Is64BitWindows);
  ASSERT_NE(ctx_.SharedRegistry, nullptr);
  TRegistry& registry = *ctx_.SharedRegistry;
  EXPECT_EQ(registry.Access(), 0xF013Fu);
  EXPECT_EQ(registry.RootKey(), platform::kHkeyCurrentUser);
  EXPECT_FALSE(registry.HasOpenKey());

  registry.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(
      registry.OpenKey(std::string(kWindowsCurrentVersionKey) + "Uninstall\\Lexoria", true));
  registry.WriteInteger("EstimatedSize", 1234);
  registry.CloseKey();
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";
  EXPECT_TRUE(p_.registry.GetValue(kHkeyLocalMachine, key, "EstimatedSize", View::k64));
  EXPECT_FALSE(p_.registry.KeyExists(kHkeyLocalMachine, key, View::k32));
  EXPECT_EQ(p_.processes.create_process_calls.size(), 1u) << "the 'ver' probe ran";
  EXPECT_TRUE(p_.files.List("C:\\Users\\u\\Temp").empty());
}

// Tests that 32-bit Windows and a failed identification both give the
// default access mask.
TEST_F(SettingsTest, ThirtyTwoBitOrUnknownWindowsUsesDefaultMask) {
  p_.system.native_architecture = 0;
  InitializeSettings(ctx_, p_.os);
  EXPECT_FALSE(ctx_.Is64BitWindows);
  EXPECT_EQ(ctx_.SharedRegistry->Access(), 0xF003Fu);

  FinalizeSettings(ctx_);
  p_.system.native_architecture = 9;
  p_.system.extended_version_fails = true;
  p_.system.plain_version_fails = true;
  ctx_.Is64BitWindows = false;
  InitializeSettings(ctx_, p_.os);
  EXPECT_FALSE(ctx_.Is64BitWindows);
  EXPECT_EQ(ctx_.SharedRegistry->Access(), 0xF003Fu);
}

// Tests that the generator is seeded from the performance counter, or from
// the tick count without one: the temporary name follows the seed.
TEST_F(SettingsTest, TemporaryNameFollowsClockSeed) {
  auto name_with = [this](bool counter, int64_t value, uint32_t ticks) {
    FinalizeSettings(ctx_);
    p_.clock.has_performance_counter = counter;
    p_.clock.performance_counter = value;
    p_.clock.now_ms = ticks;
    InitializeSettings(ctx_, p_.os);
    return p_.files.Calls().back();  // the creation of the "ver" probe's file
  };
  const std::string a = name_with(true, 1, 7);
  EXPECT_EQ(name_with(true, 1, 8), a) << "the counter decides, not the ticks";
  EXPECT_NE(name_with(true, 2, 7), a);
  const std::string ticks = name_with(false, 1, 7);
  EXPECT_EQ(name_with(false, 2, 7), ticks) << "no counter: the ticks decide";
  EXPECT_NE(name_with(false, 2, 9), ticks);
}

// Tests that a second call does nothing: no second probe, the same accessor.
TEST_F(SettingsTest, SecondCallDoesNothing) {
  InitializeSettings(ctx_, p_.os);
  TRegistry* first = ctx_.SharedRegistry.get();
  p_.system.lcid = 0x0419;
  InitializeSettings(ctx_, p_.os);
  EXPECT_EQ(ctx_.SharedRegistry.get(), first);
  EXPECT_FALSE(ctx_.RussianUi);
  EXPECT_EQ(p_.processes.create_process_calls.size(), 1u);
}

// Tests that FinalizeSettings closes a key still open on the shared accessor.
TEST_F(SettingsTest, FinalizeClosesOpenKey) {
  InitializeSettings(ctx_, p_.os);
  ctx_.SharedRegistry->SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(ctx_.SharedRegistry->OpenKey(kCurrentVersion, false));
  EXPECT_EQ(p_.registry.OpenKeyCount(), 1u);
  FinalizeSettings(ctx_);
  EXPECT_EQ(ctx_.SharedRegistry, nullptr);
  EXPECT_EQ(p_.registry.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace lexoria
