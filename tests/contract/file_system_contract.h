// The contract of the file system and registry ports: what the link-safe
// write relies on, as one table of rows. The unit tests run every row on the
// fakes; contract_probe.exe runs the same rows on the real adapter under Wine
// (tests/e2e/test_contract.py), so that a fake more lenient than the system,
// or a system that changed, fails a row.
#ifndef LEXORIA_TESTS_CONTRACT_FILE_SYSTEM_CONTRACT_H_
#define LEXORIA_TESTS_CONTRACT_FILE_SYSTEM_CONTRACT_H_

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/system_info.h"

namespace lexoria::contract {

// What a row lays out before it acts, in the folder it is given.
class Scene {
 public:
  virtual ~Scene() = default;
  virtual void Folder(const std::string& path) = 0;
  virtual void File(const std::string& path, const std::string& content) = 0;
  // A link at `path` to `target` (a folder's or a file's). Wine makes none
  // through its API: there the harness lays them from outside beforehand.
  virtual void Link(const std::string& path, const std::string& target, bool folder) = 0;
  // PendingFileRenameOperations as it was before the row.
  virtual void RestorePendingRenames() = 0;
};

struct World {
  platform::FileSystem& files;
  platform::Registry& registry;
  platform::SystemInfo& system;
  Scene& scene;
  bool wine;  // the system is Wine: its answer counts where it is not Windows'
};

struct Row {
  const char* fault;  // what a fake or system that fails the row gets wrong
  void (*lay)(Scene& scene, const std::string& dir);
  // What the row saw; "{dir}" stands for `dir`.
  std::string (*act)(World& world, const std::string& dir);
  const char* windows;    // Windows' answer
  const char* wine;       // Wine's, where it differs (else null)
  bool fake_models_wine;  // FakeFileSystem::opens_follow_links gives Wine's answer
};

const std::vector<Row>& ContractRows();

// Lays `row` in `dir` and acts: the empty text when it saw the answer of its
// system, else what it saw against what it should have.
std::string RunRow(const Row& row, World& world, const std::string& dir);

}  // namespace lexoria::contract

#endif  // LEXORIA_TESTS_CONTRACT_FILE_SYSTEM_CONTRACT_H_
