#include "install/pe_checksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

// Why the fast sum gives the same result as the word-by-word fold.
//
// The fold keeps a value s in [0, 0xFFFF]: it adds a word w and, when
// s + w >= 0x10000, replaces s + w by (s + w - 0x10000) + 1 = s + w - 0xFFFF.
// So after every step s is congruent to T, the plain integer sum of the words
// so far, modulo 0xFFFF. It also stays 0 exactly while every word so far is 0:
// from s >= 1 a wrapped step gives s + w - 0xFFFF >= 1, an unwrapped one gives
// s + w >= 1. Hence the fold ends at 0 if T = 0 and otherwise at the one value
// in [1, 0xFFFF] congruent to T: a multiple of 0xFFFF comes out as 0xFFFF.
//
// Because 0x10000 = 0xFFFF + 1, every power of 0x10000 is congruent to 1
// modulo 0xFFFF. A little-endian 32-bit piece lo + 0x10000 * hi of the file is
// therefore congruent to its two words lo + hi, and the exact 64-bit sum of
// such pieces is congruent to T. Byte b at file offset p contributes b at even
// p and 0x100 * b at odd p; that is how a block starting at an odd offset, or
// an odd trailing byte, is counted, whatever the block sizes. The field is
// summed like any bytes and its contribution subtracted at the end, which is
// exact modulo 0xFFFF.
//
// What the modulus loses is only the choice between 0 and 0xFFFF for a sum
// that is a multiple of 0xFFFF. A PE image has T > 0 ("MZ" at offset 0, which
// the field at e_lfanew + 0x58 >= 0x58 never covers), so the answer there is
// 0xFFFF, as the fold gives.

namespace lexoria {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the word sums load file bytes as native little-endian integers");

constexpr uint64_t kOnesModulus = 0xFFFF;
constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint64_t kOptionalMagicDelta = 0x18;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

// Each 32-byte step adds at most 2 * 0xFFFFFFFF < 2^33 to each of its four
// accumulators, so 2^25 steps (1 GiB) stay below 2^58: fold between chunks
// and no accumulator can overflow, even for a single 4 GiB block.
constexpr size_t kChunkSize = size_t{1} << 30;

uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A little-endian 32-bit piece of the file (see the static_assert above).
uint32_t Load32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));  // unaligned-safe; a plain load on x86
  return value;
}

// Sum (modulo 0xFFFF) of the words of `data`, which starts at an even file
// offset; an odd last byte counts as a low byte.
uint64_t SumEvenAligned(const uint8_t* data, size_t size) {
  uint64_t total = 0;
  while (size >= 32) {
    const size_t chunk = std::min(size, kChunkSize) & ~size_t{31};
    const uint8_t* const end = data + chunk;
    // 32-bit pieces into 64-bit sums: no carries to fold inside the loop,
    // and plain add/adc pairs on i686. Four independent chains so the adds
    // are not serialised on one register; x86-64 compilers vectorise it.
    uint64_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    for (; data != end; data += 32) {
      a0 += uint64_t{Load32(data)} + Load32(data + 16);
      a1 += uint64_t{Load32(data + 4)} + Load32(data + 20);
      a2 += uint64_t{Load32(data + 8)} + Load32(data + 24);
      a3 += uint64_t{Load32(data + 12)} + Load32(data + 28);
    }
    size -= chunk;
    total += a0 % kOnesModulus + a1 % kOnesModulus + a2 % kOnesModulus + a3 % kOnesModulus;
  }
  for (; size >= 2; data += 2, size -= 2) total += LoadLe16(data);
  if (size == 1) total += data[0];
  return total % kOnesModulus;
}

// Copies the part of the file range [range_begin, range_begin + range_size)
// that lies in the block [block_begin, block_begin + size) into `dest`, which
// holds the whole range.
void CopyOverlap(uint64_t block_begin, const uint8_t* data, size_t size, uint64_t range_begin,
                 uint8_t* dest, size_t range_size) {
  const uint64_t begin = std::max(block_begin, range_begin);
  const uint64_t end = std::min(block_begin + size, range_begin + range_size);
  if (begin < end) {
    std::memcpy(dest + (begin - range_begin), data + (begin - block_begin),
                static_cast<size_t>(end - begin));
  }
}

