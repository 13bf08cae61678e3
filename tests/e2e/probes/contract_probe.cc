// contract_probe.exe: the rows of tests/contract/ on the real adapter.
//
//   contract_probe.exe links ROOT   prints "link PATH TARGET folder|file" for
//                                   every link the rows lay, for the harness
//                                   to make (Wine makes none through its API)
//   contract_probe.exe run ROOT     lays each row in ROOT\N and acts; prints
//                                   "row N ok" or "row N FAIL <fault>: <why>"
//
// Wine's answers count where the rows say Wine is not Windows. Exit code 0,
// 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "contract/file_system_contract.h"
#include "platform/win32/adapters.h"

namespace {

using lexoria::contract::Scene;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";

class Win32Scene final : public Scene {
 public:
  explicit Win32Scene(bool print_links) : print_links_(print_links) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) == 0) {
      DWORD size = 0;
      had_renames_ =
          ::RegQueryValueExA(key, kPendingRenames, nullptr, nullptr, nullptr, &size) == 0;
      renames_.resize(size);
      if (had_renames_) {
        ::RegQueryValueExA(key, kPendingRenames, nullptr, nullptr, renames_.data(), &size);
      }
      ::RegCloseKey(key);
    }
  }
  void Folder(const std::string& path) override {
    if (!print_links_) ::CreateDirectoryA(path.c_str(), nullptr);
  }
  void File(const std::string& path, const std::string& content) override {
    if (print_links_) return;
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  void Link(const std::string& path, const std::string& target, bool folder) override {
    if (print_links_) {
      std::printf("link %s %s %s\n", path.c_str(), target.c_str(), folder ? "folder" : "file");
    }
  }
  void RestorePendingRenames() override {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != 0) return;
    if (had_renames_) {
      ::RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ, renames_.data(),
                       static_cast<DWORD>(renames_.size()));
    } else {
      ::RegDeleteValueA(key, kPendingRenames);
    }
    ::RegCloseKey(key);
  }

 private:
  const bool print_links_;
  bool had_renames_ = false;
  std::vector<BYTE> renames_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "links" && command != "run") {
    std::fprintf(stderr, "usage: contract_probe links|run ROOT\n");
    return 2;
  }
  const std::string root = argv[2];
  const bool links = command == "links";
  Win32Scene scene(links);
  if (!links) ::CreateDirectoryA(root.c_str(), nullptr);
  auto files = lexoria::platform::win32::MakeFileSystem();
  auto registry = lexoria::platform::win32::MakeRegistry();
  const bool wine =
      ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  lexoria::contract::World world{*files, *registry, scene, wine};
  const auto& rows = lexoria::contract::ContractRows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string dir = root + "\\" + std::to_string(i);
    if (links) {
      rows[i].lay(scene, dir);
      continue;
    }
    const std::string why = lexoria::contract::RunRow(rows[i], world, dir);
    std::printf("row %u %s%s%s\n", static_cast<unsigned>(i), why.empty() ? "ok" : "FAIL ",
                why.empty() ? "" : rows[i].fault, why.empty() ? "" : (": " + why).c_str());
  }
  return 0;
}
