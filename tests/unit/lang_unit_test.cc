#include "ui/lang_unit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/services.h"
#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using ::lexoria::testing::FakeFileSystem;
using ::lexoria::testing::FakePlatform;

constexpr char kLanguageDir[] = "C:\\Lexoria\\language\\";
constexpr char kCurrentName[] = "english.lng";
constexpr char kFallbackEnName[] = "fallback-en.lng";
constexpr char kFallbackRuName[] = "fallback-ru.lng";

std::string PathOf(const std::string& name) { return kLanguageDir + name; }

class LangUnitTest : public ::testing::Test {
 protected:
  LangUnitTest() {
    ctx_.InstallDir = "C:\\Lexoria\\";
    ctx_.UpdateTitleEn = "Lexoria update";
    ctx_.UpdateTitleRu = "Обновление Lexoria";
    fake_.files.AddDirectory("C:\\Lexoria\\language");
    lang_.LanguageFileNames = {kCurrentName, kFallbackEnName, kFallbackRuName};
    ctx_.LanguageIndex = 0;
    lang_.FallbackLanguageIndexEn = 1;
    lang_.FallbackLanguageIndexRu = 2;
  }

  void SetCurrent(const std::string& text) { fake_.files.AddFile(PathOf(kCurrentName), text); }
  void SetFallback(const std::string& text) { fake_.files.AddFile(PathOf(kFallbackEnName), text); }
  // Texts of the error boxes shown so far, in UTF-8.
  std::vector<std::string> Errors() const {
    std::vector<std::string> texts;
    for (const auto& call : fake_.dialogs.calls()) texts.push_back(testing::Utf16ToUtf8(call.text));
    return texts;
  }
  // How many times `path` was opened.
  int Opens(const std::string& path) const {
    int count = 0;
    for (const std::string& call : fake_.files.Calls()) {
      count += call.rfind("CreateFileA " + path + " ", 0) == 0;
    }
    return count;
  }

  FakePlatform fake_;  // first: outlives the open handles of lang_
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

// Tests that the line reader splits, drops and ends exactly as the file
// format says, also across the reader's buffer boundary.
TEST_F(LangUnitTest, TextFileReadsLinesByTheFormatRules) {
  const std::string long_line(5000, 'q');
  std::string cr_at_boundary(4095, 'a');
  cr_at_boundary += "\r\nb";  // the CR ends the first buffer, its LF starts the next
  struct Row {
    const char* what;
    std::string content;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"LF separators", "a\nb\nc", {"a", "b", "c"}},
      {"CR LF separators", "a\r\nb\r\n", {"a", "b"}},
      {"a final separator adds no line", "a\r\n", {"a"}},
      {"an empty file has no line", "", {}},
      {"blank lines are lines", "a\r\n\r\n  \r\nb", {"a", "", "  ", "b"}},
      {"a lone CR is dropped", "a\rb\r\nc", {"ab", "c"}},
      {"a CR before CR LF is dropped", "a\r\r\nb", {"a", "b"}},
      {"a CR at the very end is dropped", "a\r", {"a"}},
      {"0x1A ends the file", "a\r\nb\x1A\r\nc\r\n", {"a", "b"}},
      {"0x1A at the start leaves nothing",
       "\x1A"
       "a",
       {}},
      {"0x1A after a lone CR",
       "a\r\x1A"
       "b",
       {"a"}},
      {"a line longer than the buffer", "x\n" + long_line + "\ny", {"x", long_line, "y"}},
      {"CR LF split across two reads", cr_at_boundary, {std::string(4095, 'a'), "b"}},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\t\\" + std::to_string(n++) + ".txt";
    fake_.files.AddFile(path, row.content);
    TextFile file;
    file.Assign(fake_.files, path);
    file.Reset();
    std::vector<std::string> lines;
    while (!file.Eof()) lines.push_back(file.ReadLine());
    EXPECT_EQ(lines, row.lines) << row.what;
    EXPECT_EQ(file.ReadLine(), "") << row.what << ": reading at the end gives the empty text";
  }
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u) << "every file closed with its TextFile";
}

