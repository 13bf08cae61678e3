// What the command line asks of one run.
#ifndef LEXORIA_BASE_COMMAND_LINE_OPTIONS_H_
#define LEXORIA_BASE_COMMAND_LINE_OPTIONS_H_

#include <string>

namespace lexoria {

struct CommandLineOptions {
  // The first argument that is no switch is "modest": no confirmation and no
  // launch question.
  bool modest = false;
  // /quiet (/q, /qn, /s, /silent, /verysilent): no box at all; each takes
  // the answer that changes least, as in a run nobody can see. Implies
  // modest's questions away.
  bool quiet = false;
  // "runapp" after "modest", or as the first argument that is no switch
  // after /quiet: Lexoria is started at the end.
  bool run_app = false;
  // /?, /h, /help: the usage text, nothing else.
  bool help = false;
  // The first argument that begins with "/" or "-" and is no switch this
  // setup knows (or /log without its path): the usage text, nothing else.
  std::string invalid;
  // /log PATH, /log=PATH, /log:PATH (the last given): the run's log file.
  std::string log_path;
};

}  // namespace lexoria

#endif  // LEXORIA_BASE_COMMAND_LINE_OPTIONS_H_
