// make_sample_package: writes a deterministic stand-in package file.
//
//   make_sample_package <out> [size=88000000] [version=1040]
//
// The file has exactly `size` bytes (at least 8, at most 0xFFFFFFFF: it is
// embedded as a PE resource). Bytes 6 and 7 hold `version` (0..65535)
// little-endian; all other bytes come from a fixed-seed generator, so the
// same arguments always give the same file. The file appears at <out> only
// when complete (written next to it and renamed); on failure nothing is left
// behind. Exit 0 on success, 1 on a write failure, 2 on bad arguments.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace lexoria {
namespace {

constexpr uint64_t kDefaultSize = 88000000;
constexpr uint64_t kDefaultVersion = 1040;
constexpr uint64_t kMinSize = 8;
constexpr uint64_t kMaxSize = 0xFFFFFFFF;
constexpr uint64_t kMaxVersion = 0xFFFF;
constexpr size_t kVersionOffset = 6;
constexpr size_t kBufferSize = size_t{1} << 20;  // a multiple of 8
constexpr uint64_t kSeed = 0x4C58515061636B31;   // fixed: the output is part of the build

// splitmix64: one multiply-xorshift round per 8 bytes, far faster than the
// disk, and its output does not compress, like a real package.
class SampleBytes {
 public:
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }

  // Fills `size` bytes (a multiple of 8), each value stored little-endian
  // whatever the host, so the file is the same everywhere.
  void Fill(uint8_t* out, size_t size) {
    for (size_t i = 0; i < size; i += 8) {
      const uint64_t value = Next();
      for (size_t k = 0; k < 8; ++k) out[i + k] = static_cast<uint8_t>(value >> (8 * k));
    }
  }

 private:
  uint64_t state_ = kSeed;
};

std::optional<uint64_t> ParseNumber(std::string_view text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "make_sample_package: %s\n"
               "usage: make_sample_package <out> [size=%llu] [version=%llu]\n"
               "  size: %llu..%llu bytes; version: 0..%llu, stored little-endian at offset %zu\n",
               problem.c_str(), static_cast<unsigned long long>(kDefaultSize),
               static_cast<unsigned long long>(kDefaultVersion),
               static_cast<unsigned long long>(kMinSize), static_cast<unsigned long long>(kMaxSize),
               static_cast<unsigned long long>(kMaxVersion), kVersionOffset);
  return 2;
}

// Writes the whole file to `path`. Returns an error text, empty on success.
std::string WritePackage(const std::filesystem::path& path, uint64_t size, uint16_t version) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (!file) return "cannot create " + path.string() + ": " + std::strerror(errno);
  std::vector<uint8_t> buffer(kBufferSize);
  SampleBytes bytes;
  errno = 0;
  bool ok = true;
  for (uint64_t written = 0; ok && written < size;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - written));
    bytes.Fill(buffer.data(), buffer.size());
    if (written == 0) {
      buffer[kVersionOffset] = static_cast<uint8_t>(version);
      buffer[kVersionOffset + 1] = static_cast<uint8_t>(version >> 8);
    }
    ok = std::fwrite(buffer.data(), 1, chunk, file) == chunk;
    written += chunk;
  }
  // fclose flushes: a full disk may only show here.
  ok = (std::fclose(file) == 0) && ok;
  if (ok) return std::string();
  return "cannot write " + path.string() +
         (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
}

int Run(int argc, char** argv) {
  if (argc < 2 || argc > 4) return Usage("expected 1 to 3 arguments");
  const std::filesystem::path out = argv[1];
  if (out.empty()) return Usage("empty output path");
  uint64_t size = kDefaultSize;
  uint64_t version = kDefaultVersion;
  if (argc >= 3) {
    const std::optional<uint64_t> parsed = ParseNumber(argv[2]);
    if (!parsed || *parsed < kMinSize || *parsed > kMaxSize) {
      return Usage(std::string("bad size '") + argv[2] + "'");
    }
    size = *parsed;
  }
  if (argc == 4) {
    const std::optional<uint64_t> parsed = ParseNumber(argv[3]);
    if (!parsed || *parsed > kMaxVersion) {
      return Usage(std::string("bad version '") + argv[3] + "'");
    }
    version = *parsed;
  }

  // Next to the target, so the rename stays on one file system and cannot
  // leave a half-written file under the real name.
  std::filesystem::path partial = out;
  partial += ".partial";
  std::string error = WritePackage(partial, size, static_cast<uint16_t>(version));
  if (error.empty()) {
    std::error_code ec;
    std::filesystem::rename(partial, out, ec);
    if (ec)
      error = "cannot rename " + partial.string() + " to " + out.string() + ": " + ec.message();
  }
  if (!error.empty()) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    std::fprintf(stderr, "make_sample_package: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace lexoria

int main(int argc, char** argv) { return lexoria::Run(argc, argv); }
