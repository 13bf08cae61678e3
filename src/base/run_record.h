// RunRecord: what one run showed the user and left undone, gathered while it
// runs, for the record it leaves in the Windows event log at its end.
#ifndef LEXORIA_BASE_RUN_RECORD_H_
#define LEXORIA_BASE_RUN_RECORD_H_

#include <string>
#include <vector>

namespace lexoria {

// One message box of the run, shown or not.
struct BoxRecord {
  bool error = false;   // an error box; else a yes/no question
  std::string english;  // its text in English (code page 1251 bytes, as shown)
  bool shown = false;   // false: nobody could answer, and the answer was taken
  int answer = 0;       // the button pressed or taken; 0 when the box failed
};

struct RunRecord {
  std::vector<BoxRecord> boxes;
  // Lines for the administrator: how the run was attended, and what it left
  // undone on purpose (a launch with nobody to see it).
  std::vector<std::string> notes;
  // The installed package's version before the update step, or "none"; empty
  // when the run ended before that step.
  std::string package_before;
};

}  // namespace lexoria

#endif  // LEXORIA_BASE_RUN_RECORD_H_
