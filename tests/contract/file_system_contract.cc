#include "contract/file_system_contract.h"

#include "platform/scoped_handles.h"

namespace lexoria::contract {

namespace {

using namespace platform;

constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;
constexpr uint32_t kAsItself = kFileFlagOpenReparsePoint | kFileFlagBackupSemantics;
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string Outcome(bool ok, FileSystem& files) {
  return ok ? "ok" : "error " + std::to_string(files.GetLastError());
}

ScopedFile Open(World& w, const std::string& path, uint32_t access, uint32_t share = kShareAll) {
  return ScopedFile(w.files, w.files.CreateFileA(path, access, share, kOpenExisting, kAsItself));
}

// ASCII as it is, anything else as "?".
std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (const char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

std::string FinalPath(World& w, const ScopedFile& file) {
  std::u16string path;
  return w.files.GetFinalPathNameByHandleW(file.get(), &path, kFileNameNormalized)
             ? Narrow(path)
             : Outcome(false, w.files);
}

std::string Hex(uint32_t value) {
  std::string text;
  do {
    text.insert(text.begin(), "0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  return text;
}

std::string Rename(World& w, const std::string& from, const std::string& to, bool replace) {
  const ScopedFile file = Open(w, from, kDelete);
  const std::string nt = "\\??\\" + to;
  return Outcome(w.files.SetFileInformationByHandle(
                     file.get(), FileRenameInfo{replace, std::u16string(nt.begin(), nt.end())}),
                 w.files);
}

void TwoFiles(Scene& scene, const std::string& dir) {
  scene.File(dir + "\\a", "a");
  scene.File(dir + "\\b", "b");
}

void LinkedFolder(Scene& scene, const std::string& dir) {
  scene.Folder(dir + "\\real");
  scene.File(dir + "\\real\\f", "f");
  scene.Link(dir + "\\via", dir + "\\real", /*folder=*/true);
}

// The last `count` strings of PendingFileRenameOperations, blank-separated.
std::string PendingRenames(Registry& registry, size_t count) {
  HKey opened = kNullHandle;
  registry.RegOpenKeyExA(kHkeyLocalMachine, kSessionManager, 0, kKeyQueryValue, &opened);
  const ScopedKey key(registry, opened);
  uint32_t type = 0;
  std::string data(1 << 16, '\0');
  uint32_t size = static_cast<uint32_t>(data.size());
  if (registry.RegQueryValueExA(key.get(), "PendingFileRenameOperations", &type,
                                reinterpret_cast<uint8_t*>(data.data()),
                                &size) != static_cast<long>(kErrorSuccess)) {
    return "none";
  }
  std::vector<std::string> names;
  for (size_t at = 0; at < size && data[at] != 0; at += names.back().size() + 1) {
    names.push_back(data.substr(at, data.find('\0', at) - at));
  }
  std::string text;
  for (size_t i = names.size() < count ? 0 : names.size() - count; i < names.size(); ++i) {
    text += (text.empty() ? "" : " ") + names[i];
  }
  return text;
}

const std::vector<Row> kRows = {
    {"a folder held open without delete sharing can be renamed",
     [](Scene& s, const std::string& d) { s.Folder(d + "\\a"); },
     [](World& w, const std::string& d) {
       const ScopedFile held = Open(w, d + "\\a", kGenericRead, kFileShareRead | kFileShareWrite);
       return Outcome(w.files.MoveFileExA(d + "\\a", d + "\\b", 0), w.files);
     },
     "error 32", nullptr, false},
    {"a folder can be renamed while a file below it is open",
     [](Scene& s, const std::string& d) {
       s.Folder(d + "\\a");
       s.File(d + "\\a\\f", "f");
     },
     [](World& w, const std::string& d) {
       const ScopedFile held = Open(w, d + "\\a\\f", kGenericRead);
       return Outcome(w.files.MoveFileExA(d + "\\a", d + "\\b", 0), w.files);
     },
     "error 5", "ok", false},
    {"a final path takes the case of the name it was opened by",
     [](Scene& s, const std::string& d) { s.File(d + "\\Mixed.Txt", "m"); },
     [](World& w, const std::string& d) {
       return FinalPath(w, Open(w, d + "\\MIXED.TXT", kGenericRead));
     },
     "\\\\?\\{dir}\\Mixed.Txt", nullptr, false},
    {"a final path through a folder link names the link, not the target", LinkedFolder,
     [](World& w, const std::string& d) {
       return FinalPath(w, Open(w, d + "\\via\\f", kGenericRead));
     },
     "\\\\?\\{dir}\\real\\f", nullptr, false},
    {"a new file is made through a dangling link at its name",
     [](Scene& s, const std::string& d) { s.Link(d + "\\new", d + "\\elsewhere", false); },
     [](World& w, const std::string& d) {
       const ScopedFile file(w.files,
                             w.files.CreateFileA(d + "\\new", kGenericWrite, 0, kCreateNew,
                                                 kFileAttributeNormal | kFileFlagOpenReparsePoint));
       const std::string made = Outcome(static_cast<bool>(file), w.files);
       return made + (IsFileAt(w.files, d + "\\elsewhere") ? ", target made" : "");
     },
     "error 80", nullptr, false},
    {"a link does not show as one by its name", LinkedFolder,
     [](World& w, const std::string& d) {
       return Hex(w.files.GetFileAttributesA(d + "\\via") & 0x410);
     },
     "410", nullptr, false},
    {"a link opened as itself is not its target", LinkedFolder,
     [](World& w, const std::string& d) {
       const ScopedFile link = Open(w, d + "\\via", kGenericRead);
       ByHandleFileInformation info;
       ReparsePoint point;
       if (!w.files.GetFileInformationByHandle(link.get(), &info)) return Outcome(false, w.files);
       return Hex(info.attributes & 0x410) + " " +
              (w.files.GetReparsePoint(link.get(), &point) ? Hex(point.tag)
                                                           : Outcome(false, w.files));
     },
     "410 a0000003", "10 error 4390", true},
    {"attribute bits a file cannot have are taken, read-only is not",
     [](Scene& s, const std::string& d) { s.File(d + "\\f", "f"); },
     [](World& w, const std::string& d) {
       const ScopedFile file = Open(w, d + "\\f", kFileReadAttributes | kFileWriteAttributes);
       const std::string folder_bit = Outcome(
           w.files.SetFileInformationByHandle(file.get(), FileBasicInfo{kFileAttributeDirectory}),
           w.files);
       w.files.SetFileInformationByHandle(file.get(), FileBasicInfo{kFileAttributeReadonly});
       ByHandleFileInformation info;
       w.files.GetFileInformationByHandle(file.get(), &info);
       w.files.SetFileInformationByHandle(file.get(), FileBasicInfo{kFileAttributeNormal});
       return folder_bit + ", " + Hex(info.attributes & 0x17) + " " + Hex(info.number_of_links);
     },
     "error 87, 1 1", "ok, 1 1", false},
    {"a read-only file is deleted through its handle",
     [](Scene& s, const std::string& d) { s.File(d + "\\f", "f"); },
     [](World& w, const std::string& d) {
       w.files.SetFileAttributesA(d + "\\f", kFileAttributeReadonly);
       const ScopedFile file = Open(w, d + "\\f", kDelete | kFileReadAttributes);
       const bool deleted =
           w.files.SetFileInformationByHandle(file.get(), FileDispositionInfo{true});
       const std::string seen = Outcome(deleted, w.files);
       w.files.SetFileAttributesA(d + "\\f", kFileAttributeNormal);
       return seen;
     },
     "error 5", nullptr, false},
    {"a link removed through the handle of itself takes its target with it",
     [](Scene& s, const std::string& d) {
       s.File(d + "\\target", "t");
       s.Link(d + "\\link", d + "\\target", false);
     },
     [](World& w, const std::string& d) {
       ScopedFile link = Open(w, d + "\\link", kDelete | kFileReadAttributes);
       w.files.SetFileInformationByHandle(link.get(), FileDispositionInfo{true});
       link.reset();
       return std::string(IsFileAt(w.files, d + "\\link") ? "link kept" : "link gone") +
              (IsFileAt(w.files, d + "\\target") ? ", target kept" : ", target gone");
     },
     "link gone, target kept", "link gone, target gone", false},
    {"a rename through a handle takes a name that is there", TwoFiles,
     [](World& w, const std::string& d) { return Rename(w, d + "\\a", d + "\\b", false); },
     "error 183", nullptr, false},
    {"a rename replaces a file held open without delete sharing", TwoFiles,
     [](World& w, const std::string& d) {
       const ScopedFile held = Open(w, d + "\\b", kGenericRead, kFileShareRead);
       return Rename(w, d + "\\a", d + "\\b", true);
     },
     "error 5", nullptr, false},
    {"MoveFileEx never replaces a read-only file", TwoFiles,
     [](World& w, const std::string& d) {
       w.files.SetFileAttributesA(d + "\\b", kFileAttributeReadonly);
       const std::string seen =
           Outcome(w.files.MoveFileExA(d + "\\a", d + "\\b", kMovefileReplaceExisting), w.files);
       w.files.SetFileAttributesA(d + "\\b", kFileAttributeNormal);
       return seen;
     },
     "error 5", "ok", false},
    {"a restart-time rename keeps neither its flags nor its order", TwoFiles,
     [](World& w, const std::string& d) {
       const std::string copy = Outcome(
           w.files.MoveFileExA(d + "\\a", d + "\\b", 0x2 | kMovefileDelayUntilReboot), w.files);
       w.files.MoveFileExA(d + "\\a", d + "\\b",
                           kMovefileReplaceExisting | kMovefileDelayUntilReboot);
       w.files.MoveFileExA(d + "\\b", d + "\\a", kMovefileDelayUntilReboot);
       return copy + ": " + PendingRenames(w.registry, 4);
     },
     "error 87: \\??\\{dir}\\a !\\??\\{dir}\\b \\??\\{dir}\\b \\??\\{dir}\\a",
     "ok: \\??\\{dir}\\a !\\??\\{dir}\\b \\??\\{dir}\\b \\??\\{dir}\\a", false},
    {"a close never fails", [](Scene&, const std::string&) {},
     [](World& w, const std::string&) { return Outcome(w.files.CloseHandle(0x7ffffff0), w.files); },
     "error 6", nullptr, false},
    {"names outside ASCII are compared in the case they were made in",
     [](Scene& s, const std::string& d) { s.File(d + "\\Папка.txt", "p"); },
     [](World& w, const std::string& d) {
       const ScopedFile file = Open(w, d + "\\ПАПКА.TXT", kGenericRead);
       std::u16string path;
       w.files.GetFinalPathNameByHandleW(file.get(), &path, kFileNameNormalized);
       return Outcome(static_cast<bool>(file), w.files) +
              (path.ends_with(u"\\Папка.txt") ? ", final path as made" : "");
     },
     "ok, final path as made", nullptr, false},
    {"a registry value's size is not told to a short buffer, names match in any case",
     [](Scene&, const std::string&) {},
     [](World& w, const std::string&) {
       HKey opened = kNullHandle;
       w.registry.RegCreateKeyExA(kHkeyCurrentUser, "Software\\Lexoria Contract", 0, nullptr,
                                  kRegOptionNonVolatile, kKeyAllAccess, &opened, nullptr);
       const ScopedKey key(w.registry, opened);
       w.registry.RegSetValueExA(key.get(), "Text", 0, kRegSz,
                                 reinterpret_cast<const uint8_t*>("abcdefghi"), 10);
       uint8_t data[4];
       uint32_t size = sizeof(data);
       uint32_t type = 0;
       const long short_read = w.registry.RegQueryValueExA(key.get(), "TEXT", &type, data, &size);
       return std::to_string(short_read) + " " + std::to_string(size) + " " + std::to_string(type);
     },
     "234 10 1", nullptr, false},
    {"UTF-8 given the flags or the used-default pointer of a code page (Windows fails the "
     "call), or a surrogate without its pair replaced untold",
     [](Scene&, const std::string&) {},
     [](World& w, const std::string&) {
       std::string out;
       bool replaced = false;
       const bool ok =
           w.system.WideCharToMultiByte(kCpUtf8, kWcNoBestFitChars, u"Ж\xD800", &out, &replaced);
       std::string hex;
       for (const char c : out) {
         hex += ' ';
         hex += Hex(static_cast<uint8_t>(c));
       }
       return std::string(ok ? "ok" : "failed") + (replaced ? ", replaced:" : ":") + hex;
     },
     "ok, replaced: d0 96 ef bf bd", nullptr, false},
};

}  // namespace

const std::vector<Row>& ContractRows() { return kRows; }

std::string RunRow(const Row& row, World& world, const std::string& dir) {
  world.scene.Folder(dir);
  row.lay(world.scene, dir);
  const std::string seen = row.act(world, dir);
  world.scene.RestorePendingRenames();
  std::string want = world.wine && row.wine != nullptr ? row.wine : row.windows;
  for (size_t at; (at = want.find("{dir}")) != std::string::npos;) want.replace(at, 5, dir);
  return seen == want ? std::string() : "saw \"" + seen + "\", expected \"" + want + "\"";
}

}  // namespace lexoria::contract
