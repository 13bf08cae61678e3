// The one pass of the update, and the program around it.
#ifndef LEXORIA_APP_RUN_UPDATE_H_
#define LEXORIA_APP_RUN_UPDATE_H_

#include <cstdint>
#include <string>

#include "base/services.h"
#include "platform/platform.h"

namespace lexoria {

// The package this setup carries, fixed at build time.
struct PackageConfig {
  std::string title;  // PackageTitle
  std::string name;   // PackageName: resource name and installed base name
  int32_t version;    // PackageVersion
};

// "Озвучка русско-английских заданий" (with its quotes) and " версии ".
std::string DefaultPackageTitle();

// Runs the steps of the update in their fixed order; each refusal ends it
// after its message. Failures that no operation handles leave as exceptions.
void RunUpdate(Services& s);

// The whole program: start-up settings, the package configuration, RunUpdate
// and shut-down. Returns the exit code: 0 whenever RunUpdate returned, 1 after
// a failure that escaped it (shown in a task-modal error box).
int RunProgram(platform::Platform& os, const PackageConfig& config);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUN_UPDATE_H_
