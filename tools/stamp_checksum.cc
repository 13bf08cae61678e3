// stamp_checksum: writes the PE image checksum into an executable's optional
// header, or checks the one already there.
//
//   stamp_checksum [--time-stamp SECONDS] <exe>
//                                  computes the checksum and stores it in the
//                                  CheckSum field in place; exit 0 on success,
//                                  1 on any failure (not a PE image, cannot
//                                  read or write). With --time-stamp, first
//                                  writes SECONDS (since 1970, 32 bits) into
//                                  the file header's TimeDateStamp, which the
//                                  checksum then covers.
//   stamp_checksum --verify <exe>  prints the stamped and the computed value;
//                                  exit 0 when the stamp is non-zero and
//                                  matches, 1 otherwise (also when the file
//                                  cannot be read or is not a PE image).
//
// Usage errors exit 2. Build-time tool, run on the build machine.

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "install/pe_checksum.h"

namespace lexoria {
namespace {

constexpr size_t kBlockSize = size_t{1} << 20;
// TimeDateStamp: in the file header, 8 bytes after the "PE\0\0" signature.
constexpr uint64_t kTimeStampDelta = 8;
// Enough of the file to hold any linker's headers up to the CheckSum field.
constexpr size_t kHeaderPrefixSize = 4096;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void PrintError(const char* path, const std::string& what) {
  std::fprintf(stderr, "stamp_checksum: %s: %s\n", path, what.c_str());
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Streams `file` from its start through the calculator. Returns nullopt
// after printing why if the file cannot be read or is not a PE image.
std::optional<PeChecksumResult> Compute(std::FILE* file, const char* path) {
  if (std::fseek(file, 0, SEEK_SET) != 0) {
    PrintError(path, ErrnoText("cannot seek"));
    return std::nullopt;
  }
  std::vector<uint8_t> block(kBlockSize);
  PeChecksum checksum;
  while (true) {
    const size_t got = std::fread(block.data(), 1, block.size(), file);
    checksum.Update(block.data(), got);
    if (got < block.size()) break;
  }
  if (std::ferror(file)) {
    PrintError(path, ErrnoText("cannot read"));
    return std::nullopt;
  }
  const std::optional<PeChecksumResult> result = checksum.Finish();
  if (!result) {
    PrintError(path,
               "not a PE image (needs \"MZ\", e_lfanew pointing at \"PE\\0\\0\" and an "
               "optional header within the file)");
  }
  return result;
}

int Verify(const char* path) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file) {
    PrintError(path, ErrnoText("cannot open"));
    return 1;
  }
  const std::optional<PeChecksumResult> result = Compute(file.get(), path);
  if (!result) return 1;
  const bool ok = result->Matches();
  std::printf("%s: stamped=0x%08X computed=0x%08X %s\n", path,
              static_cast<unsigned>(result->stamped), static_cast<unsigned>(result->computed),
              ok ? "ok" : (result->stamped == 0 ? "NOT STAMPED" : "MISMATCH"));
  return ok ? 0 : 1;
}

// Writes `value` little-endian at `offset`. False after printing why.
bool WriteLe32At(std::FILE* file, const char* path, uint64_t offset, uint32_t value,
                 const char* what) {
  uint8_t bytes[4];
  for (size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  if (offset > static_cast<uint64_t>(LONG_MAX) ||
      std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fwrite(bytes, 1, sizeof(bytes), file) != sizeof(bytes) || std::fflush(file) != 0) {
    PrintError(path, ErrnoText((std::string("cannot write the ") + what).c_str()));
    return false;
  }
  return true;
}

bool StampTime(std::FILE* file, const char* path, uint32_t seconds) {
  std::vector<uint8_t> header(kHeaderPrefixSize);
  const size_t got =
      std::fseek(file, 0, SEEK_SET) == 0 ? std::fread(header.data(), 1, header.size(), file) : 0;
  const std::optional<PeChecksumField> field = ReadPeChecksumField(header.data(), got);
  if (!field) {
    PrintError(path, "not a PE image: no file header to write the time stamp into");
    return false;
  }
  const uint64_t offset = field->offset - kPeChecksumFieldDelta + kTimeStampDelta;
  return WriteLe32At(file, path, offset, seconds, "TimeDateStamp field");
}

int Stamp(const char* path, std::optional<uint32_t> seconds) {
  // Opened for update from the start, so a read-only file fails before any
  // work is done.
  FilePtr file(std::fopen(path, "r+b"));
  if (!file) {
    PrintError(path, ErrnoText("cannot open for writing"));
    return 1;
  }
  if (seconds && !StampTime(file.get(), path, *seconds)) return 1;
  const std::optional<PeChecksumResult> result = Compute(file.get(), path);
  if (!result) return 1;
  static_assert(kPeChecksumFieldSize == 4);
  if (!WriteLe32At(file.get(), path, result->field_offset, result->computed, "CheckSum field")) {
    return 1;
  }
  // Read back what is now on disk: catches a short write reported as success.
  const std::optional<PeChecksumResult> check = Compute(file.get(), path);
  if (!check) return 1;
  if (!check->Matches()) {
    PrintError(path, "stamp did not hold: read back stamped=" + std::to_string(check->stamped) +
                         " computed=" + std::to_string(check->computed));
    return 1;
  }
  if (std::fclose(file.release()) != 0) {
    PrintError(path, ErrnoText("cannot close"));
    return 1;
  }
  std::printf("%s: stamped 0x%08X (was 0x%08X)\n", path, static_cast<unsigned>(result->computed),
              static_cast<unsigned>(result->stamped));
  return 0;
}

}  // namespace
}  // namespace lexoria

namespace {

// SECONDS as a 32-bit count, or nullopt for anything else.
std::optional<uint32_t> ParseSeconds(const char* text) {
  if (*text < '0' || *text > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && argv[1][0] != '-') return lexoria::Stamp(argv[1], std::nullopt);
  if (argc == 4 && std::strcmp(argv[1], "--time-stamp") == 0 && argv[3][0] != '-') {
    if (const std::optional<uint32_t> seconds = ParseSeconds(argv[2])) {
      return lexoria::Stamp(argv[3], seconds);
    }
  }
  if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return lexoria::Verify(argv[2]);
  std::fprintf(stderr,
               "usage: stamp_checksum [--time-stamp SECONDS] <exe>\n"
               "       stamp_checksum --verify <exe>\n");
  return 2;
}
