// Placeholder registry: every key is absent. Replaced by the full fake with
// the registry accessor.
#ifndef LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_
#define LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_

#include "platform/registry.h"

namespace lexoria::testing {

class FakeRegistry final : public platform::Registry {
 public:
  long RegOpenKeyExA(platform::HKey, const char*, uint32_t, uint32_t, platform::HKey*) override {
    return platform::kErrorFileNotFound;
  }
  long RegCreateKeyExA(platform::HKey, const char*, uint32_t, const char*, uint32_t, uint32_t,
                       platform::HKey*, uint32_t*) override {
    return platform::kErrorAccessDenied;
  }
  long RegQueryValueExA(platform::HKey, const char*, uint32_t*, uint8_t*, uint32_t*) override {
    return platform::kErrorFileNotFound;
  }
  long RegSetValueExA(platform::HKey, const char*, uint32_t, uint32_t, const uint8_t*,
                      uint32_t) override {
    return platform::kErrorInvalidHandle;
  }
  long RegCloseKey(platform::HKey) override { return platform::kErrorSuccess; }
  long RegFlushKey(platform::HKey) override { return platform::kErrorSuccess; }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_REGISTRY_H_
