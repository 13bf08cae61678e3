#include "install/version_readers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/services.h"
#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using ::lexoria::testing::FakePlatform;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// Tests the one integer conversion on every form it accepts and refuses.
TEST(StrToIntStrictTest, AcceptsOnlyWholeDecimalOrShortHexadecimal) {
  struct Row {
    const char* text;
    std::optional<int32_t> expected;
  };
  const Row rows[] = {
      {"12", 12},
      {"  12", 12},
      {"+7", 7},
      {"-7", -7},
      {"  -7", -7},
      {"0", 0},
      {"007", 7},
      {"2147483647", kMax},
      {"-2147483648", kMin},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"- 1", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {"1.5", std::nullopt},
      {"12\r", std::nullopt},
      {"$FF", 255},
      {"$ff", 255},
      {"x10", 16},
      {"X10", 16},
      {"0x10", 16},
      {"0XfF", 255},
      {"  $1", 1},
      {"$FFFFFFFF", -1},
      {"$80000000", kMin},
      {"$7FFFFFFF", kMax},
      {"$00000001", 1},
      {"-$10", -16},
      {"$123456789", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"x", std::nullopt},
      {"$G", std::nullopt},
      {"$1 ", std::nullopt},
      {"0x1g", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(StrToIntStrict(row.text), row.expected) << "text \"" << row.text << "\"";
  }
}

// Tests the three passes, the remainder rule and the side that fails first.
TEST(IsVersionOlderTest, ComparesDottedVersions) {
  struct Row {
    const char* first;
    const char* second;
    bool older;
    const char* why;
  };
  const Row rows[] = {
      {"1.2.3.4", "1.2.3.5", true, "last component smaller"},
      {"1.2.3.5", "1.2.3.4", false, "last component larger"},
      {"1.2.3.4", "1.2.3.4", false, "equal texts are not older"},
      {"1.2.x.4", "1.2.3.4", true, "the first text's component does not convert"},
      {"1.2.3.4", "1.2.x.4", false, "the second text's component does not convert"},
      {"1.2.3.4.5", "1.2.3.4.6", false, "the second remainder 4.6 is converted first and fails"},
      {"1.2", "1.3", true, "a side without a dot keeps its number and its text"},
      {"2.0", "2.0.1", false, "2 kept against the second side's 0"},
      {"2..3", "2.1.3", false, "a first dot in front keeps the previous number: 2 against 1"},
      {"2.1.3", "2..3", true, "a first dot in front keeps the previous number: 1 against 2"},
      {"1.9", "1.10", true, "numbers, not texts"},
      {"1.10", "1.9", false, "numbers, not texts"},
      {"1.0.1039.0", "1.0.1040.0", true, "the setup's own form"},
      {"1.0.1040.0", "1.0.1039.0", false, "the setup's own form"},
      {"2.0.0.0", "1.9.9.9", false, "the first difference decides"},
      {"x.1", "y.1", false, "both fail in one pass: the second is tried first"},
      {"-1.0", "0.0", true, "signed comparison"},
      {"$10.0", "17.0", true, "the conversion accepts hexadecimal"},
      {"1.2.3.4 ", "1.2.3.4", true, "a trailing blank spoils the first remainder"},
      {"1.2.3.4", "1.2.3.4 ", false, "a trailing blank spoils the second remainder"},
      // A side with no usable "." in the first pass compares as 0 there and
      // keeps its text whole for the remainder.
      {"5", "6", true, "single numbers: 0 against 0 three times, then 5 < 6"},
      {"6", "5", false, "single numbers"},
      {"5", "5.1", true, "0 against 5 in the first pass"},
      {"1.0", "1", false, "1 against 0 in the first pass"},
      {".5", "1.5", true, "a leading dot is no usable dot: 0 against 1"},
      {"1,2,4", "1,2,3", false, "commas: remainders do not convert, the second fails first"},
      {"", "1", true, "an empty first text does not convert"},
      {"1", "", false, "an empty second text does not convert"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsVersionOlder(row.first, row.second), row.older)
        << row.first << " vs " << row.second << ": " << row.why;
  }
}

class VersionReadersTest : public ::testing::Test {
 protected:
  VersionReadersTest() {
    ctx_.UpdateTitleEn = "Lexoria update";
    ctx_.UpdateTitleRu = "Обновление Lexoria";
  }
  std::vector<std::u16string> Errors() const {
    std::vector<std::u16string> texts;
    for (const auto& call : fake_.dialogs.calls()) texts.push_back(call.text);
    return texts;
  }

  FakePlatform fake_;
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

using ByteReader = int32_t (*)(platform::FileSystem&, const std::string&);

Bytes WithBytesAt(size_t size, size_t at, const Bytes& bytes) {
  Bytes content(size, 0xAA);
  for (size_t i = 0; i < bytes.size(); ++i) content[at + i] = bytes[i];
  return content;
}

// Tests each byte reader on short, exact and longer files.
TEST_F(VersionReadersTest, ByteReadersReadTheirFieldOrZero) {
  struct Row {
    const char* what;
    ByteReader reader;
    Bytes content;
    int32_t expected;
  };
  const Row rows[] = {
      {"pak of 7 bytes is short", ReadPakVersion, Bytes(7, 0x10), 0},
      {"pak of 8 bytes, 0x10 0x04", ReadPakVersion, WithBytesAt(8, 6, {0x10, 0x04}), 1040},
      {"pak 0xFF 0xFF is unsigned", ReadPakVersion, WithBytesAt(8, 6, {0xFF, 0xFF}), 65535},
      {"pak in a longer file", ReadPakVersion, WithBytesAt(4096, 6, {0x34, 0x12}), 0x1234},
      {"empty pak", ReadPakVersion, Bytes{}, 0},
      {"cok 0x34 0x12 at 5", ReadCokVersion, WithBytesAt(7, 5, {0x34, 0x12}), 4660},
      {"cok of 6 bytes is short", ReadCokVersion, Bytes(6, 0x34), 0},
      {"cok 0xFF 0xFF", ReadCokVersion, WithBytesAt(9, 5, {0xFF, 0xFF}), 65535},
      {"3bs 0x80 at 6", Read3bsVersion, WithBytesAt(7, 6, {0x80}), 128},
      {"3bs 0xFF", Read3bsVersion, WithBytesAt(12, 6, {0xFF}), 255},
      {"3bs of 6 bytes is short", Read3bsVersion, Bytes(6, 0x80), 0},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\data\\" + std::to_string(n++) + ".bin";
    fake_.files.AddFile(path, row.content);
    EXPECT_EQ(row.reader(fake_.files, path), row.expected) << row.what;
  }
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
  EXPECT_TRUE(Errors().empty()) << "the byte readers never show a box";
}

// Tests that missing, locked, refused and unreadable files all give 0, that
// the file is opened sharing reading only, so that another reader (a scanner,
// an indexer) does not turn the version into 0 while a writer still does, and
// that nothing stays open.
TEST_F(VersionReadersTest, ByteReadersYieldZeroForFilesTheyCannotRead) {
  const Bytes good = WithBytesAt(8, 5, {0x10, 0x04, 0x04});
  const std::string path = "C:\\data\\lxrq.pak";
  fake_.files.AddFile(path, good);
  ASSERT_EQ(ReadPakVersion(fake_.files, path), 0x0404);
  EXPECT_EQ(fake_.files.Calls().back(),
            "CreateFileA C:\\data\\lxrq.pak access=2147483648 share=1 disposition=3");

  struct Row {
    const char* what;
    std::function<void(const std::string&)> fault;
    bool readable;
  };
  const auto held = [&](uint32_t access, uint32_t share) {
    return [&, access, share](const std::string& p) {
      fake_.files.AddFile(p, good);
      fake_.files.HoldOpen(p, access, share);
    };
  };
  const uint32_t all_sharing =
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete;
  const Row rows[] = {
      {"missing", [&](const std::string&) {}, false},
      {"a directory", [&](const std::string& p) { fake_.files.AddDirectory(p); }, false},
      {"held by a reader sharing everything", held(platform::kGenericRead, all_sharing), true},
      {"held by a reader that shares reading",
       held(platform::kGenericRead, platform::kFileShareRead), true},
      {"held by a reader that shares nothing", held(platform::kGenericRead, 0), false},
      {"held by a writer", held(platform::kGenericWrite, platform::kFileShareRead), false},
      {"held by a writer sharing everything", held(platform::kGenericWrite, all_sharing), false},
      {"open refused",
       [&](const std::string& p) {
         fake_.files.AddFile(p, good);
         fake_.files.DenyOpen(p);
       },
       false},
      {"reads fail",
       [&](const std::string& p) {
         fake_.files.AddFile(p, good);
         fake_.files.FailReadsOf(p);
       },
       false},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string p = "C:\\faults\\" + std::to_string(n++) + ".pak";
    row.fault(p);
    EXPECT_EQ(ReadPakVersion(fake_.files, p), row.readable ? 0x0404 : 0) << row.what << " (pak)";
    EXPECT_EQ(ReadCokVersion(fake_.files, p), row.readable ? 0x0410 : 0) << row.what << " (cok)";
    EXPECT_EQ(Read3bsVersion(fake_.files, p), row.readable ? 0x04 : 0) << row.what << " (3bs)";
  }
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
  EXPECT_TRUE(Errors().empty());
}

// Tests the language file's version: the header rule, the last-line rule and
// the strict conversion, with one box for every value that fails.
TEST_F(VersionReadersTest, ReadLngVersionReadsTheLineAfterTheHeader) {
  struct Row {
    const char* what;
    std::string content;
    int32_t expected;
    bool error;
  };
  const Row rows[] = {
      {"capital header", "[LangVer]\r\n12\r\n", 12, false},
      {"LF lines", "[langver]\n12\n", 12, false},
      {"other sections first", "[name]\r\nEnglish\r\n[langver] comment\r\n-3\r\n[x]\r\n9", -3,
       false},
      {"first header wins", "[langver]\r\n4\r\n[langver]\r\n5\r\n", 4, false},
      {"hexadecimal value", "[langver]\r\n$10\r\n", 16, false},
      {"leading blanks in the value", "[langver]\r\n  12\r\n", 12, false},
      {"trailing blank after the value", "[langver]\r\n12 \r\n", 0, true},
      {"blank before the header: the last line counts", " [langver]\r\n12\r\n7", 7, false},
      {"no header: the last line", "some\r\ntext\r\n42\r\n", 42, false},
      {"no header: the last line before 0x1A", "text\r\n42\x1A\r\n99\r\n", 42, false},
      {"no header, a blank last line", "5\r\n\r\n", 0, true},
      {"header on the last line", "[a]\r\n1\r\n[langver]", 0, true},
      {"empty value line", "[langver]\r\n\r\n12\r\n", 0, true},
      {"empty file", "", 0, true},
      {"out of range", "[langver]\r\n2147483648\r\n", 0, true},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\Lexoria\\language\\" + std::to_string(n++) + ".lng";
    fake_.files.AddFile(path, row.content);
    const size_t boxes = fake_.dialogs.calls().size();
    EXPECT_EQ(ReadLngVersion(s_, path), row.expected) << row.what;
    EXPECT_EQ(fake_.dialogs.calls().size() - boxes, row.error ? 1u : 0u) << row.what;
  }
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
}

// Tests that a missing language file gives 0 silently and an unreadable one
// gives 0 after one box naming its path, shown after the file is closed.
TEST_F(VersionReadersTest, ReadLngVersionReportsUnreadableFilesByPath) {
  EXPECT_EQ(ReadLngVersion(s_, "C:\\Lexoria\\language\\missing.lng"), 0);
  fake_.files.AddDirectory("C:\\Lexoria\\language\\dir.lng");
  EXPECT_EQ(ReadLngVersion(s_, "C:\\Lexoria\\language\\dir.lng"), 0);
  EXPECT_TRUE(Errors().empty());

  const std::string locked = "C:\\Lexoria\\language\\locked.lng";
  fake_.files.AddFile(locked, "[langver]\r\n3\r\n");
  fake_.files.HoldOpen(locked, platform::kGenericWrite, platform::kFileShareRead);
  const std::string bad = "C:\\Lexoria\\language\\bad.lng";
  fake_.files.AddFile(bad, "[langver]\r\n3\r\n");
  fake_.files.FailReadsOf(bad);
  size_t open_at_box = 99;
  fake_.dialogs.on_box = [&](const auto&) { open_at_box = fake_.files.OpenHandleCount(); };
  EXPECT_EQ(ReadLngVersion(s_, locked), 0);
  EXPECT_EQ(ReadLngVersion(s_, bad), 0);
  ctx_.RussianUi = true;
  EXPECT_EQ(ReadLngVersion(s_, bad), 0);
  EXPECT_EQ(
      Errors(),
      (std::vector<std::u16string>{
          u"Can't handle the language support file C:\\Lexoria\\language\\locked.lng",
          u"Can't handle the language support file C:\\Lexoria\\language\\bad.lng",
          u"Не удаётся работать с файлом языковой поддержки C:\\Lexoria\\language\\bad.lng"}));
  EXPECT_EQ(open_at_box, 0u);

  // Other readers do not stop it; it opens for reading, sharing reading.
  const std::string shared = "C:\\Lexoria\\language\\shared.lng";
  fake_.files.AddFile(shared, "[langver]\r\n8\r\n");
  fake_.files.HoldOpen(shared, platform::kGenericRead, platform::kFileShareRead);
  EXPECT_EQ(ReadLngVersion(s_, shared), 8);
  EXPECT_EQ(
      fake_.files.Calls().back().rfind("CreateFileA " + shared + " access=2147483648 share=1", 0),
      0u);
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
}

constexpr char kExe[] = "C:\\Lexoria\\Lexoria.exe";
constexpr char kRussianFileVersion[] = "\\StringFileInfo\\041904e3\\FileVersion";

// Tests the FileVersion of the first translation, named in lower-case hex.
TEST_F(VersionReadersTest, ReadExeFileVersionTakesTheFirstTranslation) {
  fake_.versions.AddExecutable(kExe);
  fake_.versions.SetTranslations(kExe, {0x04E30419, 0x04B00409});
  fake_.versions.SetString(kExe, kRussianFileVersion, "1.0.1040.0");
  fake_.versions.SetString(kExe, "\\StringFileInfo\\040904b0\\FileVersion", "9.9.9.9");
  EXPECT_EQ(ReadExeFileVersion(fake_.versions, kExe), "1.0.1040.0");
  // A copy: the size query below is recorded as a call of its own.
  const std::vector<std::string> calls = fake_.versions.Calls();
  const uint32_t block_size = fake_.versions.GetFileVersionInfoSizeA(kExe);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0], "SHGetFileInfoA C:\\Lexoria\\Lexoria.exe attributes=0 flags=0x2000");
  EXPECT_EQ(calls[1], "GetFileVersionInfoSizeA C:\\Lexoria\\Lexoria.exe");
  EXPECT_EQ(calls[2],
            "GetFileVersionInfoA C:\\Lexoria\\Lexoria.exe size=" + std::to_string(block_size))
      << "the buffer is as large as the size query said";
  EXPECT_EQ(calls[3], "VerQueryValueA \\VarFileInfo\\Translation");
  EXPECT_EQ(calls[4], "VerQueryValueA \\StringFileInfo\\041904e3\\FileVersion");
}

