// Executable type and version resources: none, until set up by a test.
#ifndef LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_
#define LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_

#include "platform/version_api.h"

namespace lexoria::testing {

class FakeVersionApi final : public platform::VersionApi {
 public:
  uintptr_t SHGetFileInfoA(const std::string&, uint32_t, uint32_t) override { return 0; }
  uint32_t GetFileVersionInfoSizeA(const std::string&) override { return 0; }
  bool GetFileVersionInfoA(const std::string&, uint32_t, void*) override { return false; }
  bool VerQueryValueA(const void*, const std::string&, const void**, uint32_t*) override {
    return false;
  }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_
