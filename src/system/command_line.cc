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

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLineOptions options;
  std::vector<std::string> words;  // the arguments that are no switch, lowered
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) {
      words.push_back(LowerAsciiLetters(argument));
      continue;
    }
    const std::string name = LowerAsciiLetters(argument.substr(1));
    if (name == "quiet" || name == "q" || name == "qn" || name == "s" || name == "silent" ||
        name == "verysilent") {
      options.quiet = true;
    } else if (name == "?" || name == "h" || name == "help") {
      options.help = true;
    } else if (name == "norestart" || name == "suppressmsgboxes") {
      // Accepted: the setup restarts nothing and asks only where it must.
    } else if (name == "log" && i + 1 < arguments.size()) {
      options.log_path = arguments[++i];
    } else if ((name.compare(0, 4, "log=") == 0 || name.compare(0, 4, "log:") == 0) &&
               name.size() > 4) {
      options.log_path = argument.substr(5);
    } else if (options.invalid.empty()) {
      options.invalid = argument;
    }
  }
  options.modest = !words.empty() && words[0] == "modest";
  const size_t run_app_at = options.modest ? 1 : 0;
  options.run_app = (options.modest || options.quiet) && words.size() > run_app_at &&
                    words[run_app_at] == "runapp";
  return options;
}

std::string LowerAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace lexoria
