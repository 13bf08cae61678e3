#include "system/windows_version.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/hex_text.h"
#include "platform/scoped_handles.h"
#include "system/command_line.h"
#include "system/registry_accessor.h"

namespace lexoria {

namespace {

using platform::kHkeyLocalMachine;

constexpr uint8_t kNtWorkstation = 1;
constexpr uint8_t kNtDomainController = 2;
constexpr uint8_t kNtServer = 3;

constexpr uint16_t kArchitectureIntel = 0;
constexpr uint16_t kArchitectureIa64 = 6;
constexpr uint16_t kArchitectureAmd64 = 9;

constexpr int kSmTabletPc = 86;
constexpr int kSmMediaCenter = 87;
constexpr int kSmStarter = 88;
constexpr int kSmServerR2 = 89;

constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteEmbeddedNt = 0x0040;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;

constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kQ246009Key[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";

// "ComSpec" is read into a buffer of this many characters; a longer value
// does not fit and counts as missing.
constexpr uint32_t kComSpecBufferSize = 260;
constexpr uint32_t kProductTypeBufferSize = 256;
constexpr uint32_t kReadChunk = 4096;
constexpr uint32_t kSystemDirectoryBufferSize = 260;
// "ver" prints one line; anything near this size is not its output.
constexpr size_t kMaxOutputBytes = 64 * 1024;
// "ver" answers in well under a second; the bound only keeps a hung
// interpreter from holding start-up (and so the whole setup) for ever.
constexpr uint32_t kCommandTimeoutMs = 10000;
// After TerminateProcess, how long to let the interpreter go before its
// output file is closed.
constexpr uint32_t kTerminateWaitMs = 1000;
constexpr uint32_t kTerminatedExitCode = 1;
// Names drawn for the output file before the probe gives up: one taken name
// is chance, a run of them someone planting files.
constexpr int kOutputFileTries = 16;

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The facts the tables branch on, gathered once.
struct Facts {
  platform::OsVersionInfo version;
  bool extended = false;
  uint16_t architecture = 0;
};

// The "ver" output is asked for at most once per identification, and only by
// the rows that need it.
class VerOutput {
 public:
  VerOutput(platform::Platform& os, RandomGenerator& random) : os_(os), random_(random) {}
  const std::string& Get() {
    if (!text_) text_ = CaptureCommandOutput(os_, random_, "ver");
    return *text_;
  }

 private:
  platform::Platform& os_;
  RandomGenerator& random_;
  std::optional<std::string> text_;
};

// Words for releases the version query does not name: "Server " for a
// non-workstation, then what stands in the "ver" output between the fourth
// character after its first "ion" and its first ".", then a blank.
std::string GenericWords(const std::string& output, uint8_t product_type) {
  std::string words;
  if (product_type != kNtWorkstation) words += "Server ";
  const size_t ion = output.find("ion");
  // 1-based positions, as the rule is stated: i is the first "ion" + 4, or 4.
  const size_t i = (ion == std::string::npos ? 0 : ion + 1) + 4;
  const size_t dot = output.find('.');
  if (dot != std::string::npos && i <= output.size()) {
    const size_t dot_position = dot + 1;
    if (dot_position > i) words += output.substr(i - 1, dot_position - i);
  }
  words += ' ';
  return words;
}

std::string NineXWords(const platform::OsVersionInfo& v) {
  const uint32_t build = v.build_number & 0xFFFF;
  const char letter = v.csd_version.size() >= 2 ? v.csd_version[1] : '\0';
  if (v.major_version != 4) return "Unknown 9x";
  switch (v.minor_version) {
    case 0:
    case 3:
      if (build == 1111) return "95 OSR 2.0";
      if (build == 1212 || build == 1213) return "95 OSR 2.1";
      if (build == 1214) return letter == 'C' ? "95 OSR 2.5" : "95 OSR 2.1";
      if (build > 1080) return "95 OSR 2.x";
      if (letter == 'A' || letter == 'W') return "95 OSR 1";
      return "95";
    case 10:
      return build == 2222 || letter == 'A' || letter == 'B' ? "98 SE" : "98";
    case 90:
      return "Millennium";
    default:
      return "Unknown 9x";
  }
}

std::string NtVersionWords(platform::Platform& os, const Facts& f, VerOutput& ver) {
  const uint32_t major = f.version.major_version;
  const uint32_t minor = f.version.minor_version;
  const bool workstation = f.version.product_type == kNtWorkstation;
  auto pick = [workstation](const char* for_workstation, const char* for_server) {
    return std::string(workstation ? for_workstation : for_server);
  };
  switch (major) {
    case 3:
    case 4:
      return "NT ";
    case 5:
      if (minor == 0) return "2000 ";
      if (minor == 1) return "XP ";
      if (minor == 2) {
        if (os.system.GetSystemMetrics(kSmServerR2) != 0) return "Server 2003 R2 ";
        if (f.version.suite_mask == kSuiteStorageServer) return "Storage Server 2003";
        if (workstation && f.architecture == kArchitectureAmd64) return "XP ";
        return "Server 2003 ";
      }
      return "Unknown version ";
    case 6:
      switch (minor) {
        case 0:
          return pick("Vista ", "Server 2008 ");
        case 1:
          return pick("7 ", "Server 2008 R2 ");
        case 2: {
          // Without a supported-OS manifest 8.1 and 10 report 6.2 as well:
          // the interpreter's banner tells them apart.
          const std::string& output = ver.Get();
          if (Contains(output, " 6.2")) return pick("8 ", "Server 2012 ");
          if (Contains(output, " 6.3")) return pick("8.1 ", "Server 2012 R2 ");
          if (Contains(output, " 10")) return pick("10 ", "Server 10 ");
          return GenericWords(output, f.version.product_type);
        }
        case 3:
          return pick("8.1 ", "Server 2012 R2 ");
        default:
          return {};
      }
    case 10:
      return minor == 0 ? pick("10 ", "Server 2016 ") : std::string();
    default:
      return GenericWords(ver.Get(), f.version.product_type);
  }
}

std::string ProductTypeWords(platform::Platform& os, const Facts& f) {
  const uint32_t major = f.version.major_version;
  const uint32_t minor = f.version.minor_version;
  const uint16_t suite = f.version.suite_mask;
  const uint8_t type = f.version.product_type;
  const uint16_t arch = f.architecture;
  auto metric = [&os](int index) { return os.system.GetSystemMetrics(index) != 0; };

  if (type == kNtWorkstation) {
    if (major == 4) return "Workstation";
    if (major != 5) return "Unknown Workstation";
    if (minor == 2 && arch == kArchitectureAmd64) return "Professional x64";
    if (metric(kSmStarter)) return "Starter";
    if (metric(kSmMediaCenter)) return "Media Center";
    if (metric(kSmTabletPc)) return "Tablet PC";
    if (suite & kSuitePersonal) return "Home";
    if (suite & kSuiteEmbeddedNt) return "Embedded";
    return "Professional";
  }
  if (type != kNtDomainController && type != kNtServer) return "Unknown";

  const std::string unknown = type == kNtServer ? "Unknown Server" : "Unknown Domain controller";
  if (major == 4) return suite & kSuiteEnterprise ? "Server 4.0 Enterprise" : "Server 4.0";
  if (major != 5) return unknown;
  if (minor == 0) {
    if (suite & kSuiteDatacenter) return "Datacenter Server";
    if (suite & kSuiteEnterprise) return "Advanced Server";
    return "Server";
  }
  if (minor != 2) return unknown;
  switch (arch) {
    case kArchitectureIntel:
      if (suite & kSuiteComputeServer) return "Computer Cluster";
      if (suite & kSuiteDatacenter) return "Datacenter";
      if (suite & kSuiteEnterprise) return "Enterprise";
      if (suite == kSuiteBlade) return "Web";
      return "Standard";
    case kArchitectureIa64:
      if (suite & kSuiteDatacenter) return "Datacenter for Itanium-based Systems";
      if (suite & kSuiteEnterprise) return "Enterprise for Itanium-based Systems";
      return "Standard Itanium-based";
    case kArchitectureAmd64:
      if (suite & kSuiteDatacenter) return "Datacenter x64";
      if (suite & kSuiteEnterprise) return "Enterprise x64";
      return "Standard x64";
    default:
      return "Unknown on Architecture 0x" + HexText(arch, 1, /*capitals=*/true);
  }
}

// Systems without the extended record keep their kind in ProductOptions.
std::string ProductOptionsWords(platform::Platform& os) {
  platform::HKey opened = platform::kNullHandle;
  if (os.registry.RegOpenKeyExA(kHkeyLocalMachine, kProductOptionsKey, /*options=*/0,
                                platform::kKeyQueryValue,
                                &opened) != static_cast<long>(platform::kErrorSuccess)) {
    return {};
  }
  const platform::ScopedKey key(os.registry, opened);
  uint8_t buffer[kProductTypeBufferSize] = {};
  uint32_t size = sizeof(buffer);
  uint32_t type = platform::kRegNone;
  const long result = os.registry.RegQueryValueExA(key.get(), "ProductType", &type, buffer, &size);
  if (result != static_cast<long>(platform::kErrorSuccess) || type != platform::kRegSz) return {};

  std::string text;
  for (uint32_t i = 0; i < size && i < sizeof(buffer) && buffer[i] != 0; ++i) {
    char c = static_cast<char>(buffer[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    text.push_back(c);
  }
  if (text == "WINNT") return "Workstation";
  if (text == "LANMANNT") return "Server";
  if (text == "SERVERNT") return "Advanced Server";
  return "Unknown";
}

// Vista and later: the registry's own product name, when there is one, and
// the bitness of the machine.
void AppendVistaEditionWords(platform::Platform& os, const Facts& f, std::string* edition) {
  {
    TRegistry registry(os.registry, platform::kKeyAllAccess | platform::kKeyWow64_64Key);
    registry.SetRootKey(kHkeyLocalMachine);
    if (registry.OpenKey(kCurrentVersionKey, /*create=*/false)) {
      KeyCloser closer(registry);
      if (registry.ValueExists("ProductName")) {
        // A ProductName that is not text raises the accessor's type error;
        // start-up must not stop over a name nobody sees, so the words
        // built so far stand.
        try {
          *edition = registry.ReadString("ProductName");
        } catch (const ERegistryException&) {
        }
      }
    }
  }
  if (f.architecture == kArchitectureAmd64) {
    *edition += " 64-bit";
  } else if (f.architecture == kArchitectureIntel) {
    *edition += " 32-bit";
  }
}

std::string NtServicePack(platform::Platform& os, const Facts& f) {
  if (f.version.major_version == 4 && f.version.csd_version == "Service Pack 6") {
    platform::HKey key = platform::kNullHandle;
    if (os.registry.RegOpenKeyExA(kHkeyLocalMachine, kQ246009Key, /*options=*/0,
                                  platform::kKeyQueryValue,
                                  &key) == static_cast<long>(platform::kErrorSuccess)) {
      const platform::ScopedKey opened(os.registry, key);
      return "Service Pack 6a";
    }
  }
  return f.version.csd_version;
}

// Splits the file's bytes into lines as a text-file reader does: a line ends
// at LF, and a CR right before the LF belongs to the break. At least one
// line is read, so empty content still yields one empty line.
std::string LinesWithCrLf(const std::string& content) {
  std::string result;
  size_t position = 0;
  do {
    size_t end = content.find('\n', position);
    size_t next = end == std::string::npos ? content.size() : end + 1;
    if (end == std::string::npos) end = content.size();
    size_t line_end = end;
    if (line_end > position && content[line_end - 1] == '\r') --line_end;
    result.append(content, position, line_end - position);
    result += "\r\n";
    position = next;
  } while (position < content.size());
  return result;
}

// The first `limit` bytes of `file` at most, or as much as could be read.
std::string ReadFileHead(platform::FileSystem& files, const platform::ScopedFile& file,
                         size_t limit) {
  // The interpreter wrote through the same handle, so the position is where
  // it stopped.
  if (!file ||
      !files.SetFilePointerEx(file.get(), 0, /*new_position=*/nullptr, platform::kFileBegin)) {
    return {};
  }
  std::string content;
  std::vector<char> chunk(kReadChunk);
  while (content.size() < limit) {
    const uint32_t want =
        static_cast<uint32_t>(std::min<size_t>(kReadChunk, limit - content.size()));
    uint32_t read = 0;
    if (!files.ReadFile(file.get(), chunk.data(), want, &read) || read == 0) break;
    content.append(chunk.data(), read);
  }
  return content;
}

// The interpreter to run: "ComSpec" when it names cmd.exe in the system
// directory (letter case aside), else that cmd.exe itself, so that a value
// the user set in his own environment never picks the program the elevated
// setup starts. Empty when the system directory is unknown.
std::string TrustedInterpreter(platform::SystemInfo& system, const std::string& comspec) {
  std::string system_cmd = system.GetSystemDirectoryA(kSystemDirectoryBufferSize);
  if (system_cmd.empty()) return {};
  EnsureTrailingBackslash(system_cmd);
  system_cmd += "cmd.exe";
  return LowerAsciiLetters(comspec) == LowerAsciiLetters(system_cmd) ? comspec : system_cmd;
}

// A double quote is no character of a file name, and a percent sign marks a
// variable left unexpanded: "Temp" is then not a folder to use.
bool IsUsableTemp(const std::string& directory) {
  return directory.find_first_of("\"%") == std::string::npos;
}

// Creates the file of the interpreter's output in `directory`: eight random
// letters, made new (a name already taken, by chance or by someone who
// planted a file or a link there, is given up for another), with a handle
// processes started with inheritance get. The file goes when the last
// handle to it closes. kInvalidHandleValue when none could be made.
platform::Handle CreateOutputFile(platform::FileSystem& files, RandomGenerator& random,
                                  const std::string& directory) {
  platform::SecurityAttributes inheritable;
  inheritable.inherit_handle = true;
  for (int attempt = 0; attempt < kOutputFileTries; ++attempt) {
    std::string path = directory;
    for (int i = 0; i < 8; ++i) path.push_back(static_cast<char>('a' + random.Below(26)));
    // No sharing: nobody else opens it while it is in use; the interpreter
    // writes through the inherited handle, which is ours.
    const platform::Handle file = files.CreateFileA(
        path, platform::kGenericRead | platform::kGenericWrite | platform::kDelete,
        /*share_mode=*/0, &inheritable, platform::kCreateNew,
        platform::kFileAttributeTemporary | platform::kFileFlagDeleteOnClose |
            platform::kFileFlagOpenReparsePoint);
    if (file != platform::kInvalidHandleValue) return file;
    const uint32_t error = files.GetLastError();
    if (error != platform::kErrorFileExists && error != platform::kErrorAlreadyExists) break;
  }
  return platform::kInvalidHandleValue;
}

}  // namespace

std::string CaptureCommandOutput(platform::Platform& os, RandomGenerator& random,
                                 const std::string& command) {
  bool found = false;
  const std::string comspec =
      os.system.GetEnvironmentVariableA("ComSpec", kComSpecBufferSize, &found);
  if (comspec.empty()) return {};
  const std::string interpreter = TrustedInterpreter(os.system, comspec);
  if (interpreter.empty()) return {};

  std::string directory =
      os.system.GetEnvironmentVariableA("Temp", platform::kEnvironmentBufferSize, &found);
  EnsureTrailingBackslash(directory);
  // As the system account "Temp" is the Windows folder's, where every user
  // may create files: the file is the setup's own, made before the
  // interpreter starts, and handed to it as its output, never named to it.
  const platform::ScopedFile output(os.files, IsUsableTemp(directory)
                                                  ? CreateOutputFile(os.files, random, directory)
                                                  : platform::kInvalidHandleValue);

  // /d: the user's AutoRun commands do not run in the elevated interpreter.
  // /v:off: nor does the delayed expansion his registry may turn on.
  const std::string command_line = interpreter + " /d /v:off /c " + command;
  platform::StartupInfo startup;
  startup.flags = platform::kStartfUseShowWindow | platform::kStartfUseStdHandles;
  startup.show_window = platform::kSwHide;
  startup.std_output = output.get();
  startup.std_error = output.get();
  platform::ProcessInformation started;
  bool timed_out = false;
  if (output &&
      os.processes.CreateProcessA(interpreter, command_line, /*inherit_handles=*/true,
                                  platform::kCreateNewConsole | platform::kCreateNewProcessGroup,
                                  startup, &started)) {
    platform::ScopedProcessInformation process(os.processes);
    process.Own(started);
    if (os.processes.WaitForSingleObject(process.process.get(), kCommandTimeoutMs) ==
        platform::kWaitTimeout) {
      // An interpreter that has not answered "ver" by now will not: it is
      // ended, and what it may have written half is not used.
      timed_out = true;
      os.processes.TerminateProcess(process.process.get(), kTerminatedExitCode);
      os.processes.WaitForSingleObject(process.process.get(), kTerminateWaitMs);
    }
  }

  // Read even when nothing started: an empty file, or none, reads as one
  // empty line. The file goes with the handle, once the interpreter's is
  // closed too.
  const std::string text =
      LinesWithCrLf(timed_out ? std::string() : ReadFileHead(os.files, output, kMaxOutputBytes));
  return os.system.OemToCharBuffA(text);
}

bool QueryWindowsEdition(platform::Platform& os, RandomGenerator& random, std::string* edition,
                         std::string* service_pack) {
  Facts f;
  if (os.system.GetVersionExA(platform::kOsVersionInfoExSize, &f.version)) {
    f.extended = true;
  } else {
    f.version = platform::OsVersionInfo{};
    if (!os.system.GetVersionExA(platform::kOsVersionInfoSize, &f.version)) return false;
    // The plain record has neither suite mask nor product type.
    f.version.suite_mask = 0;
    f.version.product_type = 0;
  }
  f.architecture = os.system.HasGetNativeSystemInfo() ? os.system.GetNativeSystemInfoArchitecture()
                                                      : os.system.GetSystemInfoArchitecture();

  std::string name = "Microsoft Windows ";
  if (f.version.platform_id == platform::kVerPlatformWin32Windows) {
    name += NineXWords(f.version);
    *edition = name;
    *service_pack = f.version.csd_version;
    return true;
  }
  if (f.version.platform_id != platform::kVerPlatformWin32Nt) return false;

  VerOutput ver(os, random);
  name += NtVersionWords(os, f, ver);
  if (!f.extended) {
    name += ProductOptionsWords(os);
  } else if (f.version.major_version == 6) {
    AppendVistaEditionWords(os, f, &name);
  } else {
    name += ProductTypeWords(os, f);
  }
  *edition = name;
  *service_pack = NtServicePack(os, f);
  return true;
}

std::string IdentifyWindows(SetupContext& ctx, platform::Platform& os, RandomGenerator& random) {
  std::string edition;
  std::string service_pack;
  if (!QueryWindowsEdition(os, random, &edition, &service_pack)) return "unknown";

  size_t first = 0;
  size_t last = service_pack.size();
  while (first < last && static_cast<unsigned char>(service_pack[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(service_pack[last - 1]) <= ' ') --last;
  const std::string text = first < last ? edition + " " + service_pack : edition;

  ctx.Is64BitWindows = text.find(" 64") != std::string::npos;
  return text;
}

}  // namespace lexoria
