#include "system/registry_accessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_registry.h"

namespace lexoria {
namespace {

using ::lexoria::testing::FakeRegistry;
using ::lexoria::testing::View;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class RegistryAccessorTest : public ::testing::Test {
 protected:
  // Every test leaves the fake with no key open: the accessor closes what it
  // opens, on every path.
  void TearDown() override {
    EXPECT_EQ(fake_.OpenKeyCount(), 0u) << "keys left open: " << fake_.OpenKeyPaths().size();
  }

  FakeRegistry fake_;
};

// Tests that a new accessor starts at HKEY_CURRENT_USER with full access, lazy
// write on and no key open.
TEST_F(RegistryAccessorTest, StartsAtCurrentUserWithNoKeyOpen) {
  TRegistry registry(fake_);
  EXPECT_EQ(registry.RootKey(), kHkeyCurrentUser);
  EXPECT_EQ(registry.Access(), 0xF003Fu);
  EXPECT_TRUE(registry.LazyWrite());
  EXPECT_FALSE(registry.HasOpenKey());
  EXPECT_EQ(registry.CurrentPath(), "");
  EXPECT_TRUE(fake_.Calls().empty());

  TRegistry wide(fake_, 0xF013F);
  EXPECT_EQ(wide.Access(), 0xF013Fu);
  EXPECT_EQ(wide.RootKey(), kHkeyCurrentUser);
}

// Tests that relative and absolute paths open below the right base and build
// the current path as documented.
TEST_F(RegistryAccessorTest, RelativeAndAbsolutePaths) {
  fake_.AddKey(kHkeyCurrentUser, "Software\\Orvane\\Lexoria\\Settings");
  fake_.AddKey(kHkeyCurrentUser, "Other");
  TRegistry registry(fake_);

  ASSERT_TRUE(registry.OpenKey("Software\\Orvane", false));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Orvane");

  // Relative while a key is open: below the open key.
  ASSERT_TRUE(registry.OpenKey("Lexoria", false));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Orvane\\Lexoria");
  // The new key is opened first, then the old one closed.
  const std::vector<std::string> tail(fake_.Calls().end() - 2, fake_.Calls().end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "RegOpenKeyExA HKCU\\SOFTWARE\\ORVANE\\LEXORIA sam=0x000F003F",
                      "RegCloseKey HKCU\\SOFTWARE\\ORVANE"}));

  // Absolute: below the root, the backslash dropped.
  ASSERT_TRUE(registry.OpenKey("\\Other", false));
  EXPECT_EQ(registry.CurrentPath(), "Other");
  EXPECT_EQ(fake_.OpenKeyPaths(), std::vector<std::string>{"HKCU\\OTHER"});

  // A relative name that exists only below the root fails below "Other".
  EXPECT_FALSE(registry.OpenKey("Software", false));
  EXPECT_EQ(registry.CurrentPath(), "Other");
  registry.CloseKey();

  // Relative with no key open: below the root.
  ASSERT_TRUE(registry.OpenKey("Software\\Orvane\\Lexoria\\Settings", false));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Orvane\\Lexoria\\Settings");
  registry.CloseKey();
  EXPECT_FALSE(registry.HasOpenKey());
  EXPECT_EQ(registry.CurrentPath(), "");
}

// Tests that a failed open keeps the previous key open and current, and a
// successful one closes it.
TEST_F(RegistryAccessorTest, FailedOpenKeepsPreviousKey) {
  fake_.AddKey(kHkeyCurrentUser, "A");
  fake_.AddKey(kHkeyCurrentUser, "B");
  fake_.AddKey(kHkeyCurrentUser, "Denied");
  fake_.DenyAccess(kHkeyCurrentUser, "Denied");
  TRegistry registry(fake_);
  ASSERT_TRUE(registry.OpenKey("A", false));
  const platform::HKey a = registry.CurrentKey();

  EXPECT_FALSE(registry.OpenKey("\\Missing", false)) << "missing key";
  EXPECT_FALSE(registry.OpenKey("\\Denied", false)) << "refused access";
  EXPECT_EQ(registry.CurrentKey(), a);
  EXPECT_EQ(registry.CurrentPath(), "A");
  EXPECT_EQ(fake_.OpenKeyCount(), 1u);

  ASSERT_TRUE(registry.OpenKey("\\B", false));
  EXPECT_NE(registry.CurrentKey(), a);
  EXPECT_EQ(fake_.OpenKeyPaths(), std::vector<std::string>{"HKCU\\B"});
}

