// RunRecord: what one run showed the user and left undone, gathered while it
// runs, for the record it leaves in the Windows event log at its end.
#ifndef LEXORIA_BASE_RUN_RECORD_H_
#define LEXORIA_BASE_RUN_RECORD_H_

#include <string>
#include <string_view>
#include <vector>

namespace lexoria {

// One message box of the run, shown or not.
struct BoxRecord {
  bool error = false;      // an error box; else a yes/no question
  std::u16string english;  // its text in English, as the English box shows it
  bool shown = false;      // false: nobody could answer, and the answer was taken
  int answer = 0;          // the button pressed or taken; 0 when the box failed
};

struct RunRecord {
  std::vector<BoxRecord> boxes;
  // Lines for the administrator, in UTF-16: how the run was attended, and
  // what it left undone on purpose (a launch with nobody to see it).
  std::vector<std::u16string> notes;
  // The installed package's version before the update step, or "none"; empty
  // when the run ended before that step.
  std::string package_before;

  // Adds a note of ASCII text.
  void AddNote(std::string_view ascii) { notes.emplace_back(ascii.begin(), ascii.end()); }
};

}  // namespace lexoria

#endif  // LEXORIA_BASE_RUN_RECORD_H_
