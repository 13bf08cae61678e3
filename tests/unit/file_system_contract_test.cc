// The contract's rows on the fakes; contract_probe.exe runs the same rows on
// the real adapter under Wine.
#include "contract/file_system_contract.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace lexoria {
namespace {

class FakeScene final : public contract::Scene {
 public:
  explicit FakeScene(testing::FakePlatform& p) : p_(p) {}
  void Folder(const std::string& path) override { p_.files.AddDirectory(path); }
  void File(const std::string& path, const std::string& content) override {
    p_.files.AddFile(path, content);
  }
  void Link(const std::string& path, const std::string& target, bool folder) override {
    folder ? p_.files.AddJunction(path, target) : p_.files.AddFileLink(path, target);
  }
  void RestorePendingRenames() override {}

 private:
  testing::FakePlatform& p_;
};

// Tests that the fakes give Windows' answer to every row, and Wine's where
// they model Wine (FakeFileSystem::opens_follow_links).
TEST(FileSystemContractTest, TheFakesAnswerAsTheSystemDoes) {
  for (const bool wine : {false, true}) {
    for (const contract::Row& row : contract::ContractRows()) {
      if (wine && !row.fake_models_wine) continue;
      testing::FakePlatform p;
      p.files.opens_follow_links = wine;
      FakeScene scene(p);
      contract::World world{p.files, p.registry, p.system, scene, wine};
      EXPECT_EQ(contract::RunRow(row, world, "C:\\contract"), "")
          << row.fault << (wine ? " (as Wine)" : "");
    }
  }
}

}  // namespace
}  // namespace lexoria