// `dos` holds the first 0x40 bytes of the file, `nt` the 0x5C bytes at
// e_lfanew.
bool HasPeHeaders(const uint8_t* dos, const uint8_t* nt) {
  if (LoadLe16(dos) != kDosMagic || LoadLe32(nt) != kPeSignature) return false;
  const uint16_t magic = LoadLe16(nt + kOptionalMagicDelta);
  return magic == kPe32Magic || magic == kPe32PlusMagic;
}

}  // namespace

std::optional<PeChecksumField> ReadPeChecksumField(const uint8_t* header, size_t size) {
  if (size < kPeLfanewOffset + 4) return std::nullopt;
  const uint64_t nt_offset = LoadLe32(header + kPeLfanewOffset);
  if (nt_offset + kPeChecksumFieldDelta + kPeChecksumFieldSize > size) return std::nullopt;
  if (!HasPeHeaders(header, header + nt_offset)) return std::nullopt;
  const uint64_t field_offset = nt_offset + kPeChecksumFieldDelta;
  return PeChecksumField{field_offset, LoadLe32(header + field_offset)};
}

bool WritePeChecksumField(uint8_t* header, size_t size, uint32_t value) {
  const std::optional<PeChecksumField> field = ReadPeChecksumField(header, size);
  if (!field) return false;
  uint8_t* const p = header + field->offset;
  for (size_t i = 0; i < kPeChecksumFieldSize; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
  return true;
}

void PeChecksum::Update(const uint8_t* data, size_t size) {
  if (size == 0) return;
  Capture(data, size);
  AddWords(data, size);
  size_ += size;
}

void PeChecksum::Capture(const uint8_t* data, size_t size) {
  CopyOverlap(size_, data, size, 0, dos_header_, kDosHeaderSize);
  if (!nt_offset_ && size_ + size >= kDosHeaderSize) {
    nt_offset_ = LoadLe32(dos_header_ + kPeLfanewOffset);
    // Headers may overlap the DOS header (e_lfanew < 0x40); those bytes
    // have gone by already, but the DOS header copy still has them.
    CopyOverlap(0, dos_header_, kDosHeaderSize, *nt_offset_, nt_prefix_, kNtPrefixSize);
  }
  if (nt_offset_) CopyOverlap(size_, data, size, *nt_offset_, nt_prefix_, kNtPrefixSize);
}

void PeChecksum::AddWords(const uint8_t* data, size_t size) {
  uint64_t block_sum = 0;
  if (size_ % 2 == 1) {
    // The block starts with the high byte of a word begun by the previous
    // block.
    block_sum = uint64_t{data[0]} << 8;
    ++data;
    --size;
  }
  block_sum += SumEvenAligned(data, size);
  sum_ = (sum_ + block_sum) % kOnesModulus;
}

std::optional<PeChecksumResult> PeChecksum::Finish() const {
  if (!nt_offset_ || *nt_offset_ + kNtPrefixSize > size_) return std::nullopt;
  if (!HasPeHeaders(dos_header_, nt_prefix_)) return std::nullopt;

  const uint64_t field_offset = *nt_offset_ + kPeChecksumFieldDelta;
  const uint8_t* const field = nt_prefix_ + kPeChecksumFieldDelta;
  uint64_t field_sum = 0;
  for (size_t i = 0; i < kPeChecksumFieldSize; ++i) {
    field_sum += uint64_t{field[i]} << (8 * ((field_offset + i) % 2));
  }
  uint64_t folded = (sum_ + kOnesModulus - field_sum % kOnesModulus) % kOnesModulus;
  if (folded == 0) folded = kOnesModulus;  // non-zero sum; see the top of the file

  PeChecksumResult result;
  result.computed = static_cast<uint32_t>(folded + size_);
  result.stamped = LoadLe32(field);
  result.field_offset = field_offset;
  return result;
}

}  // namespace lexoria
