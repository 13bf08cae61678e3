// The PE image checksum: the value imagehlp's CheckSumMappedFile and
// MapFileAndCheckSumA compute and that a build step stamps into the optional
// header of the linked executable.
//
// Definition. The file is read as consecutive 16-bit little-endian words (an
// odd trailing byte is a word with a zero high byte), with the four bytes of
// the optional header's CheckSum field counted as zero. The words are added
// one by one into a 16-bit sum whose carry out of bit 15 is added back in
// (end-around carry); the final 16-bit sum plus the file length, modulo 2^32,
// is the checksum.
//
// The CheckSum field lies at e_lfanew + 0x58 for PE32 and PE32+ alike, where
// e_lfanew is the 32-bit little-endian value at offset 0x3C of the file.
//
// Portable code: no Windows headers. Compiled for the Linux host (tests and
// the build-time stamp tool) and for both Windows targets (the setup's own
// integrity check).

#ifndef LEXORIA_INSTALL_PE_CHECKSUM_H_
#define LEXORIA_INSTALL_PE_CHECKSUM_H_

#include <cstddef>
#include <cstdint>
#include <optional>

namespace lexoria {

// Offset of e_lfanew (the file offset of the "PE\0\0" signature) in the DOS
// header.
inline constexpr uint64_t kPeLfanewOffset = 0x3C;
// Offset of the CheckSum field from the "PE\0\0" signature.
inline constexpr uint64_t kPeChecksumFieldDelta = 0x58;
// Size of the CheckSum field in bytes.
inline constexpr size_t kPeChecksumFieldSize = 4;

// Where a file's CheckSum field is, and the value it holds.
struct PeChecksumField {
  uint64_t offset = 0;  // file offset of the field's first byte
  uint32_t value = 0;   // the stamped value, little-endian in the file
};

// Locates and reads the CheckSum field from the first `size` bytes of a file.
//
// Returns nullopt unless these bytes hold a PE image's headers: "MZ" at 0,
// e_lfanew pointing at "PE\0\0" followed by an optional header whose magic is
// 0x10B (PE32) or 0x20B (PE32+), and the whole field within the `size` bytes.
// A caller that passes only a prefix of the file must make it long enough to
// reach the field (e_lfanew + 0x5C bytes; 4096 is plenty for any linker's
// output).
//
// REQUIRES: `header` points at `size` readable bytes (may be null if size is
// 0).
std::optional<PeChecksumField> ReadPeChecksumField(const uint8_t* header, size_t size);

// Stores `value` little-endian into the CheckSum field of the headers held in
// the first `size` bytes of `header`.
//
// Returns false, leaving the bytes untouched, when ReadPeChecksumField would
// return nullopt for them.
bool WritePeChecksumField(uint8_t* header, size_t size, uint32_t value);

// What PeChecksum::Finish reports for a PE image.
struct PeChecksumResult {
  uint32_t computed = 0;  // the checksum of the bytes streamed so far
  uint32_t stamped = 0;   // the value found in the CheckSum field
  uint64_t field_offset = 0;

  // True when the image carries a stamp (non-zero) and it matches.
  bool Matches() const { return stamped != 0 && stamped == computed; }
};

// Incremental calculator: feed a whole file as consecutive blocks of any
// sizes (odd sizes, single bytes, a block boundary inside the CheckSum field
// all give the same result as one block), then call Finish().
//
// The calculator finds the CheckSum field itself from the leading bytes, so a
// caller only streams the file from offset 0 to its end. Memory use is fixed
// (no copy of the file is kept). Throughput is in the GB/s range for blocks
// of a few KiB and more.
//
// The 16-bit sum is produced exactly as the word-by-word fold produces it:
// a file whose words other than the field add up to a multiple of 0xFFFF
// gets 0xFFFF, never 0 (a PE image always has a non-zero word, "MZ").
//
// Where imagehlp differs: it sums the field too and then subtracts the
// stored value with borrow, as two aligned words. That equals the definition
// above except (a) when the rest of the file sums to a multiple of 0xFFFF and
// the stored field is non-zero, where imagehlp reports 0 + length instead of
// 0xFFFF + length (one build in 65535 on average), and (b) when e_lfanew is
// odd, which no linker produces.
//
// Not thread-safe; one instance per stream. Copyable.
class PeChecksum {
 public:
  PeChecksum() = default;

  // Adds the next `size` bytes of the file.
  //
  // REQUIRES: `data` points at `size` readable bytes (may be null if size is
  // 0); blocks are given in file order without gaps or overlaps.
  void Update(const uint8_t* data, size_t size);

  // Returns the checksum of everything streamed so far together with the
  // stamped value and where it lies, or nullopt if those bytes are not a PE
  // image (too short, no "MZ", e_lfanew pointing outside the file so that the
  // CheckSum field does not fit, no "PE\0\0" signature, or an unknown
  // optional header magic). Does not change the state: more Update calls may
  // follow.
  //
  // The length added is the number of bytes streamed modulo 2^32, as
  // imagehlp's 32-bit file length; PE images are smaller than 4 GiB anyway.
  std::optional<PeChecksumResult> Finish() const;

  // Number of bytes streamed so far.
  uint64_t size() const { return size_; }

 private:
  // Bytes of the NT headers up to and including the CheckSum field.
  static constexpr size_t kNtPrefixSize = kPeChecksumFieldDelta + kPeChecksumFieldSize;
  static constexpr size_t kDosHeaderSize = kPeLfanewOffset + 4;

  void Capture(const uint8_t* data, size_t size);
  void AddWords(const uint8_t* data, size_t size);

  uint64_t size_ = 0;
  // Sum of every byte of the file (field included) weighted by 1 at even and
  // 256 at odd offsets, kept only modulo 0xFFFF (see the .cc for why that is
  // enough). Always below 0xFFFF between calls.
  uint64_t sum_ = 0;
  uint8_t dos_header_[kDosHeaderSize] = {};
  // Set once the DOS header has been streamed.
  std::optional<uint64_t> nt_offset_;
  uint8_t nt_prefix_[kNtPrefixSize] = {};
};

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_PE_CHECKSUM_H_
