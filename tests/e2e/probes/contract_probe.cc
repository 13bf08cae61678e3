// contract_probe.exe: the rows of tests/contract/ on the real adapter.
//
//   contract_probe.exe links ROOT   prints "link PATH TARGET folder|file" for
//                                   each link the rows lay, for the harness
//                                   to make (Wine makes none through its API)
//   contract_probe.exe run ROOT     lays each row in ROOT\N and acts; prints
//                                   "row N ok" or "row N FAIL <fault>: <why>"
//
// Wine's answers count where the rows name them. Exit code 0, 2 on a usage
// error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "contract/file_system_contract.h"
#include "platform/scoped_handles.h"
#include "platform/win32/adapters.h"

namespace {

using namespace lexoria;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";

class Win32Scene final : public contract::Scene {
 public:
  Win32Scene(platform::FileSystem& files, bool print_links) : files_(files), print_(print_links) {
    DWORD size = sizeof(renames_);
    read_ = ::RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames,
                           RRF_RT_REG_MULTI_SZ, nullptr, renames_, &size);
    renames_size_ = size;
  }
  void Folder(const std::string& path) override {
    if (!print_) files_.CreateDirectoryA(path);
  }
  void File(const std::string& path, const std::string& content) override {
    if (print_) return;
    const platform::ScopedFile file(
        files_, files_.CreateFileA(path, platform::kGenericWrite, 0, platform::kCreateAlways,
                                   platform::kFileAttributeNormal));
    uint32_t written = 0;
    files_.WriteFile(file.get(), content.data(), static_cast<uint32_t>(content.size()), &written);
  }
  void Link(const std::string& path, const std::string& target, bool folder) override {
    if (print_)
      std::printf("link %s %s %s\n", path.c_str(), target.c_str(), folder ? "folder" : "file");
  }
  void RestorePendingRenames() override {
    // A value that could not be read is left as the rows made it.
    HKEY key = nullptr;
    if ((read_ != ERROR_SUCCESS && read_ != ERROR_FILE_NOT_FOUND) ||
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != 0) {
      return;
    }
    if (read_ == ERROR_SUCCESS) {
      ::RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ, renames_, renames_size_);
    } else {
      ::RegDeleteValueA(key, kPendingRenames);
    }
    ::RegCloseKey(key);
  }

 private:
  platform::FileSystem& files_;
  const bool print_;
  LSTATUS read_ = ERROR_FILE_NOT_FOUND;
  BYTE renames_[1 << 16];
  DWORD renames_size_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "links" && command != "run") {
    std::fprintf(stderr, "usage: contract_probe links|run ROOT\n");
    return 2;
  }
  auto files = platform::win32::MakeFileSystem();
  auto registry = platform::win32::MakeRegistry();
  auto system = platform::win32::MakeSystemInfo();
  Win32Scene scene(*files, command == "links");
  const bool wine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version");
  contract::World world{*files, *registry, *system, scene, wine};
  scene.Folder(argv[2]);
  const auto& rows = contract::ContractRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string dir = std::string(argv[2]) + "\\" + std::to_string(i);
    if (command == "links") {
      rows[i].lay(scene, dir);
      continue;
    }
    const std::string why = contract::RunRow(rows[i], world, dir);
    std::printf("row %u %s\n", static_cast<unsigned>(i),
                why.empty() ? "ok" : ("FAIL " + std::string(rows[i].fault) + ": " + why).c_str());
  }
  return 0;
}
