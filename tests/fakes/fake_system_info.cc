#include "fakes/fake_system_info.h"

namespace lexoria::testing {

std::string FakeSystemInfo::GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                                    bool* found) {
  // Environment names match without regard to case.
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  auto it = environment.find(key);
  if (it == environment.end()) {
    *found = false;
    return {};
  }
  *found = true;
  return it->second.size() < buffer_size ? it->second : std::string();
}

bool FakeSystemInfo::GetVersionExA(uint32_t record_size, platform::OsVersionInfo* info) {
  if (record_size == platform::kOsVersionInfoExSize && extended_version_fails) return false;
  if (record_size == platform::kOsVersionInfoSize && plain_version_fails) return false;
  *info = version;
  if (record_size != platform::kOsVersionInfoExSize) {
    info->suite_mask = 0;
    info->product_type = 0;
  }
  return true;
}

}  // namespace lexoria::testing