// Tests the create-or-open rule: create makes missing keys on the path with
// RegCreateKeyExA; an empty path opens the base key again instead.
TEST_F(RegistryAccessorTest, CreateMakesMissingKeysAndEmptyPathReopensBase) {
  TRegistry registry(fake_);
  registry.SetRootKey(kHkeyLocalMachine);
  EXPECT_FALSE(registry.OpenKey("Software\\Orvane\\New", false));
  ASSERT_TRUE(registry.OpenKey("Software\\Orvane\\New", true));
  EXPECT_EQ(fake_.Calls().back(),
            "RegCreateKeyExA HKLM\\SOFTWARE\\WOW6432NODE\\ORVANE\\NEW sam=0x000F003F "
            "options=0x00000000");
  EXPECT_TRUE(fake_.KeyExists(kHkeyLocalMachine, "Software\\Orvane\\New", View::k32));

  // An existing key is opened by create as well.
  ASSERT_TRUE(registry.OpenKey("\\Software\\Orvane", true));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Orvane");

  // Empty path: RegOpenKeyExA of the open key itself, never a create.
  const platform::HKey before = registry.CurrentKey();
  ASSERT_TRUE(registry.OpenKey("", true));
  EXPECT_EQ(fake_.Calls()[fake_.Calls().size() - 2],
            "RegOpenKeyExA HKLM\\SOFTWARE\\WOW6432NODE\\ORVANE sam=0x000F003F");
  EXPECT_NE(registry.CurrentKey(), before);
  EXPECT_EQ(fake_.OpenKeyCount(), 1u);

  // Create under a read-only machine key is refused and reported by false.
  fake_.MakeReadOnly(kHkeyLocalMachine, "Software\\Locked", View::k32);
  EXPECT_FALSE(registry.OpenKey("\\Software\\Locked\\Sub", true));
  EXPECT_FALSE(fake_.KeyExists(kHkeyLocalMachine, "Software\\Locked\\Sub", View::k32));
}

// Tests that the same root keeps the open key and another root closes it.
TEST_F(RegistryAccessorTest, SetRootKey) {
  fake_.AddKey(kHkeyCurrentUser, "A");
  TRegistry registry(fake_);
  ASSERT_TRUE(registry.OpenKey("A", false));
  registry.SetRootKey(kHkeyCurrentUser);
  EXPECT_TRUE(registry.HasOpenKey());
  EXPECT_EQ(fake_.OpenKeyCount(), 1u);

  registry.SetRootKey(kHkeyLocalMachine);
  EXPECT_FALSE(registry.HasOpenKey());
  EXPECT_EQ(registry.CurrentPath(), "");
  EXPECT_EQ(registry.RootKey(), kHkeyLocalMachine);
  EXPECT_EQ(fake_.OpenKeyCount(), 0u);
}

