// Services: what every operation of the update may use, passed by reference
// from the program entry (or a test) down to each operation.
#ifndef LEXORIA_BASE_SERVICES_H_
#define LEXORIA_BASE_SERVICES_H_

#include "base/setup_context.h"
#include "platform/platform.h"

namespace lexoria {

class ProgressWindow;
class LangUnit;

struct Services {
  SetupContext& ctx;
  platform::Platform& os;
  ProgressWindow& progress;  // the one progress window of the process
  LangUnit& lang;            // the language-file look-up state
};

}  // namespace lexoria

#endif  // LEXORIA_BASE_SERVICES_H_
