#include "system/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lexoria {
namespace {

// Tests the splitting rules: blanks and control characters separate, double
// quotes group and vanish, wherever they stand.
TEST(CommandLineTest, SplitTable) {
  const struct {
    const char* line;
    std::vector<std::string> expected;
  } rows[] = {
      {"", {}},
      {"   ", {}},
      {"setup.exe", {"setup.exe"}},
      {"\"C:\\Program Files\\setup.exe\" modest runapp",
       {"C:\\Program Files\\setup.exe", "modest", "runapp"}},
      {"setup.exe\tmodest\r\nrunapp", {"setup.exe", "modest", "runapp"}},
      {"  setup.exe   a  ", {"setup.exe", "a"}},
      {"setup.exe C:\\\"Program Files\"\\x", {"setup.exe", "C:\\Program Files\\x"}},
      {"setup.exe \"\" b", {"setup.exe", "", "b"}},
      {"setup.exe \"open ended", {"setup.exe", "open ended"}},
      {"setup.exe a\"b c\"d", {"setup.exe", "ab cd"}},
      {"setup.exe \xD2\xC8\xD5\xCE", {"setup.exe", "\xD2\xC8\xD5\xCE"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(SplitCommandLine(row.line), row.expected);
  }
}

// Tests that arguments are picked by index and missing ones are empty.
TEST(CommandLineTest, ArgumentByIndex) {
  const std::string line = "\"C:\\a b\\setup.exe\" MODEST runapp";
  EXPECT_EQ(CommandLineArgument(line, 0), "C:\\a b\\setup.exe");
  EXPECT_EQ(CommandLineArgument(line, 1), "MODEST");
  EXPECT_EQ(CommandLineArgument(line, 2), "runapp");
  EXPECT_EQ(CommandLineArgument(line, 3), "");
  EXPECT_EQ(CommandLineArgument("", 0), "");
}

// Tests the switches administrators type: each as a row of what it asks for,
// whichever letter case or leading character, wherever it stands.
TEST(CommandLineTest, OptionsTable) {
  struct Expected {
    bool modest, quiet, run_app, help;
    std::string invalid, log_path;
  };
  const struct {
    const char* line;
    Expected expected;
  } rows[] = {
      {"setup.exe", {false, false, false, false, "", ""}},
      {"setup.exe MODEST RunApp", {true, false, true, false, "", ""}},
      {"setup.exe runapp", {false, false, false, false, "", ""}},
      {"setup.exe runapp modest", {false, false, false, false, "", ""}},
      {"setup.exe modest /norestart runapp", {true, false, true, false, "", ""}},
      {"setup.exe /S", {false, true, false, false, "", ""}},
      {"setup.exe -VerySilent runapp", {false, true, true, false, "", ""}},
      {"setup.exe /qn modest runapp", {true, true, true, false, "", ""}},
      {"setup.exe /quiet modest", {true, true, false, false, "", ""}},
      {"setup.exe /? modest", {true, false, false, true, "", ""}},
      {"setup.exe -H", {false, false, false, true, "", ""}},
      {"setup.exe /log \"C:\\A B\\x.log\" modest",
       {true, false, false, false, "", "C:\\A B\\x.log"}},
      {"setup.exe /LOG=C:\\x.log /log:D:\\y.LOG", {false, false, false, false, "", "D:\\y.LOG"}},
      {"setup.exe modest /log", {true, false, false, false, "/log", ""}},
      {"setup.exe /log=", {false, false, false, false, "/log=", ""}},
      {"setup.exe /passive -x modest", {true, false, false, false, "/passive", ""}},
      {"setup.exe -", {false, false, false, false, "-", ""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const CommandLineOptions options = ParseCommandLine(SplitCommandLine(row.line));
    EXPECT_EQ(options.invalid, row.expected.invalid);
    EXPECT_EQ(options.modest, row.expected.modest);
    EXPECT_EQ(options.quiet, row.expected.quiet);
    EXPECT_EQ(options.run_app, row.expected.run_app);
    EXPECT_EQ(options.help, row.expected.help);
    EXPECT_EQ(options.log_path, row.expected.log_path);
  }
}

// Tests that only A-Z are lowered: code page 1251 letters and every other
// byte keep their value.
TEST(CommandLineTest, LowerAsciiLettersOnly) {
  const struct {
    std::string text;
    std::string expected;
  } rows[] = {
      {"MODEST", "modest"},
      {"RunApp", "runapp"},
      {"AZ@[`{az", "az@[`{az"},
      {"\xC0\xDF\xA8", "\xC0\xDF\xA8"},  // upper-case Cyrillic А, Я, Ё stay upper case
      {"\xD2\xC8\xD5\xCE-X", "\xD2\xC8\xD5\xCE-x"},
      {std::string("A\0B", 3), std::string("a\0b", 3)},
      {"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(LowerAsciiLetters(row.text), row.expected);
  }
}

}  // namespace
}  // namespace lexoria