// Tests that the text file opens for reading only with other readers
// allowed, fails on a missing file or a writer's lock, and reports read
// failures.
TEST_F(LangUnitTest, TextFileOpensSharedForReadingAndRaisesOnFailure) {
  fake_.files.AddFile("C:\\t\\a.txt", "line");
  TextFile file;
  file.Assign(fake_.files, "C:\\t\\a.txt");
  fake_.files.HoldOpen("C:\\t\\a.txt", platform::kGenericRead, platform::kFileShareRead);
  ASSERT_NO_THROW(file.Reset()) << "another reader does not stop us";
  EXPECT_EQ(fake_.files.Calls().back(),
            "CreateFileA C:\\t\\a.txt access=2147483648 share=1 "
            "disposition=3");
  EXPECT_EQ(file.ReadLine(), "line");
  file.Close();
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);

  fake_.files.AddFile("C:\\t\\w.txt", "line");
  fake_.files.HoldOpen("C:\\t\\w.txt", platform::kGenericWrite, platform::kFileShareRead);
  file.Assign(fake_.files, "C:\\t\\w.txt");
  EXPECT_THROW(file.Reset(), TextFileError) << "a writer holds the file";

  file.Assign(fake_.files, "C:\\t\\missing.txt");
  EXPECT_THROW(file.Reset(), TextFileError) << "missing file";
  EXPECT_THROW(file.ReadLine(), TextFileError) << "reading a file that is not open";

  fake_.files.AddFile("C:\\t\\bad.txt", "line");
  fake_.files.FailReadsOf("C:\\t\\bad.txt");
  file.Assign(fake_.files, "C:\\t\\bad.txt");
  file.Reset();
  EXPECT_THROW(file.Eof(), TextFileError) << "read failure";
}

