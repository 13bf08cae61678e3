#include "install/extract.h"

namespace lexoria {

// Placeholders until extraction lands.
void ExtractResourceToFile(Services&, const std::string&, const std::string&, const std::string&,
                           bool) {}
void JoinResourcesToFile(Services&, const std::string&, const std::string&, const std::string&) {}
std::string MakeTempFileName(const std::string& path) { return path; }

}  // namespace lexoria
