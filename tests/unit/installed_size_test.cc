#include "install/installed_size.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fakes/fake_platform.h"

namespace lexoria {
namespace {

using testing::FakeFileSystem;

constexpr char kDir[] = "C:\\Program Files\\Lexoria\\";
constexpr uint64_t kGiB = uint64_t{1} << 30;

// Tests the size walk over trees laid out row by row.
TEST(EstimateInstalledSizeTest, SumsTheTreeInWholeKib) {
  struct Row {
    const char* what;
    std::function<void(FakeFileSystem&)> lay_out;
    std::string directory;
    int32_t expected;
  } rows[] = {
      {"empty existing directory", [](FakeFileSystem& f) { f.AddDirectory(kDir); }, kDir, 0},
      {"missing directory", [](FakeFileSystem&) {}, kDir, -1},
      {"empty path", [](FakeFileSystem& f) { f.AddDirectory(kDir); }, "", -1},
      {"path of a file", [](FakeFileSystem& f) { f.AddFile("C:\\Program Files\\Lexoria", "x"); },
       "C:\\Program Files\\Lexoria", -1},
      {"a single file of 1023 bytes gives 0",
       [](FakeFileSystem& f) { f.AddFile(std::string(kDir) + "a", std::string(1023, 'a')); }, kDir,
       0},
      {"1023 + 1 bytes in the tree give 1",
       [](FakeFileSystem& f) {
         f.AddFile(std::string(kDir) + "a", std::string(1023, 'a'));
         f.AddFile(std::string(kDir) + "sub\\deeper\\b", "b");
       },
       kDir, 1},
      {"path without trailing backslash",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "a", 4096); },
       "C:\\Program Files\\Lexoria", 4},
      {"hidden and system files count",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "hidden", 2048, platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "system", 1024,
                        platform::kFileAttributeSystem | platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "readonly", 1024, platform::kFileAttributeReadonly);
       },
       kDir, 4},
      {"hidden directories are walked",
       [](FakeFileSystem& f) {
         f.AddDirectory(std::string(kDir) + "h");
         f.SetAttributes(std::string(kDir) + "h",
                         platform::kFileAttributeDirectory | platform::kFileAttributeHidden);
         f.AddSizedFile(std::string(kDir) + "h\\x", 10240);
       },
       kDir, 10},
      {"several levels, breadth and depth",
       [](FakeFileSystem& f) {
         for (const char* path : {"a", "b\\c", "b\\d\\e", "f\\g\\h\\i\\j", "b\\d\\k"}) {
           f.AddSizedFile(std::string(kDir) + path, 1024);
         }
       },
       kDir, 5},
      {"an unreadable subdirectory adds nothing and the walk goes on",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "locked\\inside", 100 * 1024);
         f.DenyListing(std::string(kDir) + "locked");
         f.AddSizedFile(std::string(kDir) + "open\\inside", 3 * 1024);
         f.AddSizedFile(std::string(kDir) + "top", 1024);
       },
       kDir, 4},
      {"an unreadable start directory gives 0",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 4096);
         f.DenyListing(kDir);
       },
       kDir, 0},
      {"a junction cycle is not walked into",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "data\\a", 2048);
         f.AddJunction(std::string(kDir) + "data\\loop", kDir);
       },
       kDir, 2},
      {"a junction to a tree elsewhere is not counted",
       [](FakeFileSystem& f) {
         f.AddSizedFile("C:\\Elsewhere\\big", 50 * 1024);
         f.AddJunction(std::string(kDir) + "link", "C:\\Elsewhere");
         f.AddSizedFile(std::string(kDir) + "a", 1024);
       },
       kDir, 1},
      {"a single file of 5 GiB",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "huge", 5 * kGiB); }, kDir,
       5 * 1024 * 1024},
      {"files adding up past 4 GiB",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 3 * kGiB);
         f.AddSizedFile(std::string(kDir) + "sub\\b", 3 * kGiB + 1024);
       },
       kDir, 6 * 1024 * 1024 + 1},
      {"saturates at 2^31-1 KiB",
       [](FakeFileSystem& f) {
         f.AddSizedFile(std::string(kDir) + "a", 2048 * kGiB);
         f.AddSizedFile(std::string(kDir) + "b", 1024);
       },
       kDir, 0x7FFFFFFF},
      {"just below the saturation",
       [](FakeFileSystem& f) { f.AddSizedFile(std::string(kDir) + "a", 2048 * kGiB - 1024); }, kDir,
       0x7FFFFFFF},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeFileSystem files;
    row.lay_out(files);
    EXPECT_EQ(EstimateInstalledSize(files, row.directory), row.expected);
    EXPECT_EQ(files.OpenFindCount(), 0u) << "every enumeration is closed";
    EXPECT_EQ(files.OpenHandleCount(), 0u) << "no file is opened";
  }
}

}  // namespace
}  // namespace lexoria
