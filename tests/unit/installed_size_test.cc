#include "install/installed_size.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "install/pinned_folder.h"
#include "system/registry_accessor.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using testing::FakeFileSystem;
using testing::FakePlatform;
using testing::View;

constexpr char kDir[] = "C:\\Program Files\\Lexoria\\";
constexpr uint64_t kGiB = uint64_t{1} << 30;

// kDir\sub\deeper\a (1 KiB) beside C:\Elsewhere\top and \deeper\big, and a
// user's `change` right before the walk opens kDir + `name`.
std::function<void(FakeFileSystem&)> ChangedBeforeOpening(std::string name,
                                                          void (*change)(FakeFileSystem&)) {
  return [name, change](FakeFileSystem& f) {
    f.AddSizedFile("C:\\Elsewhere\\top", 20 * 1024);
    f.AddSizedFile("C:\\Elsewhere\\deeper\\big", 50 * 1024);
    f.AddSizedFile(std::string(kDir) + "sub\\deeper\\a", 1024);
    f.on_call = [&f, name, change, done = false](const std::string& call) mutable {
      if (done || call.rfind("CreateFileA " + std::string(kDir) + name + " ", 0) != 0) return;
      done = true;
      change(f);
    };
  };
}
void SwapSubForJunction(FakeFileSystem& f) {
  if (f.MoveFileExA(std::string(kDir) + "sub", std::string(kDir) + "old", 0)) {
    f.AddJunction(std::string(kDir) + "sub", "C:\\Elsewhere");
  }
}

// Tests the size walk over trees laid out row by row.
TEST(EstimateInstalledSizeTest, SumsTheTreeInWholeKib) {
  struct Row {
    const char* what;
    std::function<void(FakeFileSystem&)> lay_out;
    std::string directory;
    int32_t expected;
  } rows[] = {
      {"empty existing directory", [](FakeFileSystem& f) { f.AddDirectory(kDir); }, kDir, 0},
      {"missing directory", [](FakeFileSystem&) {}, kDir, -1},
      {"empty path", [](FakeFileSystem& f) { f.AddDirectory(kDir); }, "", -1},
      {"path of a file", [](FakeFileSystem& f) { f.AddFile("C:\\Program Files\\Lexoria", "x"); },
       "C:\\Program Files\\Lexoria", -1},
      {"a single file of 1023 bytes gives 0",
       [](FakeFileSystem& f) { f.AddFile(std::string(kDir) + "a", std::string(1023, 'a')); }, kDir,
       0},
      {"1023 + 1 bytes in the tree give 1",
       [](FakeFileSystem& f) {
         f.AddFile(std::string(kDir) + "a", std::string(1023, 'a'));
         f.AddFile(std::string(kDir) + "sub\\deeper\\b", "b");
       },
       kDir, 1},
      {"path without trailing backslash",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "a", 4096); },
       "C:\\Program Files\\Lexoria", 4},
      {"hidden and system files count",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "hidden", 2048, platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "system", 1024,
                        platform::kFileAttributeSystem | platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "readonly", 1024, platform::kFileAttributeReadonly);
       },
       kDir, 4},
      {"hidden directories are walked",
       [](FakeFileSystem& f) {
         f.AddDirectory(std::string(kDir) + "h");
         f.SetAttributes(std::string(kDir) + "h",
                         platform::kFileAttributeDirectory | platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "h\\x", 10240);
       },
       kDir, 10},
      {"several levels, breadth and depth",
       [](FakeFileSystem& f) {
         for (const char* path : {"a", "b\\c", "b\\d\\e", "f\\g\\h\\i\\j", "b\\d\\k"}) {
           f.AddSizedFile(std::string(kDir) + path, 1024);
         }
       },
       kDir, 5},
      {"an unreadable subdirectory adds nothing and the walk goes on",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "locked\\inside", 100 * 1024);
         f.DenyListing(std::string(kDir) + "locked");
         f.AddSizedFile(std::string(kDir) + "open\\inside", 3 * 1024);
         f.AddSizedFile(std::string(kDir) + "top", 1024);
       },
       kDir, 4},
      {"an unreadable start directory gives 0",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 4096);
         f.DenyListing(kDir);
       },
       kDir, 0},
      {"a junction cycle is not walked into",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "data\\a", 2048);
         f.AddJunction(std::string(kDir) + "data\\loop", kDir);
       },
       kDir, 2},
      {"a junction to a tree elsewhere is not counted",
       [](FakeFileSystem& f) {
         f.AddSizedFile("C:\\Elsewhere\\big", 50 * 1024);
         f.AddJunction(std::string(kDir) + "link", "C:\\Elsewhere");
         f.AddSizedFile(std::string(kDir) + "a", 1024);
       },
       kDir, 1},
      {"a subfolder swapped for a junction after the listing that found it",
       ChangedBeforeOpening("sub", SwapSubForJunction), kDir, 0},
      {"a walked folder cannot be swapped while a folder below it waits",
       ChangedBeforeOpening("sub\\deeper", SwapSubForJunction), kDir, 1},
      {"a walked folder emptied and made a junction where it stands",
       ChangedBeforeOpening("sub\\deeper",
                            [](FakeFileSystem& f) {
                              f.DeleteFileA(std::string(kDir) + "sub\\deeper\\a");
                              f.RemoveDirectoryA(std::string(kDir) + "sub\\deeper");
                              f.AddJunction(std::string(kDir) + "sub", "C:\\Elsewhere");
                            }),
       kDir, 0},
      {"a single file of 5 GiB",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "huge", 5 * kGiB); }, kDir,
       5 * 1024 * 1024},
      {"files adding up past 4 GiB",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 3 * kGiB);
         f.AddSizedFile(std::string(kDir) + "sub\\b", 3 * kGiB + 1024);
       },
       kDir, 6 * 1024 * 1024 + 1},
      {"saturates at 2^31-1 KiB",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 2048 * kGiB);
         f.AddSizedFile(std::string(kDir) + "b", 1024);
       },
       kDir, 0x7FFFFFFF},
      {"just below the saturation",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "a", 2048 * kGiB - 1024); }, kDir,
       0x7FFFFFFF},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeFileSystem files;
    row.lay_out(files);
    EXPECT_EQ(EstimateInstalledSize(files, row.directory), row.expected);
    EXPECT_EQ(files.OpenFindCount(), 0u) << "every enumeration is closed";
    EXPECT_EQ(files.OpenHandleCount(), 0u) << "every folder is let go";
  }
}

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";

