// stamp_checksum: writes the PE image checksum into an executable's optional
// header, or checks the one already there.
//
//   stamp_checksum [--page-align-resources] [--time-stamp SECONDS] <exe>
//                                  computes the checksum and stores it in the
//                                  CheckSum field in place; exit 0 on success,
//                                  1 on any failure (not a PE image, cannot
//                                  read or write). With --time-stamp, first
//                                  writes SECONDS (since 1970, 32 bits) into
//                                  the file header's TimeDateStamp, which the
//                                  checksum then covers. With
//                                  --page-align-resources, before anything
//                                  else, moves the data of the resource section
//                                  to a page boundary of the file (see
//                                  PageAlignResources); exit 1 when the layout
//                                  does not allow it.
//   stamp_checksum --verify <exe>  prints the stamped and the computed value;
//                                  exit 0 when the stamp is non-zero and
//                                  matches, 1 otherwise (also when the file
//                                  cannot be read or is not a PE image).
//
// Usage errors exit 2. Build-time tool, run on the build machine.

#include <algorithm>
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

// Little-endian fields of a file held in memory; the caller checks the bounds.
uint32_t Le32(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
         static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}
void PutLe32(std::vector<uint8_t>& data, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint32_t kPageSize = 4096;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kScnCntCode = 0x20;
constexpr uint32_t kScnCntInitializedData = 0x40;

// Moves the raw data of the resource section to the next page boundary of
// the file, in `image`, the whole file. Wine maps a section of a program
// straight from its file only when the section's data starts on a page
// boundary (mmap takes page-aligned offsets); otherwise it reads the whole
// section into fresh memory as the program starts. The setup's resources are
// its 88 MB package, so every start would read the package before the first
// instruction, and touch 21,000 new pages doing it; Windows maps the pages
// from the file on first use either way. Only this section moves: aligning
// every section (the linker's --file-alignment 0x1000) costs some 25 KB of
// padding in the stub.
//
// The padding is given to the section whose data ends where the resource
// section's began, so that the sections' data stay contiguous: the hash of a
// signed PE file covers the headers and the sections' data, and tools that
// hash the file straight through would disagree with Windows over a gap. The
// grown section must still fit its own pages in memory. The later sections
// and the symbol table move by the padding; an image with a debug directory
// or a certificate (sign after this step) is refused. True with `image`
// changed, or unchanged when the data was on a page boundary already; false
// with `*why` set, `image` untouched, when the layout does not allow it.
bool PageAlignResources(std::vector<uint8_t>& image, std::string* why) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
    *why = "not a PE image (no MZ header)";
    return false;
  }
  const size_t nt = Le32(image, 0x3C);
  if (nt > image.size() - 24 || Le32(image, nt) != 0x00004550) {
    *why = "not a PE image (no PE signature)";
    return false;
  }
  const size_t file_header = nt + 4;
  const uint16_t section_count = Le16(image, file_header + 2);
  const uint16_t optional_size = Le16(image, file_header + 16);
  const size_t optional = file_header + 20;
  const size_t sections = optional + optional_size;
  if (optional + 96 > image.size() ||
      sections + section_count * kSectionHeaderSize > image.size()) {
    *why = "headers cut short";
    return false;
  }
  const uint16_t magic = Le16(image, optional);
  if (magic != 0x10B && magic != 0x20B) {
    *why = "unknown optional header";
    return false;
  }
  const size_t directories = optional + (magic == 0x10B ? 96 : 112);
  constexpr size_t kSecurityDirectory = 4;
  constexpr size_t kResourceDirectory = 2;
  constexpr size_t kDebugDirectory = 6;
  if (directories + 8 * (kDebugDirectory + 1) > sections) {
    *why = "too few data directories";
    return false;
  }
  if (Le32(image, directories + 8 * kSecurityDirectory + 4) != 0) {
    *why = "the image is signed already; align its resources before signing";
    return false;
  }
  if (Le32(image, directories + 8 * kDebugDirectory + 4) != 0) {
    *why = "the image has a debug directory, whose file offsets this step does not move";
    return false;
  }
  const uint32_t section_alignment = Le32(image, optional + 32);
  const uint32_t resources_rva = Le32(image, directories + 8 * kResourceDirectory);
  struct Section {
    size_t header;
    uint32_t virtual_size, rva, raw_size, raw_pointer, characteristics;
  };
  std::vector<Section> table;
  for (size_t i = 0; i < section_count; ++i) {
    const size_t h = sections + i * kSectionHeaderSize;
    table.push_back({h, Le32(image, h + 8), Le32(image, h + 12), Le32(image, h + 16),
                     Le32(image, h + 20), Le32(image, h + 36)});
  }
  const auto rsrc = std::find_if(table.begin(), table.end(), [&](const Section& s) {
    return resources_rva != 0 && s.rva <= resources_rva &&
           resources_rva < s.rva + std::max(s.virtual_size, s.raw_size);
  });
  if (rsrc == table.end() || rsrc->raw_size == 0) {
    *why = "no resource section with data";
    return false;
  }
  const uint32_t at = rsrc->raw_pointer;
  const uint32_t padding = (kPageSize - at % kPageSize) % kPageSize;
  if (padding == 0) return true;
  const auto before = std::find_if(table.begin(), table.end(), [&](const Section& s) {
    return s.raw_size != 0 && s.raw_pointer < at && s.raw_pointer + s.raw_size == at;
  });
  if (before == table.end()) {
    *why = "no section's data ends where the resource section's begins";
    return false;
  }
  const uint64_t room = (uint64_t{before->virtual_size} + section_alignment - 1) /
                            section_alignment * section_alignment -
                        before->raw_size;
  if (section_alignment < kPageSize || room < padding) {
    *why = "the section before the resources has no room for " + std::to_string(padding) +
           " bytes of padding within its pages";
    return false;
  }
  if (uint64_t{image.size()} + padding > UINT32_MAX) {
    *why = "the image would exceed 4 GB";
    return false;
  }

  PutLe32(image, before->header + 16, before->raw_size + padding);
  if (before->characteristics & kScnCntCode) {
    PutLe32(image, optional + 4, Le32(image, optional + 4) + padding);
  } else if (before->characteristics & kScnCntInitializedData) {
    PutLe32(image, optional + 8, Le32(image, optional + 8) + padding);
  }
  for (const Section& s : table) {
    if (s.raw_size != 0 && s.raw_pointer >= at)
      PutLe32(image, s.header + 20, s.raw_pointer + padding);
  }
  const uint32_t symbols = Le32(image, file_header + 8);
  if (symbols >= at) PutLe32(image, file_header + 8, symbols + padding);
  image.insert(image.begin() + at, padding, uint8_t{0});
  return true;
}

