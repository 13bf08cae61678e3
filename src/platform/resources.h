// The setup's own module resources (kernel32).
#ifndef LEXORIA_PLATFORM_RESOURCES_H_
#define LEXORIA_PLATFORM_RESOURCES_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

// Resources of the running module. Names and types match without regard to
// case, as Win32 matches them. A located resource stays valid for the life of
// the process (the module is never unloaded); FreeResource is kept for the
// shape of the calls and does nothing harmful.
class Resources {
 public:
  virtual ~Resources() = default;
  // Returns kNullHandle when no resource of that type and name exists.
  virtual Handle FindResourceA(const std::string& name, const std::string& type) = 0;
  virtual uint32_t SizeofResource(Handle resource) = 0;
  // Returns kNullHandle on failure.
  virtual Handle LoadResource(Handle resource) = 0;
  // The first byte of the loaded resource's data, or nullptr.
  virtual const uint8_t* LockResource(Handle loaded) = 0;
  virtual void FreeResource(Handle loaded) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_RESOURCES_H_
