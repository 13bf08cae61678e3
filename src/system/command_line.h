// Splitting the process command line into arguments.
#ifndef LEXORIA_SYSTEM_COMMAND_LINE_H_
#define LEXORIA_SYSTEM_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "base/command_line_options.h"

namespace lexoria {

// Splits a Windows command line: blanks and control characters separate
// arguments, double quotes group blanks into one argument and are removed.
// Element 0 is the program's own name.
std::vector<std::string> SplitCommandLine(const std::string& command_line);
// Argument `index` (0: the program), or the empty text when there is none.
std::string CommandLineArgument(const std::string& command_line, size_t index);
// The options of `arguments` (as SplitCommandLine gives them, element 0 the
// program). Switches begin with "/" or "-", whichever letter case; /log
// takes the next argument as its path unless it is joined by "=" or ":";
// /norestart and /suppressmsgboxes are accepted and change nothing (the setup
// never restarts Windows). Arguments that are no switch count in their
// order: the first may be "modest", the one after it "runapp" (after /quiet
// without "modest", the first), compared with A-Z lowered; others are
// ignored, as before.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);
// `text` with the letters A-Z turned into a-z; every other byte (Cyrillic
// letters of code page 1251 among them) unchanged.
std::string LowerAsciiLetters(std::string text);

}  // namespace lexoria

#endif  // LEXORIA_SYSTEM_COMMAND_LINE_H_
