#include "fakes/fake_resources.h"

#include <algorithm>

namespace lexoria::testing {

std::string FakeResources::Key(const std::string& name, const std::string& type) {
  std::string key = type + "/" + name;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return key;
}

void FakeResources::Add(const std::string& name, const std::string& type,
                        std::vector<uint8_t> data) {
  const std::string key = Key(name, type);
  if (resources_.count(key) == 0) index_.push_back(key);
  resources_[key] = std::move(data);
}

platform::Handle FakeResources::FindResourceA(const std::string& name, const std::string& type) {
  auto it = std::find(index_.begin(), index_.end(), Key(name, type));
  return it == index_.end() ? platform::kNullHandle
                            : static_cast<platform::Handle>(it - index_.begin() + 1);
}

uint32_t FakeResources::SizeofResource(platform::Handle resource) {
  if (resource == 0 || resource > index_.size()) return 0;
  return static_cast<uint32_t>(resources_[index_[resource - 1]].size());
}

platform::Handle FakeResources::LoadResource(platform::Handle resource) {
  if (fail_load || resource == 0 || resource > index_.size()) return platform::kNullHandle;
  ++loaded_;
  return resource + 0x1000;
}

const uint8_t* FakeResources::LockResource(platform::Handle loaded) {
  if (fail_lock) return nullptr;
  if (loaded <= 0x1000 || loaded - 0x1000 > index_.size()) return nullptr;
  return resources_[index_[loaded - 0x1001]].data();
}

void FakeResources::FreeResource(platform::Handle loaded) {
  if (loaded > 0x1000) --loaded_;
}

}  // namespace lexoria::testing