// Tests which lines are headers of which key.
TEST(HeaderNamesKeyTest, FollowsTheHeaderRule) {
  struct Row {
    const char* line;
    const char* key;
    bool names;
  };
  const Row rows[] = {
      {"[langver]", "langver", true},
      {"[LangVer]", "langver", true},
      {"[soundquest]", "SoundQuest", true},
      {"[langver]   ", "langver", true},
      {"[langver]\t\r", "langver", true},
      {"[langver] other text", "langver", true},
      {" [langver]", "langver", false},
      {"\t[langver]", "langver", false},
      {"[ langver]", "langver", false},
      {"[langver ]", "langver", false},
      {"[langverx]", "langver", false},
      {"[xlangver]", "langver", false},
      {"[langver", "langver", false},
      {"langver]", "langver", false},
      {"", "langver", false},
      {"[", "langver", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(HeaderNamesKey(row.line, row.key), row.names)
        << "line \"" << row.line << "\" key " << row.key;
  }
}

// Tests that the error box names the file in English and in Russian.
TEST_F(LangUnitTest, ReportLanguageFileErrorNamesTheFile) {
  ReportLanguageFileError(s_, "german.lng");
  ctx_.RussianUi = true;
  ReportLanguageFileError(s_, "german.lng");
  ASSERT_EQ(fake_.dialogs.calls().size(), 2u);
  EXPECT_EQ(fake_.dialogs.calls()[0].text, u"Can't handle the language support file german.lng");
  EXPECT_EQ(fake_.dialogs.calls()[0].caption, u"Lexoria update");
  EXPECT_EQ(fake_.dialogs.calls()[1].text,
            u"Не удаётся работать с файлом языковой поддержки german.lng");
  EXPECT_EQ(fake_.dialogs.calls()[1].caption, u"Обновление Lexoria");
}

// Tests that a capitalised header with a "%1" value on the last line gives
// that line with the argument put in.
TEST_F(LangUnitTest, CapitalHeaderValueOnLastLineIsFormatted) {
  SetCurrent("[OLDERFILEVER]\r\nThe file %1 is newer. Replace it?");
  EXPECT_EQ(FormatLanguageText(s_, "olderfilever", {"C:\\Lexoria\\lxrq.pak"}, false),
            "The file C:\\Lexoria\\lxrq.pak is newer. Replace it?");
  EXPECT_TRUE(Errors().empty());
}

// Tests the header rule in whole files: blanks before "[", blanks after "]",
// two headers of one key, other sections and text in between.
TEST_F(LangUnitTest, FindsTheValueAfterTheFirstHeaderNamingTheKey) {
  SetCurrent(
      "; comment\r\n"
      "  [soundquest]\r\n"
      "indented header\r\n"
      "[other]\r\n"
      "other value\r\n"
      "[soundquest]   \r\n"
      "First question\r\n"
      "[soundquest]\r\n"
      "Second question\r\n");
  SetFallback("[soundquest]\r\nFallback\r\n");
  EXPECT_EQ(LookupLanguageString(s_, "soundquest"), "First question");
  EXPECT_EQ(LookupLanguageString(s_, "other"), "other value");
  EXPECT_TRUE(Errors().empty());
}

// Tests that a value line keeps its blanks and loses only a lone CR.
TEST_F(LangUnitTest, ValueLineIsTakenUntrimmedWithoutLoneCarriageReturns) {
  SetCurrent("[k]\r\n  Sound\rquest  \r\n");
  EXPECT_EQ(LookupLanguageString(s_, "k"), "  Soundquest  ");
}

// Tests that a header on the last line gives an empty value, which sends the
// look-up to the fallback file.
TEST_F(LangUnitTest, HeaderOnLastLineFallsBack) {
  SetCurrent("[a]\r\nx\r\n[soundquest]");
  SetFallback("[soundquest]\r\nSound question\r\n");
  EXPECT_EQ(LookupLanguageString(s_, "soundquest"), "Sound question");
  EXPECT_EQ(Opens(PathOf(kFallbackEnName)), 1);
  EXPECT_TRUE(Errors().empty());
}

// Tests that nothing after 0x1A is seen, neither headers nor values.
TEST_F(LangUnitTest, NothingAfterEndOfFileMarkIsRead) {
  SetCurrent("[a]\r\nbefore\r\n\x1A[b]\r\nhidden\r\n");
  SetFallback("[b]\r\nfrom fallback\r\n");
  EXPECT_EQ(LookupLanguageString(s_, "b"), "from fallback");
  SetCurrent("[a]\r\nval\x1Aue\r\nmore\r\n");
  EXPECT_EQ(LookupLanguageText(s_, "a", false), "val");
}

// Tests multi-line values: the run of lines up to a line of blanks, joined
// by CR LF, and dropFirstLine in the current file.
TEST_F(LangUnitTest, MultiLineValueEndsAtBlankLine) {
  SetCurrent("[olderfilever]\r\nFirst line\r\nSecond line\r\n   \r\nNot part\r\n");
  EXPECT_EQ(LookupLanguageText(s_, "olderfilever", false), "First line\r\nSecond line");
  EXPECT_EQ(LookupLanguageText(s_, "olderfilever", true), "Second line");
  SetCurrent("[k]\r\nonly\r\n");
  EXPECT_EQ(LookupLanguageText(s_, "k", false), "only") << "ends at the end of the file";
  EXPECT_EQ(LookupLanguageText(s_, "k", true), "") << "nothing but the dropped line";
  SetCurrent("[k]\r\n\t\r\n");
  SetFallback("[k]\r\nfallback\r\n");
  EXPECT_EQ(LookupLanguageText(s_, "k", false), "\t")
      << "a value line of blanks is still a value, not a blank line ending it";
  EXPECT_TRUE(Errors().empty());
}

// Tests the fallback path over time: the first fallback and every one after
// a multi-line look-up answered by the current file read a multi-line value;
// one after a completed fallback reads a single line.
TEST_F(LangUnitTest, MultiLinePendingSteersTheFallback) {
  SetCurrent("[here]\r\nhere 1\r\nhere 2\r\n");
  SetFallback("[gone]\r\nfallback 1\r\nfallback 2\r\n\r\n[here]\r\nnot used\r\n");
  ASSERT_TRUE(lang_.MultiLinePending);
  EXPECT_EQ(LookupLanguageString(s_, "gone"), "fallback 1\r\nfallback 2")
      << "first fallback: multi-line";
  EXPECT_FALSE(lang_.MultiLinePending);
  EXPECT_EQ(LookupLanguageString(s_, "gone"), "fallback 1") << "after a fallback: single line";
  EXPECT_FALSE(lang_.MultiLinePending);
  EXPECT_EQ(LookupLanguageText(s_, "here", false), "here 1\r\nhere 2");
  EXPECT_TRUE(lang_.MultiLinePending) << "answered by the current file";
  EXPECT_EQ(LookupLanguageString(s_, "gone"), "fallback 1\r\nfallback 2");
  EXPECT_EQ(LookupLanguageText(s_, "gone", true), "fallback 1\r\nfallback 2")
      << "a text from the fallback file keeps its value line";
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(fake_.files.OpenHandleCount(), 1u) << "the fallback file is closed, the current not";
}

// Tests the fallback operations on their own and the choice of fallback file
// by the interface language.
TEST_F(LangUnitTest, FallbackLookUpsUseTheFileOfTheInterfaceLanguage) {
  SetFallback("[k]\r\nEnglish\r\nmore\r\n");
  fake_.files.AddFile(PathOf(kFallbackRuName), "[k]\r\nРусский\r\nещё\r\n");
  EXPECT_EQ(LookupFallbackText(s_, "k", false), "English\r\nmore");
  EXPECT_EQ(LookupFallbackText(s_, "k", true), "more");
  ctx_.RussianUi = true;
  EXPECT_EQ(LookupFallbackText(s_, "k", false), "Русский\r\nещё");
  EXPECT_FALSE(lang_.MultiLinePending);
  EXPECT_EQ(LookupFallbackString(s_, "k"), "Русский");
  EXPECT_EQ(LookupFallbackString(s_, "absent"), "");
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);

  // With the flag set, the single-line look-up leaves the file open after the
  // value line for the multi-line look-up that set it.
  lang_.MultiLinePending = true;
  EXPECT_EQ(LookupFallbackString(s_, "k"), "Русский");
  EXPECT_FALSE(lang_.MultiLinePending);
  EXPECT_TRUE(lang_.FallbackLanguageFile.IsOpen());
  EXPECT_EQ(lang_.FallbackLanguageFile.ReadLine(), "ещё");
}