// Reads the whole file at `path`, moves its resource data to a page boundary
// and writes it back when that changed anything. False after printing why.
bool PageAlignResourcesOf(const char* path) {
  std::vector<uint8_t> image;
  {
    FilePtr file(std::fopen(path, "rb"));
    if (!file) {
      PrintError(path, ErrnoText("cannot open"));
      return false;
    }
    std::vector<uint8_t> block(kBlockSize);
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
      image.insert(image.end(), block.begin(), block.begin() + static_cast<long>(got));
    }
    if (std::ferror(file.get())) {
      PrintError(path, ErrnoText("cannot read"));
      return false;
    }
  }
  const size_t original_size = image.size();
  std::string why;
  if (!PageAlignResources(image, &why)) {
    PrintError(path, "cannot page-align the resources: " + why);
    return false;
  }
  if (image.size() == original_size) return true;
  // The file only grows: writing it from the start replaces every byte.
  FilePtr file(std::fopen(path, "r+b"));
  if (!file || std::fwrite(image.data(), 1, image.size(), file.get()) != image.size() ||
      std::fclose(file.release()) != 0) {
    PrintError(path, ErrnoText("cannot write the page-aligned image"));
    return false;
  }
  std::printf("%s: resources moved by %zu bytes to a page boundary\n", path,
              image.size() - original_size);
  return true;
}

int Stamp(const char* path, std::optional<uint32_t> seconds, bool page_align_resources) {
  if (page_align_resources && !PageAlignResourcesOf(path)) return 1;
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
  if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return lexoria::Verify(argv[2]);
  bool page_align_resources = false;
  std::optional<uint32_t> seconds;
  int i = 1;
  for (; i < argc - 1; ++i) {
    if (std::strcmp(argv[i], "--page-align-resources") == 0 && !page_align_resources) {
      page_align_resources = true;
    } else if (std::strcmp(argv[i], "--time-stamp") == 0 && !seconds && i + 1 < argc - 1 &&
               (seconds = ParseSeconds(argv[i + 1]))) {
      ++i;
    } else {
      break;
    }
  }
  if (i == argc - 1 && argv[i][0] != '-') {
    return lexoria::Stamp(argv[i], seconds, page_align_resources);
  }
  std::fprintf(stderr,
               "usage: stamp_checksum [--page-align-resources] [--time-stamp SECONDS] <exe>\n"
               "       stamp_checksum --verify <exe>\n");
  return 2;
}
