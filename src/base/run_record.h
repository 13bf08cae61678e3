// RunRecord: what one run showed the user and left undone, gathered while it
// runs, for the record it leaves in the Windows event log at its end.
#ifndef LEXORIA_BASE_RUN_RECORD_H_
#define LEXORIA_BASE_RUN_RECORD_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lexoria {

// One message box of the run, shown or not.
struct BoxRecord {
  bool error = false;        // an error box; else a yes/no question
  std::u16string english;    // its text in English, as the English box shows it
  bool shown = false;        // false: nobody could answer, and the answer was taken
  int answer = 0;            // the button pressed or taken; 0 when the box failed
  bool information = false;  // an OK box telling what was asked for, no error
};

// A Windows call that failed where it decided the outcome.
struct FailedCall {
  std::string call;     // "CreateFileA", "MoveFileExA"...
  std::string subject;  // what it was about: a path, in the system's code page
  uint32_t error = 0;   // its last error
};

struct RunRecord {
  std::vector<BoxRecord> boxes;
  // Lines for the administrator, in UTF-16: how the run was attended, and
  // what it left undone on purpose (a launch with nobody to see it).
  std::vector<std::u16string> notes;
  // The installed package's version before the update step, or "none"; empty
  // when the run ended before that step.
  std::string package_before;

  // The calls that failed, in order, for the administrator: the record names
  // each with its error code, the log also with the system's text for it.
  std::vector<FailedCall> failures;
  // The log file's writer, when the command line asked for one: it takes
  // each line of the run's steps as the run makes it.
  std::function<void(const std::u16string& line)> log;

  // Adds a note of ASCII text.
  void AddNote(std::string_view ascii) { notes.emplace_back(ascii.begin(), ascii.end()); }
  // Notes a failed call.
  void AddFailure(std::string call, std::string subject, uint32_t error) {
    failures.push_back({std::move(call), std::move(subject), error});
  }
  // One line of the run's steps, for the log; nothing without one.
  void Step(const std::u16string& line) const {
    if (log) log(line);
  }
};

}  // namespace lexoria

#endif  // LEXORIA_BASE_RUN_RECORD_H_
