// Discovery of the installation environment: where Lexoria is installed, the
// system and shell folders, and whether the user is an administrator.
#ifndef LEXORIA_APP_ENVIRONMENT_H_
#define LEXORIA_APP_ENVIRONMENT_H_

#include "app/services.h"

namespace lexoria {

// Fills the environment fields of the SetupContext. True when every step has
// run; false only after the per-user shell folders could not be read, which it
// has reported itself. REQUIRES: ProductShortName and the update titles set,
// RussianUi and SharedRegistry established.
bool DiscoverEnvironment(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_APP_ENVIRONMENT_H_
