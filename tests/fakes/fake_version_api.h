// Executable types and version blocks registered per path by a test, with
// the faults the version readers must survive and a record of every call.
#ifndef LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_
#define LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/version_api.h"

namespace lexoria::testing {

class FakeVersionApi final : public platform::VersionApi {
 public:
  // What SHGetFileInfoA answers for a 32-bit GUI program: "PE" and the
  // subsystem version 4.0 in the high word.
  static constexpr uintptr_t kPeGuiExeType = 0x04004550;

  // --- Setting the scene. Paths match without regard to ASCII case.
  // `path` is an executable of type `exe_type`; it has no version block
  // until a value is set.
  void AddExecutable(const std::string& path, uintptr_t exe_type = kPeGuiExeType) {
    files_[Key(path)].exe_type = exe_type;
  }
  // Sets the raw bytes of `sub_block` (e.g. "\VarFileInfo\Translation") in
  // the version block of executable `path`. Sub-block names match exactly,
  // so a test sees the very name the reader formed.
  void SetValue(const std::string& path, const std::string& sub_block,
                const std::vector<uint8_t>& bytes) {
    File& file = files_[Key(path)];
    file.has_block = true;
    file.values[sub_block] = bytes;
  }
  // The translation table: entries of language id (low word) and code page
  // (high word).
  void SetTranslations(const std::string& path, const std::vector<uint32_t>& entries) {
    std::vector<uint8_t> bytes(entries.size() * 4);
    if (!entries.empty()) std::memcpy(bytes.data(), entries.data(), bytes.size());
    SetValue(path, "\\VarFileInfo\\Translation", bytes);
  }
  // A text value, stored with its terminating NUL as version blocks hold it.
  void SetString(const std::string& path, const std::string& sub_block, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetValue(path, sub_block, bytes);
  }

  // --- Faults.
  // GetFileVersionInfoA of `path` fails (the block's size is still known).
  void FailInfoRead(const std::string& path) { files_[Key(path)].info_read_fails = true; }

  // --- Inspecting.
  // Every call, as "SHGetFileInfoA <path> attributes=<n> flags=0x<hex>",
  // "GetFileVersionInfoSizeA <path>", "GetFileVersionInfoA <path> size=<n>",
  // "VerQueryValueA <sub_block>".
  const std::vector<std::string>& Calls() const { return calls_; }
  // Calls of the three version.dll functions only.
  size_t VersionDllCalls() const {
    size_t count = 0;
    for (const std::string& call : calls_) count += call.rfind("SHGetFileInfoA ", 0) != 0;
    return count;
  }

  // --- platform::VersionApi
  uintptr_t SHGetFileInfoA(const std::string& path, uint32_t file_attributes,
                           uint32_t flags) override {
    char flag_text[16];
    std::snprintf(flag_text, sizeof(flag_text), "0x%x", flags);
    calls_.push_back("SHGetFileInfoA " + path + " attributes=" + std::to_string(file_attributes) +
                     " flags=" + flag_text);
    const auto file = files_.find(Key(path));
    if (file == files_.end() || flags != platform::kShgfiExeType) return 0;
    return file->second.exe_type;
  }

  uint32_t GetFileVersionInfoSizeA(const std::string& path) override {
    calls_.push_back("GetFileVersionInfoSizeA " + path);
    const auto file = files_.find(Key(path));
    if (file == files_.end() || !file->second.has_block) return 0;
    return static_cast<uint32_t>(Serialize(file->second).size());
  }

  bool GetFileVersionInfoA(const std::string& path, uint32_t size, void* data) override {
    calls_.push_back("GetFileVersionInfoA " + path + " size=" + std::to_string(size));
    const auto file = files_.find(Key(path));
    if (file == files_.end() || !file->second.has_block || file->second.info_read_fails) {
      return false;
    }
    const std::vector<uint8_t> block = Serialize(file->second);
    if (size < block.size()) return false;
    std::memcpy(data, block.data(), block.size());
    return true;
  }

  bool VerQueryValueA(const void* block, const std::string& sub_block, const void** value,
                      uint32_t* length) override {
    calls_.push_back("VerQueryValueA " + sub_block);
    // Walks the block the way GetFileVersionInfoA laid it out; a block that
    // does not start with the mark was never filled by it.
    const auto* bytes = static_cast<const uint8_t*>(block);
    if (std::memcmp(bytes, kMark, sizeof(kMark)) != 0) return false;
    const uint32_t total = Read32(bytes + sizeof(kMark));
    size_t at = sizeof(kMark) + 4;
    while (at < total) {
      const uint32_t name_length = Read32(bytes + at);
      const std::string name(reinterpret_cast<const char*>(bytes + at + 4), name_length);
      at += 4 + name_length;
      const uint32_t value_length = Read32(bytes + at);
      at += 4;
      if (name == sub_block) {
        *value = bytes + at;
        *length = value_length;
        return true;
      }
      at += value_length;
    }
    return false;
  }

 private:
  struct File {
    uintptr_t exe_type = kPeGuiExeType;
    bool has_block = false;
    bool info_read_fails = false;
    std::map<std::string, std::vector<uint8_t>> values;
  };

  static constexpr uint8_t kMark[4] = {'F', 'V', 'B', '1'};

  static std::string Key(std::string path) {
    for (char& c : path) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return path;
  }
  static uint32_t Read32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
  }
  static void Put32(std::vector<uint8_t>& out, uint32_t value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + 4);
  }
  // The block: the mark, its total size, then name length, name, value
  // length, value for each value.
  static std::vector<uint8_t> Serialize(const File& file) {
    std::vector<uint8_t> out(kMark, kMark + sizeof(kMark));
    Put32(out, 0);
    for (const auto& [name, bytes] : file.values) {
      Put32(out, static_cast<uint32_t>(name.size()));
      out.insert(out.end(), name.begin(), name.end());
      Put32(out, static_cast<uint32_t>(bytes.size()));
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    const uint32_t total = static_cast<uint32_t>(out.size());
    std::memcpy(out.data() + sizeof(kMark), &total, 4);
    return out;
  }

  std::map<std::string, File> files_;
  std::vector<std::string> calls_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_VERSION_API_H_