// Tests reading text values: each row a value as stored and what the read
// gives or raises.
TEST_F(RegistryAccessorTest, ReadStringTable) {
  struct Row {
    const char* name;
    bool present;
    uint32_t type;
    std::vector<uint8_t> data;
    const char* expected;  // null: raises
    const char* what;
  };
  const std::vector<Row> rows = {
      {"Missing", false, 0, {}, "", "missing value reads as empty"},
      {"Text", true, platform::kRegSz, {'C', ':', '\\', 0}, "C:\\", "plain REG_SZ"},
      {"Cut", true, platform::kRegSz, {'a', 'b', 'c', 0, 'x', 'y', 0}, "abc", "cut at first NUL"},
      {"NoNul", true, platform::kRegSz, {'a', 'b'}, "ab", "text without NUL"},
      {"Expand", true, platform::kRegExpandSz, {'%', 'T', '%', 0}, "%T%", "kept unexpanded"},
      {"Empty", true, platform::kRegSz, {}, "", "zero-size REG_SZ"},
      {"EmptyDword", true, platform::kRegDword, {}, "", "zero size: no type check"},
      {"Cyr", true, platform::kRegSz, {0xCF, 0xF0, 0}, "\xCF\xF0", "ANSI bytes unchanged"},
      {"Dword", true, platform::kRegDword, {1, 0, 0, 0}, nullptr, "REG_DWORD raises"},
      {"Binary", true, platform::kRegBinary, {'a', 0}, nullptr, "REG_BINARY raises"},
      {"Multi", true, platform::kRegMultiSz, {'a', 0, 0}, nullptr, "REG_MULTI_SZ raises"},
  };
  for (const Row& row : rows) {
    if (row.present) fake_.SetValue(kHkeyCurrentUser, "K", row.name, row.type, row.data);
  }
  fake_.AddKey(kHkeyCurrentUser, "K");
  TRegistry registry(fake_);
  ASSERT_TRUE(registry.OpenKey("K", false));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.expected != nullptr) {
      EXPECT_EQ(registry.ReadString(row.name), row.expected);
    } else {
      try {
        registry.ReadString(row.name);
        ADD_FAILURE() << "no exception";
      } catch (const ERegistryException& e) {
        EXPECT_NE(std::string(e.what()).find(std::string("'") + row.name + "'"), std::string::npos)
            << e.what();
      }
    }
    EXPECT_TRUE(registry.HasOpenKey()) << "the key stays open after a read";
  }
}

// Tests that a failed data query raises the message naming the value and
// leaves the key open until the caller closes it.
TEST_F(RegistryAccessorTest, FailedDataQueryRaisesNamedMessage) {
  fake_.SetString(kHkeyCurrentUser, "K", "UninstallString", "C:\\x.exe");
  fake_.FailDataQuery(kHkeyCurrentUser, "K", "UninstallString", platform::kErrorAccessDenied);
  TRegistry registry(fake_);
  ASSERT_TRUE(registry.OpenKey("K", false));
  try {
    KeyCloser closer(registry);
    registry.ReadString("UninstallString");
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'UninstallString'");
  }
  EXPECT_FALSE(registry.HasOpenKey()) << "KeyCloser closed it on the way out";
}

// Tests that no open key reads as empty text and reports no value, without
// asking the system.
TEST_F(RegistryAccessorTest, NoKeyOpenReadsNothing) {
  TRegistry registry(fake_);
  EXPECT_EQ(registry.ReadString("X"), "");
  EXPECT_FALSE(registry.ValueExists("X"));
  EXPECT_TRUE(fake_.Calls().empty());
}

// Tests that ValueExists sees values of any type and nothing else.
TEST_F(RegistryAccessorTest, ValueExists) {
  fake_.SetDword(kHkeyCurrentUser, "K", "Size", 5);
  fake_.SetString(kHkeyCurrentUser, "K", "Text", "");
  TRegistry registry(fake_);
  ASSERT_TRUE(registry.OpenKey("K", false));
  EXPECT_TRUE(registry.ValueExists("Size"));
  EXPECT_TRUE(registry.ValueExists("text")) << "names match without case";
  EXPECT_FALSE(registry.ValueExists("Missing"));
}

// Tests that integers are written as REG_DWORD, low byte first.
TEST_F(RegistryAccessorTest, WriteIntegerBytes) {
  const struct {
    int32_t value;
    std::vector<uint8_t> bytes;
  } rows[] = {
      {-1, {0xFF, 0xFF, 0xFF, 0xFF}},
      {0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {0, {0, 0, 0, 0}},
      {INT32_MIN, {0, 0, 0, 0x80}},
  };
  fake_.AddKey(kHkeyLocalMachine, kUninstall);
  TRegistry registry(fake_, 0xF013F);
  registry.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(registry.OpenKey(kUninstall, false));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    registry.WriteInteger("EstimatedSize", row.value);
    auto stored = fake_.GetValue(kHkeyLocalMachine, kUninstall, "EstimatedSize");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, platform::kRegDword);
    EXPECT_EQ(stored->data, row.bytes);
  }
  registry.CloseKey();
}

