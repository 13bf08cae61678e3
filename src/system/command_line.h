// Splitting the process command line into arguments.
#ifndef LEXORIA_SYSTEM_COMMAND_LINE_H_
#define LEXORIA_SYSTEM_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace lexoria {

// Splits a Windows command line: blanks and control characters separate
// arguments, double quotes group blanks into one argument and are removed.
// Element 0 is the program's own name.
std::vector<std::string> SplitCommandLine(const std::string& command_line);
// Argument `index` (0: the program), or the empty text when there is none.
std::string CommandLineArgument(const std::string& command_line, size_t index);
// `text` with the letters A-Z turned into a-z; every other byte (Cyrillic
// letters of code page 1251 among them) unchanged.
std::string LowerAsciiLetters(std::string text);

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_COMMAND_LINE_H_
