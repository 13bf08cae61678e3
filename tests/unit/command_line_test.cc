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