// Tests that every failed write raises the message naming the value: no key
// open, a key opened without write access, a refusing system.
TEST_F(RegistryAccessorTest, FailedWritesRaise) {
  fake_.AddKey(kHkeyCurrentUser, "K");
  TRegistry registry(fake_);
  EXPECT_THROW(registry.WriteInteger("V", 1), ERegistryException) << "no key open";

  TRegistry reader(fake_, platform::kKeyRead);
  ASSERT_TRUE(reader.OpenKey("K", false));
  EXPECT_THROW(reader.WriteInteger("V", 1), ERegistryException) << "key opened for reading";
  reader.CloseKey();

  ASSERT_TRUE(registry.OpenKey("K", false));
  fake_.FailWrites(platform::kErrorAccessDenied);
  try {
    registry.WriteInteger("EstimatedSize", 1);
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'EstimatedSize'");
  }
  EXPECT_FALSE(fake_.GetValue(kHkeyCurrentUser, "K", "EstimatedSize").has_value());
}

// Tests that with access 0xF013F a key under HKLM\Software is opened in the
// 64-bit view, and with 0xF003F (a 32-bit process) in WOW6432Node.
TEST_F(RegistryAccessorTest, AccessMaskChoosesRegistryView) {
  fake_.SetString(kHkeyLocalMachine, kUninstall, "Where", "64", View::k64);
  fake_.SetString(kHkeyLocalMachine, kUninstall, "Where", "32", View::k32);

  TRegistry wide(fake_, 0xF013F);
  wide.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(wide.OpenKey(kUninstall, false));
  EXPECT_EQ(wide.ReadString("Where"), "64");
  wide.WriteInteger("EstimatedSize", 7);
  wide.CloseKey();

  TRegistry narrow(fake_);
  narrow.SetRootKey(kHkeyLocalMachine);
  ASSERT_TRUE(narrow.OpenKey(kUninstall, false));
  EXPECT_EQ(narrow.ReadString("Where"), "32");
  narrow.CloseKey();

  EXPECT_TRUE(fake_.GetValue(kHkeyLocalMachine, kUninstall, "EstimatedSize", View::k64));
  EXPECT_FALSE(fake_.GetValue(kHkeyLocalMachine, kUninstall, "EstimatedSize", View::k32));
}

// Tests that closing flushes only with lazy write off, and that destroying
// the accessor closes its key.
TEST_F(RegistryAccessorTest, CloseFlushesOnlyWithoutLazyWriteAndDestroyCloses) {
  fake_.AddKey(kHkeyCurrentUser, "K");
  {
    TRegistry registry(fake_);
    ASSERT_TRUE(registry.OpenKey("K", false));
    registry.CloseKey();
    registry.CloseKey();  // nothing open: nothing asked of the system
    registry.SetLazyWrite(false);
    ASSERT_TRUE(registry.OpenKey("K", false));
    registry.CloseKey();
    ASSERT_TRUE(registry.OpenKey("K", false));
    EXPECT_EQ(fake_.OpenKeyCount(), 1u);
  }
  const std::vector<std::string> expected = {
      "RegOpenKeyExA HKCU\\K sam=0x000F003F",
      "RegCloseKey HKCU\\K",
      "RegOpenKeyExA HKCU\\K sam=0x000F003F",
      "RegFlushKey HKCU\\K",
      "RegCloseKey HKCU\\K",
      "RegOpenKeyExA HKCU\\K sam=0x000F003F",
      "RegFlushKey HKCU\\K",
      "RegCloseKey HKCU\\K",
  };
  EXPECT_EQ(fake_.Calls(), expected);
}

}  // namespace
}  // namespace lexoria
