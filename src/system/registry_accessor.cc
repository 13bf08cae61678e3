#include "system/registry_accessor.h"

namespace lexoria {

// Placeholder until the accessor lands.
TRegistry::TRegistry(platform::Registry& api) : api_(api) {}
TRegistry::TRegistry(platform::Registry& api, uint32_t access) : api_(api), access_(access) {}
TRegistry::~TRegistry() { CloseKey(); }
void TRegistry::SetRootKey(platform::HKey root) { root_key_ = root; }
bool TRegistry::OpenKey(const std::string&, bool) { return false; }
bool TRegistry::ValueExists(const std::string&) { return false; }
std::string TRegistry::ReadString(const std::string&) { return {}; }
void TRegistry::WriteInteger(const std::string&, int32_t) {}
void TRegistry::CloseKey() {
  if (current_key_ != platform::kNullHandle) api_.RegCloseKey(current_key_);
  current_key_ = platform::kNullHandle;
  current_path_.clear();
  (void)lazy_write_;
}

}  // namespace lexoria
