// Module resources held in memory.
#ifndef LEXORIA_TESTS_FAKES_FAKE_RESOURCES_H_
#define LEXORIA_TESTS_FAKES_FAKE_RESOURCES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace lexoria::testing {

class FakeResources final : public platform::Resources {
 public:
  // Names and types match without regard to case, as in Win32.
  void Add(const std::string& name, const std::string& type, std::vector<uint8_t> data);
  bool fail_load = false;  // LoadResource returns no handle
  bool fail_lock = false;  // LockResource returns no data
  // Resources loaded and not freed.
  int LoadedCount() const { return loaded_; }

  platform::Handle FindResourceA(const std::string& name, const std::string& type) override;
  uint32_t SizeofResource(platform::Handle resource) override;
  platform::Handle LoadResource(platform::Handle resource) override;
  const uint8_t* LockResource(platform::Handle loaded) override;
  void FreeResource(platform::Handle loaded) override;

 private:
  static std::string Key(const std::string& name, const std::string& type);
  std::map<std::string, std::vector<uint8_t>> resources_;
  std::vector<std::string> index_;  // handle - 1 -> key
  int loaded_ = 0;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_RESOURCES_H_
