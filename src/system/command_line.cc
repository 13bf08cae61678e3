#include "system/command_line.h"

namespace lexoria {

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const size_t n = command_line.size();
  while (true) {
    while (i < n && static_cast<unsigned char>(command_line[i]) <= ' ') ++i;
    if (i >= n) break;
    std::string argument;
    bool quoted = false;
    // A quote toggles grouping wherever it stands, so "C:\Program Files"\x
    // and C:\"Program Files"\x are the same argument.
    while (i < n && (quoted || static_cast<unsigned char>(command_line[i]) > ' ')) {
      if (command_line[i] == '"') {
        quoted = !quoted;
      } else {
        argument.push_back(command_line[i]);
      }
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string CommandLineArgument(const std::string& command_line, size_t index) {
  std::vector<std::string> arguments = SplitCommandLine(command_line);
  return index < arguments.size() ? arguments[index] : std::string();
}

std::string LowerAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace lexoria
