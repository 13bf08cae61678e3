#include "app/environment.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/registry.h"
#include "platform/system_info.h"
#include "system/registry_accessor.h"
#include "system/settings.h"
#include "ui/messages.h"

namespace lexoria {

namespace {

constexpr uint32_t kDirectoryBufferSize = 255;

constexpr char kShellFoldersKey[] = "Explorer\\Shell Folders";
constexpr char kWow64Node[] = "WOW6432Node\\";
constexpr char kUninstallString[] = "UninstallString";

// Reads `name` of the open key into `target` when the value exists, leaving
// `target` untouched otherwise; raises ERegistryException for a value that is
// not text.
void ReadIfPresent(TRegistry& reg, const char* name, std::string& target) {
  if (reg.ValueExists(name)) target = reg.ReadString(name);
}

// The "Common Programs" folder exists only on the NT family. A version query
// that fails leaves the platform unknown, and the value is then not read.
bool IsNtFamily(platform::SystemInfo& system) {
  platform::OsVersionInfo info;
  if (!system.GetVersionExA(platform::kOsVersionInfoSize, &info)) return false;
  return info.platform_id == platform::kVerPlatformWin32Nt;
}

// Row 7 or 8: the directory of Lexoria's uninstaller under HKLM `key`, or
// nothing when the key, its "UninstallString" or a directory part is missing.
std::optional<std::string> ReadUninstallDirectory(TRegistry& reg, const std::string& key) {
  reg.SetRootKey(platform::kHkeyLocalMachine);
  KeyCloser closer(reg);
  if (!reg.OpenKey(key, /*create=*/false)) return std::nullopt;
  if (!reg.ValueExists(kUninstallString)) return std::nullopt;
  return UninstallStringDirectory(reg.ReadString(kUninstallString));
}

// Software\Microsoft\...\Uninstall\ becomes Software\WOW6432Node\Microsoft\...
// \Uninstall\: where a 32-bit installer's entry lands on 64-bit Windows.
std::string Wow64KeyRoot(const std::string& key_root) {
  const size_t first = key_root.find('\\');
  if (first == std::string::npos) return kWow64Node + key_root;
  return key_root.substr(0, first + 1) + kWow64Node + key_root.substr(first + 1);
}

}  // namespace

std::optional<std::string> UninstallStringDirectory(const std::string& value) {
  std::string_view path = value;
  // Installers commonly quote the uninstaller's path and append arguments;
  // the arguments may hold backslashes of their own, so only the quoted part
  // may decide.
  if (!path.empty() && path.front() == '"') {
    path.remove_prefix(1);
    path = path.substr(0, path.find('"'));
  }
  // The final character is never taken as the separator: a value that ends
  // in a backslash names that directory's parent.
  if (path.size() < 2) return std::nullopt;
  const size_t slash = path.rfind('\\', path.size() - 2);
  if (slash == std::string_view::npos) return std::nullopt;
  return std::string(path.substr(0, slash + 1));
}

bool IsAbsolutePath(const std::string& path) {
  const auto is_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 3 && is_letter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
  if (path.size() < 2 || path[0] != '\\' || path[1] != '\\') return false;
  // \\server\share: two names, neither empty, the share's ending the path or
  // followed by a backslash.
  const size_t server_end = path.find('\\', 2);
  if (server_end == std::string::npos || server_end == 2) return false;
  const size_t share_end = path.find('\\', server_end + 1);
  return (share_end == std::string::npos ? path.size() : share_end) > server_end + 1;
}

bool DiscoverEnvironment(Services& s) {
  SetupContext& ctx = s.ctx;
  TRegistry& reg = *ctx.SharedRegistry;
  const std::string shell_folders_key = std::string(kWindowsCurrentVersionKey) + kShellFoldersKey;

  ctx.CommonProgramsDir.clear();

  ctx.SystemDir = s.os.system.GetSystemDirectoryA(kDirectoryBufferSize);
  EnsureTrailingBackslash(ctx.SystemDir);
  ctx.WindowsDir = s.os.system.GetWindowsDirectoryA(kDirectoryBufferSize);
  EnsureTrailingBackslash(ctx.WindowsDir);

  // Row 1: the program-files directory, the home of the default InstallDir.
  std::string program_files;
  {
    reg.SetRootKey(platform::kHkeyLocalMachine);
    KeyCloser closer(reg);
    if (reg.OpenKey(kWindowsCurrentVersionKey, /*create=*/false)) {
      ReadIfPresent(reg, "ProgramFilesDir", program_files);
    }
  }
  EnsureTrailingBackslash(program_files);

  ctx.IsAdmin = s.os.processes.IsUserAnAdmin();

  bool temp_found = false;
  ctx.TempDir =
      s.os.system.GetEnvironmentVariableA("Temp", platform::kEnvironmentBufferSize, &temp_found);
  EnsureTrailingBackslash(ctx.TempDir);

  // Rows 2 and 3: the all-users shell folders.
  {
    reg.SetRootKey(platform::kHkeyLocalMachine);
    KeyCloser closer(reg);
    ctx.CommonDesktopDir.clear();
    if (reg.OpenKey(shell_folders_key, /*create=*/false)) {
      ReadIfPresent(reg, "Common Desktop", ctx.CommonDesktopDir);
      EnsureTrailingBackslash(ctx.CommonDesktopDir);
      if (IsNtFamily(s.os.system)) {
        ReadIfPresent(reg, "Common Programs", ctx.CommonProgramsDir);
        EnsureTrailingBackslash(ctx.CommonProgramsDir);
      }
    }
  }

  // Rows 4 to 6: the per-user shell folders. Only a registry failure is the
  // user's "no access"; anything else (out of memory) is not, and goes on.
  try {
    reg.SetRootKey(platform::kHkeyCurrentUser);
    KeyCloser closer(reg);
    if (reg.OpenKey(shell_folders_key, /*create=*/false)) {
      ReadIfPresent(reg, "Programs", ctx.UserProgramsDir);
      EnsureTrailingBackslash(ctx.UserProgramsDir);
      ReadIfPresent(reg, "Desktop", ctx.UserDesktopDir);
      EnsureTrailingBackslash(ctx.UserDesktopDir);
      ReadIfPresent(reg, "Startup", ctx.StartupDir);
      EnsureTrailingBackslash(ctx.StartupDir);
    }
  } catch (const ERegistryException&) {
    // The key is closed already: the closer's scope has ended.
    ShowError(s, "No access to system registry", "Нет доступа к системному реестру");
    return false;
  }

  ctx.UninstallKeyRoot = std::string(kWindowsCurrentVersionKey) + "Uninstall\\";
  ctx.VendorKeyPath = std::string(kVendorKeyPrefix) + ctx.ProductShortName + "\\";

  if (ctx.CommonProgramsDir.size() < 2) ctx.CommonProgramsDir = ctx.UserProgramsDir;

  ctx.CommonGroupDirAlt = ctx.CommonProgramsDir + ctx.UpdateTitleRu + "\\";
  ctx.CommonGroupDir = ctx.CommonProgramsDir + ctx.UpdateTitleEn + "\\";
  ctx.UserGroupDirRu = ctx.UserProgramsDir + ctx.UpdateTitleRu + "\\";
  ctx.UserGroupDirEn = ctx.UserProgramsDir + ctx.UpdateTitleEn + "\\";
  // CommonGroupDir is the group in the interface language; only the all-users
  // pair follows it.
  if (ctx.RussianUi) std::swap(ctx.CommonGroupDir, ctx.CommonGroupDirAlt);

  ctx.InstallDir = program_files + ctx.ProductShortName;

  // Row 7: the entry in the registry view SharedRegistry was made for.
  const std::optional<std::string> native =
      ReadUninstallDirectory(reg, ctx.UninstallKeyRoot + ctx.ProductShortName);
  if (native) ctx.InstallDir = *native;

  ctx.Wow64UninstallKey.clear();

  // Row 8: an entry that a 32-bit installer wrote on 64-bit Windows.
  if (!native) {
    const std::string wow64_key = Wow64KeyRoot(ctx.UninstallKeyRoot) + ctx.ProductShortName;
    const std::optional<std::string> wow64 = ReadUninstallDirectory(reg, wow64_key);
    if (wow64) {
      ctx.InstallDir = *wow64;
      ctx.Wow64UninstallKey = wow64_key;
    }
  }

  EnsureTrailingBackslash(ctx.InstallDir);
  return true;
}

}  // namespace lexoria
