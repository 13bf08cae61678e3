#include "install/version_readers.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "base/hex_text.h"
#include "platform/scoped_handles.h"
#include "ui/lang_unit.h"
#include "ui/messages.h"

namespace lexoria {

namespace {

constexpr char kLangVersionKey[] = "langver";
constexpr char kTranslationBlock[] = "\\VarFileInfo\\Translation";

// Reads `width` bytes at `offset` of the file at `path` into the low-order
// bytes of a zeroed value. Every failure (missing, a directory, held open for
// writing, short, unreadable) gives 0: the caller compares with that value.
int32_t ReadLittleEndianField(platform::FileSystem& files, const std::string& path, int64_t offset,
                              uint32_t width) {
  if (!platform::IsFileAt(files, path)) return 0;
  // Read sharing only: a file another program holds open for writing is not
  // trusted (the open fails, and the version is 0), while one that a scanner,
  // an indexer or a backup agent merely reads is read as usual.
  // A link at the name (one a user planted in a folder users may change) is
  // opened as itself and read as no version: never what it points to.
  const platform::ScopedFile file(
      files, files.CreateFileA(
                 path, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting,
                 platform::kFileAttributeNormal | platform::kFileFlagOpenReparsePoint));
  if (!file) return 0;
  platform::ByHandleFileInformation info;
  if (!files.GetFileInformationByHandle(file.get(), &info) ||
      (info.attributes & platform::kFileAttributeReparsePoint) != 0) {
    return 0;
  }
  uint32_t value = 0;
  uint8_t bytes[4] = {};
  if (files.SetFilePointerEx(file.get(), offset, nullptr, platform::kFileBegin)) {
    // ReadFile may return fewer bytes than asked before the end; keep asking
    // until the field is whole or nothing more comes.
    uint32_t total = 0;
    bool ok = true;
    while (ok && total < width) {
      uint32_t read = 0;
      ok = files.ReadFile(file.get(), bytes + total, width - total, &read) && read > 0;
      total += read;
    }
    if (total == width) {
      for (uint32_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
  }
  return static_cast<int32_t>(value);
}

// The little-endian field of `width` bytes at `offset` of `data`; 0 when
// the content ends before it.
int32_t FieldOf(const uint8_t* data, size_t size, size_t offset, uint32_t width) {
  if (size < offset + width) return 0;
  uint32_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(data[offset + i]) << (8 * i);
  return static_cast<int32_t>(value);
}

// Lines of a text in memory, split as TextFile splits a file's: at LF or
// CR LF, a lone CR dropped, nothing after a 0x1A.
class MemoryLines {
 public:
  MemoryLines(const uint8_t* data, size_t size) : data_(data), size_(size) {
    for (size_t i = 0; i < size_; ++i) {
      if (data_[i] == 0x1A) {
        size_ = i;
        break;
      }
    }
  }
  bool AtEnd() const { return position_ >= size_; }
  std::string Next() {
    std::string line;
    while (position_ < size_) {
      const char c = static_cast<char>(data_[position_++]);
      if (c == '\n') break;
      if (c == '\r') {
        if (position_ < size_ && data_[position_] == '\n') {
          ++position_;
          break;
        }
        continue;
      }
      line += c;
    }
    return line;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

struct VersionBlock;

// An executable's image in memory, read with every offset checked.
struct Image {
  const uint8_t* data;
  size_t size;

  bool Read16(size_t offset, uint16_t* value) const {
    if (offset > size || size - offset < 2) return false;
    *value = static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
    return true;
  }
  bool Read32(size_t offset, uint32_t* value) const {
    uint16_t low = 0;
    uint16_t high = 0;
    if (!Read16(offset, &low) || !Read16(offset + 2, &high)) return false;
    *value = low | static_cast<uint32_t>(high) << 16;
    return true;
  }
  // The file offset of the relative virtual address `rva`, by the section
  // that holds it.
  std::optional<size_t> OffsetOf(uint32_t rva, size_t sections, uint16_t count) const {
    for (uint16_t i = 0; i < count; ++i) {
      const size_t section = sections + 40 * size_t{i};
      uint32_t virtual_size = 0, address = 0, raw_size = 0, raw = 0;
      if (!Read32(section + 8, &virtual_size) || !Read32(section + 12, &address) ||
          !Read32(section + 16, &raw_size) || !Read32(section + 20, &raw)) {
        return std::nullopt;
      }
      if (rva >= address && rva - address < std::max(virtual_size, raw_size)) {
        return size_t{raw} + (rva - address);
      }
    }
    return std::nullopt;
  }
  // The entry of the resource directory at `directory` whose id is `id`, or
  // its first entry for `id` -1; its OffsetToData.
  std::optional<uint32_t> Entry(size_t directory, int32_t id) const {
    uint16_t named = 0, ids = 0;
    if (!Read16(directory + 12, &named) || !Read16(directory + 14, &ids)) return std::nullopt;
    for (size_t i = 0; i < size_t{named} + ids; ++i) {
      uint32_t name = 0, target = 0;
      if (!Read32(directory + 16 + 8 * i, &name) || !Read32(directory + 20 + 8 * i, &target)) {
        return std::nullopt;
      }
      if (id < 0 || (i >= named && name == static_cast<uint32_t>(id))) return target;
    }
    return std::nullopt;
  }
  std::optional<VersionBlock> VersionResource() const;
};

// One block of a version resource: its key, its value and its children.
struct VersionBlock {
  size_t start = 0;
  size_t end = 0;         // start + wLength
  size_t value = 0;       // offset of the value
  size_t value_size = 0;  // wValueLength: bytes, or characters of a text
  size_t children = 0;    // offset of the first child
  std::u16string key;

  static std::optional<VersionBlock> At(const Image& image, size_t start, size_t limit) {
    VersionBlock block;
    uint16_t length = 0, value_length = 0, type = 0;
    if (!image.Read16(start, &length) || !image.Read16(start + 2, &value_length) ||
        !image.Read16(start + 4, &type) || length < 6 || start + length > limit) {
      return std::nullopt;
    }
    block.start = start;
    block.end = start + length;
    size_t at = start + 6;
    for (uint16_t unit = 0;; at += 2) {
      if (at + 2 > block.end || !image.Read16(at, &unit)) return std::nullopt;
      if (unit == 0) break;
      block.key += static_cast<char16_t>(unit);
    }
    block.value = (at + 2 + 3) & ~size_t{3};
    block.value_size = value_length;
    const size_t value_bytes = type == 1 ? 2 * size_t{value_length} : value_length;
    if (block.value + value_bytes > block.end) return std::nullopt;
    block.children = (block.value + value_bytes + 3) & ~size_t{3};
    return block;
  }
  // The child whose key is `key`, letter case aside, as VerQueryValue finds it.
  std::optional<VersionBlock> Child(const Image& image, const std::u16string& key) const {
    for (size_t at = children; at < end;) {
      const std::optional<VersionBlock> child = At(image, at, end);
      if (!child) return std::nullopt;
      if (SameKey(child->key, key)) return child;
      at = (child->end + 3) & ~size_t{3};
    }
    return std::nullopt;
  }
  static bool SameKey(const std::u16string& a, const std::u16string& b) {
    const auto lower = [](char16_t c) {
      return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
  }
};

std::optional<VersionBlock> Image::VersionResource() const {
  constexpr int32_t kRtVersion = 16;
  constexpr uint32_t kSubdirectory = 0x80000000;
  uint16_t mz = 0, machine_magic = 0, sections_count = 0, optional_size = 0;
  uint32_t pe = 0, signature = 0;
  if (!Read16(0, &mz) || mz != 0x5A4D || !Read32(0x3C, &pe) || !Read32(pe, &signature) ||
      signature != 0x4550 || !Read16(pe + 6, &sections_count) || !Read16(pe + 20, &optional_size)) {
    return std::nullopt;
  }
  const size_t optional = size_t{pe} + 24;
  if (!Read16(optional, &machine_magic)) return std::nullopt;
  // The resource table's entry of the data directories, by the header's kind.
  size_t directories = 0;
  if (machine_magic == 0x10B) {
    directories = optional + 92;
  } else if (machine_magic == 0x20B) {
    directories = optional + 108;
  } else {
    return std::nullopt;
  }
  uint32_t count = 0, resource_rva = 0;
  if (!Read32(directories, &count) || count < 3 || !Read32(directories + 4 + 16, &resource_rva) ||
      resource_rva == 0) {
    return std::nullopt;
  }
  const size_t sections = optional + optional_size;
  const std::optional<size_t> resources = OffsetOf(resource_rva, sections, sections_count);
  if (!resources) return std::nullopt;
  // Type, then the first name, then the first language: a data entry.
  std::optional<uint32_t> entry = Entry(*resources, kRtVersion);
  for (int level = 0; level < 2 && entry && (*entry & kSubdirectory); ++level) {
    entry = Entry(*resources + (*entry & ~kSubdirectory), -1);
  }
  uint32_t data_rva = 0, data_size = 0;
  if (!entry || (*entry & kSubdirectory) || !Read32(*resources + *entry, &data_rva) ||
      !Read32(*resources + *entry + 4, &data_size)) {
    return std::nullopt;
  }
  const std::optional<size_t> block = OffsetOf(data_rva, sections, sections_count);
  if (!block || *block > size || size - *block < data_size) return std::nullopt;
  return VersionBlock::At(*this, *block, *block + data_size);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The components of IsVersionOlder: one side's working copy and its current
// number.
struct VersionSide {
  std::string rest;
  int32_t number = 0;
};

enum class Step { kTaken, kKept, kFailed };

// Takes the part before the first "." when that "." is not the first
// character; otherwise the side keeps its number and its text.
Step TakeComponent(VersionSide& side) {
  const size_t dot = side.rest.find('.');
  if (dot == std::string::npos || dot == 0) return Step::kKept;
  const std::optional<int32_t> number = StrToIntStrict(side.rest.substr(0, dot));
  if (!number) return Step::kFailed;
  side.number = *number;
  side.rest.erase(0, dot + 1);
  return Step::kTaken;
}

// A language file's version line: the one after its version header, or,
// without the header, its last line. `next` hands out the lines in order.
template <typename NextLine, typename AtEnd>
std::string LangVersionLine(NextLine next, AtEnd at_end) {
  std::string value;
  do {
    value = next();
    if (HeaderNamesKey(value, kLangVersionKey)) return next();
  } while (!at_end());
  return value;
}

}  // namespace

std::optional<int32_t> StrToIntStrict(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  size_t hex_start = std::string::npos;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex_start = i + 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex_start = i + 2;
  }
  if (hex_start != std::string::npos) {
    const size_t digits = text.size() - hex_start;
    if (digits == 0 || digits > 8) return std::nullopt;
    uint32_t pattern = 0;
    for (size_t j = hex_start; j < text.size(); ++j) {
      const int digit = HexDigitValue(text[j]);
      if (digit < 0) return std::nullopt;
      pattern = (pattern << 4) | static_cast<uint32_t>(digit);
    }
    // The digits are a 32-bit pattern: $FFFFFFFF is -1, and a sign negates
    // the pattern in the same 32 bits.
    if (negative) pattern = 0u - pattern;
    return static_cast<int32_t>(pattern);
  }
  if (i == text.size()) return std::nullopt;
  // Accumulated as a magnitude up to 2^31, which only a "-" may reach.
  const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > limit) return std::nullopt;
  }
  const uint32_t bits = static_cast<uint32_t>(magnitude);
  return static_cast<int32_t>(negative ? 0u - bits : bits);
}

int32_t ReadPakVersion(platform::FileSystem& files, const std::string& path) {
  return ReadLittleEndianField(files, path, /*offset=*/6, /*width=*/2);
}

int32_t ReadCokVersion(platform::FileSystem& files, const std::string& path) {
  return ReadLittleEndianField(files, path, /*offset=*/5, /*width=*/2);
}

int32_t Read3bsVersion(platform::FileSystem& files, const std::string& path) {
  return ReadLittleEndianField(files, path, /*offset=*/6, /*width=*/1);
}

int32_t ReadLngVersion(Services& s, const std::string& path) {
  if (!platform::IsFileAt(s.os.files, path)) return 0;
  std::optional<int32_t> version;
  {
    TextFile file;
    file.Assign(s.os.files, path);
    try {
      file.Reset();
      version = StrToIntStrict(
          LangVersionLine([&file] { return file.ReadLine(); }, [&file] { return file.Eof(); }));
    } catch (const std::exception&) {
      version.reset();
    }
  }  // the file is closed before the box, so it is not held while the user reads
  if (version) return *version;
  ShowFileError(s, "Can't handle the language support file ",
                "Не удаётся работать с файлом языковой поддержки ", path);
  return 0;
}

std::string ReadExeFileVersion(platform::VersionApi& versions, const std::string& path) {
  // The shell's cheap test first: a data file never reaches version.dll.
  if (versions.SHGetFileInfoA(path, /*file_attributes=*/0, platform::kShgfiExeType) == 0) return {};
  const uint32_t size = versions.GetFileVersionInfoSizeA(path);
  if (size == 0) return {};
  std::vector<uint8_t> block(size, 0);
  if (!versions.GetFileVersionInfoA(path, size, block.data())) return {};

  const void* value = nullptr;
  uint32_t length = 0;
  if (!versions.VerQueryValueA(block.data(), kTranslationBlock, &value, &length)) return {};
  // The table holds 4-byte entries; one without a whole entry has none.
  if (value == nullptr || length < 4) return {};
  uint32_t translation = 0;
  std::memcpy(&translation, value, sizeof(translation));
  const unsigned language = translation & 0xFFFF;
  const unsigned code_page = translation >> 16;

  const std::string name = "\\StringFileInfo\\" + HexText(language, 4, /*capitals=*/false) +
                           HexText(code_page, 4, /*capitals=*/false) + "\\FileVersion";
  value = nullptr;
  length = 0;
  if (!versions.VerQueryValueA(block.data(), name, &value, &length)) return {};
  if (value == nullptr) return {};
  // The text ends at its NUL; the length bounds the copy should a damaged
  // resource lack one.
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

int32_t PakVersionOf(const uint8_t* data, size_t size) { return FieldOf(data, size, 6, 2); }
int32_t CokVersionOf(const uint8_t* data, size_t size) { return FieldOf(data, size, 5, 2); }
int32_t Bs3VersionOf(const uint8_t* data, size_t size) { return FieldOf(data, size, 6, 1); }

int32_t LngVersionOf(Services& s, const uint8_t* data, size_t size, const std::string& path) {
  MemoryLines lines(data, size);
  if (const std::optional<int32_t> version = StrToIntStrict(
          LangVersionLine([&lines] { return lines.Next(); }, [&lines] { return lines.AtEnd(); }))) {
    return *version;
  }
  ShowFileError(s, "Can't handle the language support file ",
                "Не удаётся работать с файлом языковой поддержки ", path);
  return 0;
}

std::string ExeFileVersionOf(platform::SystemInfo& system, const uint8_t* data, size_t size) {
  const Image image{data, size};
  const std::optional<VersionBlock> root = image.VersionResource();
  if (!root) return {};
  // The first translation: language in the low word, code page in the high.
  const std::optional<VersionBlock> var = root->Child(image, u"VarFileInfo");
  const std::optional<VersionBlock> table = var ? var->Child(image, u"Translation") : std::nullopt;
  uint32_t translation = 0;
  if (!table || table->value_size < 4 || !image.Read32(table->value, &translation)) return {};
  const std::string key = HexText(translation & 0xFFFF, 4, /*capitals=*/false) +
                          HexText(translation >> 16, 4, /*capitals=*/false);
  const std::optional<VersionBlock> strings = root->Child(image, u"StringFileInfo");
  const std::optional<VersionBlock> language =
      strings ? strings->Child(image, std::u16string(key.begin(), key.end())) : std::nullopt;
  const std::optional<VersionBlock> version =
      language ? language->Child(image, u"FileVersion") : std::nullopt;
  if (!version) return {};
  // A text value's length counts its characters, the NUL among them; the
  // text ends at its first NUL.
  std::u16string text;
  for (size_t i = 0; i < version->value_size; ++i) {
    uint16_t unit = 0;
    if (!image.Read16(version->value + 2 * i, &unit) || unit == 0) break;
    text += static_cast<char16_t>(unit);
  }
  std::string converted;
  bool replaced = false;
  if (!system.WideCharToMultiByte(platform::kCpAcp, /*flags=*/0, text, &converted, &replaced)) {
    return {};
  }
  return converted;
}

VersionCheck CompareVersions(Services& s, const std::string& type, const uint8_t* data, size_t size,
                             const std::string& new_path, const std::string& target_path) {
  VersionCheck check;
  if (type == "exe") {
    // FileVersion texts: an installed file without one, or the same text on
    // both sides, is replaced without a question.
    check.new_text = ExeFileVersionOf(s.os.system, data, size);
    check.installed_text = ReadExeFileVersion(s.os.versions, target_path);
    check.older = !check.installed_text.empty() && check.installed_text != check.new_text &&
                  IsVersionOlder(check.new_text, check.installed_text);
    return check;
  }
  if (type == "lng") {
    // A language file with "!" in its path is always replaced: no version
    // is read at all.
    if (target_path.find('!') != std::string::npos) return check;
    check.new_version = LngVersionOf(s, data, size, new_path);
    check.installed_version = ReadLngVersion(s, target_path);
  } else {
    const bool pak = type == "pak";
    const bool bs3 = type == "3bs";
    check.new_version = pak   ? PakVersionOf(data, size)
                        : bs3 ? Bs3VersionOf(data, size)
                              : CokVersionOf(data, size);
    check.installed_version = pak   ? ReadPakVersion(s.os.files, target_path)
                              : bs3 ? Read3bsVersion(s.os.files, target_path)
                                    : ReadCokVersion(s.os.files, target_path);
  }
  check.numeric = true;
  check.new_text = std::to_string(check.new_version);
  check.installed_text = std::to_string(check.installed_version);
  check.older = check.installed_version > check.new_version;
  return check;
}

int32_t VersionOfContent(Services& s, const std::string& type, const uint8_t* data, size_t size,
                         const std::string& new_path) {
  if (type == "pak") return PakVersionOf(data, size);
  if (type == "3bs") return Bs3VersionOf(data, size);
  if (type == "cok") return CokVersionOf(data, size);
  if (type == "lng") return LngVersionOf(s, data, size, new_path);
  return -1;
}

bool IsVersionOlder(const std::string& first, const std::string& second) {
  // Both sides start from 0: a side with no usable "." in the first pass
  // (a single number, a text beginning with "." or using another separator)
  // compares as 0 there and keeps its text whole for the final comparison.
  VersionSide first_side{first, 0};
  VersionSide second_side{second, 0};
  bool result = false;
  for (int pass = 0; pass < 3; ++pass) {
    // The second text goes first, so when both fail in one pass the answer
    // is false.
    if (TakeComponent(second_side) == Step::kFailed) return result;
    if (TakeComponent(first_side) == Step::kFailed) return true;
    result = first_side.number < second_side.number;
    if (first_side.number != second_side.number) return result;
  }
  const std::optional<int32_t> second_rest = StrToIntStrict(second_side.rest);
  if (!second_rest) return false;
  const std::optional<int32_t> first_rest = StrToIntStrict(first_side.rest);
  if (!first_rest) return true;
  return *first_rest < *second_rest;
}

}  // namespace lexoria