// Tests every way an executable can lack a readable FileVersion.
TEST_F(VersionReadersTest, ReadExeFileVersionGivesEmptyTextWithoutVersion) {
  struct Row {
    const char* what;
    std::function<void(const std::string&)> setup;
    std::string expected;
  };
  const Row rows[] = {
      {"no version block", [&](const std::string& p) { fake_.versions.AddExecutable(p); }, ""},
      {"block unreadable",
       [&](const std::string& p) {
         fake_.versions.SetTranslations(p, {0x04E30419});
         fake_.versions.SetString(p, kRussianFileVersion, "1.0");
         fake_.versions.FailInfoRead(p);
       },
       ""},
      {"no translation table",
       [&](const std::string& p) { fake_.versions.SetString(p, kRussianFileVersion, "1.0"); }, ""},
      {"an empty translation table",
       [&](const std::string& p) {
         fake_.versions.SetTranslations(p, {});
         fake_.versions.SetString(p, kRussianFileVersion, "1.0");
       },
       ""},
      {"a table shorter than one entry",
       [&](const std::string& p) {
         fake_.versions.SetValue(p, "\\VarFileInfo\\Translation", {0x19, 0x04});
         fake_.versions.SetString(p, kRussianFileVersion, "1.0");
       },
       ""},
      {"no FileVersion for the first translation",
       [&](const std::string& p) {
         fake_.versions.SetTranslations(p, {0x04B00409, 0x04E30419});
         fake_.versions.SetString(p, kRussianFileVersion, "1.0");
       },
       ""},
      {"a FileVersion without its NUL is bounded by its length",
       [&](const std::string& p) {
         fake_.versions.SetTranslations(p, {0x04E30419});
         fake_.versions.SetValue(p, kRussianFileVersion, {'1', '.', '2'});
       },
       "1.2"},
      {"an empty FileVersion",
       [&](const std::string& p) {
         fake_.versions.SetTranslations(p, {0x04E30419});
         fake_.versions.SetString(p, kRussianFileVersion, "");
       },
       ""},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\bin\\" + std::to_string(n++) + ".exe";
    fake_.versions.AddExecutable(path);
    row.setup(path);
    EXPECT_EQ(ReadExeFileVersion(fake_.versions, path), row.expected) << row.what;
  }
}

// Tests that a file the shell does not take for an executable never reaches
// the version functions.
TEST_F(VersionReadersTest, ReadExeFileVersionOfTextFileAsksOnlyTheShell) {
  EXPECT_EQ(ReadExeFileVersion(fake_.versions, "C:\\Lexoria\\readme.txt"), "");
  EXPECT_EQ(fake_.versions.Calls().size(), 1u);
  EXPECT_EQ(fake_.versions.VersionDllCalls(), 0u);
}

}  // namespace
}  // namespace lexoria