class RecordInstalledSizeTest : public ::testing::Test {
 protected:
  RecordInstalledSizeTest() {
    ctx_.InstallDir = kDir;
    ctx_.UninstallKeyRoot = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    ctx_.ProductShortName = "Lexoria";
    // As start-up makes it on 64-bit Windows: the 64-bit view.
    ctx_.SharedRegistry = std::make_unique<TRegistry>(
        fake_.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake_.files.AddSizedFile(std::string(kDir) + "Lexoria.exe", 3 * 1024 * 1024);
    fake_.files.AddSizedFile(std::string(kDir) + "lxrq.pak", 88000000);
    ctx_.InstallFolder.reset(new PinnedFolder(fake_.os, kDir));
  }

  std::optional<uint32_t> Recorded(View view = View::k64) const {
    const auto value =
        fake_.registry.GetValue(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize", view);
    if (!value) return std::nullopt;
    EXPECT_EQ(value->type, platform::kRegDword);
    EXPECT_EQ(value->data.size(), 4u);
    uint32_t number = 0;
    for (size_t i = 0; i < 4 && i < value->data.size(); ++i) number |= value->data[i] << (8 * i);
    return number;
  }

  FakePlatform fake_;
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

// Tests that the size of InstallDir in KiB is written as REG_DWORD
// "EstimatedSize" of the existing entry, replacing the old value, and that
// the key is closed.
TEST_F(RecordInstalledSizeTest, WritesTheSizeIntoTheEntry) {
  fake_.registry.SetDword(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize", 12);
  RecordInstalledSize(s_);
  EXPECT_EQ(Recorded(), (3u * 1024 * 1024 + 88000000u) >> 10);
  EXPECT_EQ(fake_.registry.OpenKeyCount(), 0u);
  EXPECT_FALSE(ctx_.SharedRegistry->HasOpenKey());
}

// Tests that the size goes into the entry discovery found: the one under
// UninstallKeyRoot, or the WOW6432Node entry named by Wow64UninstallKey; and
// that no entry key is ever created, in either view.
TEST_F(RecordInstalledSizeTest, WritesOnlyIntoTheEntryDiscoveryFound) {
  constexpr uint32_t kKib = (3u * 1024 * 1024 + 88000000u) >> 10;
  const std::string wow64_key =
      "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexoria";
  struct Row {
    const char* what;
    bool native_entry;  // the entry exists in the 64-bit view
    bool wow64_entry;   // the entry exists under WOW6432Node (the 32-bit view)
    bool wow64_found;   // discovery set Wow64UninstallKey
    std::optional<uint32_t> native, wow64;
  } rows[] = {
      {"native entry", true, false, false, kKib, std::nullopt},
      {"native entry beside a WOW6432Node one", true, true, false, kKib, std::nullopt},
      {"found only under WOW6432Node", false, true, true, std::nullopt, kKib},
      {"no entry at all", false, false, false, std::nullopt, std::nullopt},
      {"WOW6432Node entry gone since discovery", false, false, true, std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    SetupContext ctx;
    ctx.InstallDir = kDir;
    ctx.UninstallKeyRoot = ctx_.UninstallKeyRoot;
    ctx.ProductShortName = "Lexoria";
    if (row.wow64_found) ctx.Wow64UninstallKey = wow64_key;
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.files.AddSizedFile(std::string(kDir) + "Lexoria.exe", 3 * 1024 * 1024);
    fake.files.AddSizedFile(std::string(kDir) + "lxrq.pak", 88000000);
    if (row.native_entry) fake.registry.AddKey(platform::kHkeyLocalMachine, kUninstallKey);
    if (row.wow64_entry) {
      fake.registry.AddKey(platform::kHkeyLocalMachine, kUninstallKey, View::k32);
    }
    ctx.InstallFolder.reset(new PinnedFolder(fake.os, kDir));
    ProgressWindow progress(fake.os);
    Services s{ctx, fake.os, progress, lang_};

    RecordInstalledSize(s);

    const auto kib = [&](View view) -> std::optional<uint32_t> {
      const auto value =
          fake.registry.GetValue(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize", view);
      if (!value || value->data.size() != 4) return std::nullopt;
      return value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
             (static_cast<uint32_t>(value->data[3]) << 24);
    };
    EXPECT_EQ(kib(View::k64), row.native);
    EXPECT_EQ(kib(View::k32), row.wow64);
    EXPECT_EQ(fake.registry.KeyExists(platform::kHkeyLocalMachine, kUninstallKey, View::k64),
              row.native_entry);
    EXPECT_EQ(fake.registry.KeyExists(platform::kHkeyLocalMachine, kUninstallKey, View::k32),
              row.wow64_entry);
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
  }
}

// Tests that without a folder the run holds (none at InstallDir) nothing is
// written: the old value stays (or stays absent) in the entry.
TEST_F(RecordInstalledSizeTest, MissingDirectoryWritesNothing) {
  struct Row {
    const char* what;
    std::optional<uint32_t> before;
  } rows[] = {{"value present", 4242}, {"no value", std::nullopt}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    SetupContext ctx;
    ctx.InstallDir = "C:\\Gone\\";
    ctx.UninstallKeyRoot = ctx_.UninstallKeyRoot;
    ctx.ProductShortName = "Lexoria";
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.registry.AddKey(platform::kHkeyLocalMachine, kUninstallKey);
    if (row.before) {
      fake.registry.SetDword(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize",
                             *row.before);
    }
    ProgressWindow progress(fake.os);
    Services s{ctx, fake.os, progress, lang_};
    RecordInstalledSize(s);
    EXPECT_TRUE(fake.registry.KeyExists(platform::kHkeyLocalMachine, kUninstallKey));
    const auto value =
        fake.registry.GetValue(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize");
    EXPECT_EQ(value.has_value(), row.before.has_value());
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
  }
}

// Tests that a refused write raises the accessor's failure to the caller
// after the key is closed, and that an entry that cannot be opened is left
// unwritten without a failure.
TEST_F(RecordInstalledSizeTest, RefusalsRaiseOrWriteNothingAfterClosingTheKey) {
  struct Row {
    const char* what;
    std::function<void(testing::FakeRegistry&)> arrange;
    bool raises;
  } rows[] = {
      {"write refused",
       [](testing::FakeRegistry& r) { r.FailWrites(platform::kErrorAccessDenied); }, true},
      {"key denied",
       [](testing::FakeRegistry& r) { r.DenyAccess(platform::kHkeyLocalMachine, kUninstallKey); },
       false},
      {"machine keys read-only",
       [](testing::FakeRegistry& r) { r.MakeReadOnly(platform::kHkeyLocalMachine, "Software"); },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform fake;
    SetupContext ctx;
    ctx.InstallDir = kDir;
    ctx.UninstallKeyRoot = ctx_.UninstallKeyRoot;
    ctx.ProductShortName = "Lexoria";
    ctx.SharedRegistry = std::make_unique<TRegistry>(
        fake.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    fake.files.AddSizedFile(std::string(kDir) + "a", 4096);
    fake.registry.AddKey(platform::kHkeyLocalMachine, kUninstallKey);
    row.arrange(fake.registry);
    ctx.InstallFolder.reset(new PinnedFolder(fake.os, kDir));
    ProgressWindow progress(fake.os);
    Services s{ctx, fake.os, progress, lang_};
    if (row.raises) {
      EXPECT_THROW(RecordInstalledSize(s), ERegistryException);
    } else {
      EXPECT_NO_THROW(RecordInstalledSize(s));
    }
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
    EXPECT_FALSE(ctx.SharedRegistry->HasOpenKey());
    EXPECT_FALSE(
        fake.registry.GetValue(platform::kHkeyLocalMachine, kUninstallKey, "EstimatedSize"));
  }
}

}  // namespace
}  // namespace lexoria
