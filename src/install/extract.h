// Writing a resource of the setup's own module out as a file, with protection
// against replacing a newer installed file by an older one.
#ifndef LEXORIA_INSTALL_EXTRACT_H_
#define LEXORIA_INSTALL_EXTRACT_H_

#include <string>

#include "app/services.h"

namespace lexoria {

// Writes the resource `name` of type `type` to `target_path`. With `check`
// set, an existing file of a known type is replaced only after its version
// has been compared (and the user asked when the new file is older). Reports
// its own failures; never raises.
void ExtractResourceToFile(Services& s, const std::string& name, const std::string& type,
                           const std::string& target_path, bool check);
// Writes the resources `name`1 and `name`2, joined, to `target_path`.
void JoinResourcesToFile(Services& s, const std::string& name, const std::string& type,
                         const std::string& target_path);
// `path` with "~" before its file name: D:\Data\lxrq.pak gives D:\Data\~lxrq.pak.
std::string MakeTempFileName(const std::string& path);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_EXTRACT_H_
