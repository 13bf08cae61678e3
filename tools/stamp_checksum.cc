// stamp_checksum: writes the PE image checksum into an executable's optional
// header, or checks the one already there.
//
//   stamp_checksum <exe>           computes the checksum and stores it in the
//                                  CheckSum field in place; exit 0 on success,
//                                  1 on any failure (not a PE image, cannot
//                                  read or write).
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
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "install/pe_checksum.h"

namespace lexoria {
namespace {

constexpr size_t kBlockSize = size_t{1} << 20;

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

int Stamp(const char* path) {
  // Opened for update from the start, so a read-only file fails before any
  // work is done.
  FilePtr file(std::fopen(path, "r+b"));
  if (!file) {
    PrintError(path, ErrnoText("cannot open for writing"));
    return 1;
  }
  const std::optional<PeChecksumResult> result = Compute(file.get(), path);
  if (!result) return 1;
  if (result->field_offset > static_cast<uint64_t>(LONG_MAX)) {
    PrintError(path, "CheckSum field lies beyond what this tool can seek to");
    return 1;
  }
  uint8_t bytes[kPeChecksumFieldSize];
  for (size_t i = 0; i < sizeof(bytes); ++i) {
    bytes[i] = static_cast<uint8_t>(result->computed >> (8 * i));
  }
  if (std::fseek(file.get(), static_cast<long>(result->field_offset), SEEK_SET) != 0 ||
      std::fwrite(bytes, 1, sizeof(bytes), file.get()) != sizeof(bytes) ||
      std::fflush(file.get()) != 0) {
    PrintError(path, ErrnoText("cannot write the CheckSum field"));
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

int main(int argc, char** argv) {
  if (argc == 2 && argv[1][0] != '-') return lexoria::Stamp(argv[1]);
  if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return lexoria::Verify(argv[2]);
  std::fprintf(stderr,
               "usage: stamp_checksum <exe>\n"
               "       stamp_checksum --verify <exe>\n");
  return 2;
}
