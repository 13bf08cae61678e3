#include "install/installed_size.h"

namespace lexoria {

// Placeholders until the size walk lands.
int32_t EstimateInstalledSize(platform::FileSystem&, const std::string&) { return -1; }
void RecordInstalledSize(Services&) {}

}  // namespace lexoria
