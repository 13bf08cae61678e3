#include "install/version_readers.h"

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
  const uint32_t attributes = files.GetFileAttributesA(path);
  if (attributes == platform::kInvalidFileAttributes ||
      (attributes & platform::kFileAttributeDirectory) != 0) {
    return 0;
  }
  // Read sharing only: a file another program holds open for writing is not
  // trusted (the open fails, and the version is 0), while one that a scanner,
  // an indexer or a backup agent merely reads is read as usual.
  const platform::ScopedFile file(
      files, files.CreateFileA(path, platform::kGenericRead, platform::kFileShareRead,
                               platform::kOpenExisting, platform::kFileAttributeNormal));
  if (!file.valid()) return 0;
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
  const uint32_t attributes = s.os.files.GetFileAttributesA(path);
  if (attributes == platform::kInvalidFileAttributes ||
      (attributes & platform::kFileAttributeDirectory) != 0) {
    return 0;
  }
  std::optional<int32_t> version;
  {
    TextFile file;
    file.Assign(s.os.files, path);
    try {
      file.Reset();
      std::string value;
      // A file without the header yields the number on its last line: the
      // loop ends with that line in hand.
      do {
        value = file.ReadLine();
        if (HeaderNamesKey(value, kLangVersionKey)) {
          value = file.ReadLine();
          break;
        }
      } while (!file.Eof());
      version = StrToIntStrict(value);
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