// Tests the "%1" to "%4" chain: in order, stopping at the first absent
// placeholder, never rescanning a replacement for its own placeholder, and
// leaving placeholders without an argument alone.
TEST_F(LangUnitTest, FormatLanguageTextReplacesPlaceholdersInChain) {
  struct Row {
    const char* what;
    const char* value;
    std::vector<std::string> arguments;
    const char* expected;
  };
  const Row rows[] = {
      {"all four", "%1-%2-%3-%4", {"a", "b", "c", "d"}, "a-b-c-d"},
      {"every occurrence", "%1 and %1", {"x"}, "x and x"},
      {"%2 without %1 stays", "only %2", {"a", "b"}, "only %2"},
      {"%3 without %2 stays", "%1 %3", {"a", "b", "c"}, "a %3"},
      {"case-sensitive, no %0", "%0 %10", {"a"}, "%0 a0"},
      {"a replacement is not rescanned", "%1", {"%1%1"}, "%1%1"},
      {"a later step sees an earlier argument's placeholder", "%1", {"%2", "B"}, "B"},
      {"no argument for %2", "%1 %2", {"a"}, "a %2"},
      {"no placeholder", "plain", {"a"}, "plain"},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string key = "key" + std::to_string(n++);
    SetCurrent("[" + key + "]\r\n" + row.value + "\r\n");
    EXPECT_EQ(FormatLanguageText(s_, key, row.arguments, false), row.expected) << row.what;
  }
}

// Tests that an unreadable current file is reported once by its name, gives
// the empty text and does not try the fallback file.
TEST_F(LangUnitTest, MissingCurrentFileIsReportedOnceWithoutFallback) {
  SetFallback("[k]\r\nfallback\r\n");
  EXPECT_EQ(LookupLanguageString(s_, "k"), "");
  EXPECT_EQ(LookupLanguageText(s_, "k", false), "");
  EXPECT_EQ(FormatLanguageText(s_, "k", {"a"}, true), "");
  EXPECT_EQ(Errors(),
            std::vector<std::string>(3, "Can't handle the language support file english.lng"));
  EXPECT_EQ(Opens(PathOf(kFallbackEnName)), 0);
  EXPECT_TRUE(lang_.MultiLinePending);
}

// Tests that a current file locked by a writer counts as unreadable.
TEST_F(LangUnitTest, CurrentFileHeldByWriterIsReported) {
  SetCurrent("[k]\r\nv\r\n");
  fake_.files.HoldOpen(PathOf(kCurrentName), platform::kGenericWrite, 0);
  EXPECT_EQ(LookupLanguageString(s_, "k"), "");
  EXPECT_EQ(Errors().size(), 1u);
}

// Tests that an unreadable fallback file is reported once, gives the empty
// text and leaves MultiLinePending as it was.
TEST_F(LangUnitTest, MissingFallbackFileIsReportedOnce) {
  SetCurrent("[k]\r\n\r\n");
  EXPECT_EQ(LookupLanguageString(s_, "k"), "");
  EXPECT_TRUE(lang_.MultiLinePending);
  EXPECT_EQ(LookupFallbackText(s_, "k", false), "");
  lang_.MultiLinePending = false;
  EXPECT_EQ(LookupFallbackString(s_, "k"), "");
  EXPECT_FALSE(lang_.MultiLinePending);
  EXPECT_EQ(Errors(), std::vector<std::string>(3, "Can't handle the language support file " +
                                                      std::string(kFallbackEnName)));
}

// Tests that when the fallback search fails, a multi-line look-up goes on
// reading the current file after its empty value line.
TEST_F(LangUnitTest, FailedFallbackLeavesTheContinuationToTheCurrentFile) {
  SetCurrent("[k]\r\n\r\ncontinued\r\n\r\nnot part\r\n");
  EXPECT_EQ(LookupLanguageText(s_, "k", false), "\r\ncontinued");
  EXPECT_EQ(Errors().size(), 1u);
}

// Tests that an index outside the list of names is handled as a file that
// cannot be opened.
TEST_F(LangUnitTest, IndexOutsideTheListIsAnUnopenableFile) {
  ctx_.LanguageIndex = 7;
  EXPECT_EQ(LookupLanguageString(s_, "k"), "");
  ctx_.LanguageIndex = 0;
  SetCurrent("[k]\r\n\r\n");
  lang_.FallbackLanguageIndexEn = -1;
  EXPECT_EQ(LookupLanguageString(s_, "k"), "");
  EXPECT_EQ(Errors(), std::vector<std::string>(2, "Can't handle the language support file "));
}

// Tests that a read failure while collecting further lines of the current
// file is reported and gives the text collected so far with its line break.
TEST_F(LangUnitTest, CurrentFileFailingInContinuationKeepsCollectedText) {
  // The value sits in the first read of the file; the long line after it
  // needs a second read, which fails.
  SetCurrent("[k]\r\nvalue\r\n" + std::string(5000, 'x') + "\r\n");
  fake_.files.FailReadsAfter(1);
  EXPECT_EQ(LookupLanguageText(s_, "k", false), "value\r\n");
  EXPECT_EQ(Errors(),
            std::vector<std::string>{"Can't handle the language support file english.lng"});
  lang_.CurrentLanguageFile.Close();
}

// Tests the same for the fallback file's continuation.
TEST_F(LangUnitTest, FallbackFileFailingInContinuationKeepsCollectedText) {
  SetFallback("[k]\r\nvalue\r\n" + std::string(5000, 'x') + "\r\n");
  fake_.files.FailReadsAfter(1);
  EXPECT_EQ(LookupFallbackText(s_, "k", false), "value\r\n");
  EXPECT_EQ(Errors(),
            std::vector<std::string>{"Can't handle the language support file fallback-en.lng"});
  EXPECT_FALSE(lang_.FallbackLanguageFile.IsOpen());
}

// Tests that the current file stays open between look-ups, is reopened by
// each one, and is closed when the look-up state ends.
TEST_F(LangUnitTest, CurrentFileStaysOpenUntilTheStateEnds) {
  SetCurrent("[a]\r\n1\r\n[b]\r\n2\r\n");
  {
    LangUnit lang;
    lang.LanguageFileNames = lang_.LanguageFileNames;
    Services s{ctx_, fake_.os, progress_, lang};
    EXPECT_EQ(LookupLanguageString(s, "b"), "2");
    EXPECT_EQ(LookupLanguageString(s, "a"), "1") << "reopened from its start";
    EXPECT_EQ(fake_.files.OpenHandleCount(), 1u);
  }
  EXPECT_EQ(fake_.files.OpenHandleCount(), 0u);
  EXPECT_EQ(Opens(PathOf(kCurrentName)), 2);
}

}  // namespace
}  // namespace lexoria
