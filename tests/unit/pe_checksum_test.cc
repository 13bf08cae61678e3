#include "install/pe_checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lexoria {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPe32 = 0x10B;
constexpr uint16_t kPe32Plus = 0x20B;

void PutLe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A file of `size` bytes with PE headers at `nt_offset`: "MZ", e_lfanew,
// "PE\0\0", the optional header magic and a random stamped value (nothing
// else, so that headers overlapping the DOS header keep e_lfanew intact);
// every other byte is random (or `fill` when given).
Bytes MakeImage(size_t size, uint32_t nt_offset, uint16_t magic = kPe32, uint32_t seed = 1,
                std::optional<uint8_t> fill = std::nullopt) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& byte : b) byte = fill ? *fill : static_cast<uint8_t>(rng());
  b[0] = 'M';
  b[1] = 'Z';
  PutLe32(b, 0x3C, nt_offset);
  b[nt_offset] = 'P';
  b[nt_offset + 1] = 'E';
  b[nt_offset + 2] = 0;
  b[nt_offset + 3] = 0;
  PutLe16(b, nt_offset + 0x18, magic);
  PutLe32(b, nt_offset + 0x58, static_cast<uint32_t>(rng()));
  return b;
}

// The checksum as the word-by-word fold defines it, written plainly:
// the four field bytes zeroed, 16-bit words with end-around carry, an odd
// last byte as a low byte, then the length added.
uint32_t ReferenceChecksum(Bytes file, size_t field_offset) {
  for (size_t i = 0; i < 4; ++i) file[field_offset + i] = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    uint32_t word = file[i];
    if (i + 1 < file.size()) word |= uint32_t{file[i + 1]} << 8;
    sum += word;
    if (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(file.size());
}

std::optional<PeChecksumResult> StreamInBlocks(const Bytes& file,
                                               const std::vector<size_t>& block_sizes) {
  PeChecksum checksum;
  size_t at = 0;
  for (size_t block : block_sizes) {
    checksum.Update(file.data() + at, block);
    at += block;
  }
  checksum.Update(file.data() + at, file.size() - at);
  return checksum.Finish();
}

std::optional<PeChecksumResult> StreamWhole(const Bytes& file) { return StreamInBlocks(file, {}); }

class PeChecksumTest : public ::testing::Test {};

// Tests that the result equals the plain fold over images of many shapes.
TEST_F(PeChecksumTest, MatchesPlainFold) {
  struct Case {
    const char* name;
    size_t size;
    uint32_t nt_offset;
    uint16_t magic;
    std::optional<uint8_t> fill;
  };
  const Case cases[] = {
      {"typical PE32", 4096, 0x80, kPe32, {}},
      {"typical PE32+", 4096, 0x80, kPe32Plus, {}},
      {"odd length", 4097, 0x80, kPe32, {}},
      {"odd length, 31 bytes after the fast loop", 4096 + 31, 0x80, kPe32, {}},
      {"smallest: field ends the file", 0x80 + 0x5C, 0x80, kPe32, {}},
      {"headers right after the DOS header", 0x200, 0x40, kPe32, {}},
      {"headers overlapping the DOS header", 0x200, 4, kPe32, {}},
      {"signature inside the DOS header, rest after", 0x200, 0x38, kPe32, {}},
      {"odd e_lfanew: field straddles words", 0x201, 0x81, kPe32, {}},
      {"odd e_lfanew overlapping the DOS header", 0x200, 5, kPe32, {}},
      {"all 0xFF: largest words everywhere", 1 << 20, 0x80, kPe32, 0xFF},
      {"all zero but the headers", 1 << 16, 0x80, kPe32, 0x00},
      {"a few MiB plus odd bytes", (3 << 20) + 7, 0x100, kPe32Plus, {}},
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = MakeImage(c.size, c.nt_offset, c.magic, ++seed, c.fill);
    const auto result = StreamWhole(file);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->computed, ReferenceChecksum(file, c.nt_offset + 0x58));
    EXPECT_EQ(result->field_offset, c.nt_offset + 0x58u);
  }
}

// Tests that a file whose words sum to a multiple of 0xFFFF gets 0xFFFF, as
// the fold gives, and not 0.
TEST_F(PeChecksumTest, SumOfMultipleOfFfffFoldsToFfff) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    const size_t size = 1000 + seed;  // odd and even lengths
    Bytes file = MakeImage(size, 0x80, kPe32, seed);
    const uint32_t length = static_cast<uint32_t>(size);
    // Adjust one word past the headers so that the sum becomes a multiple
    // of 0xFFFF: replace w by w - s (mod 0xFFFF).
    const uint32_t s = ReferenceChecksum(file, 0x80 + 0x58) - length;
    const uint32_t w = file[0x200] | (uint32_t{file[0x201]} << 8);
    PutLe16(file, 0x200, static_cast<uint16_t>((w + 0xFFFF - s) % 0xFFFF));
    ASSERT_EQ(ReferenceChecksum(file, 0x80 + 0x58), 0xFFFF + length);

    const auto result = StreamWhole(file);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->computed, 0xFFFF + length);
  }
}

// Tests that the stored value does not take part in the sum.
TEST_F(PeChecksumTest, FieldCountsAsZero) {
  for (uint32_t nt_offset : {0x80u, 0x81u}) {
    SCOPED_TRACE(nt_offset);
    Bytes file = MakeImage(5000, nt_offset);
    const size_t field = nt_offset + 0x58;
    std::optional<uint32_t> first;
    for (uint32_t value : {0u, 1u, 0xFFFFu, 0x10000u, 0xFFFFFFFFu, 0x12345678u}) {
      PutLe32(file, field, value);
      const auto result = StreamWhole(file);
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(result->stamped, value);
      if (!first) first = result->computed;
      EXPECT_EQ(result->computed, *first) << "stored value " << value;
    }
    // A byte next to the field does count.
    file[field + 4] ^= 0x01;
    EXPECT_NE(StreamWhole(file)->computed, *first);
  }
}

// Tests that every way of cutting a small image into two and three blocks
// gives the one-block result, including cuts inside the DOS header, the
// signature and the field.
TEST_F(PeChecksumTest, SameResultForEverySplit) {
  for (uint32_t nt_offset : {0x80u, 0x81u, 0x38u, 4u}) {
    SCOPED_TRACE(nt_offset);
    const Bytes file = MakeImage(0x80 + 0x5C + 37, nt_offset, kPe32, nt_offset);
    const auto whole = StreamWhole(file);
    ASSERT_TRUE(whole.has_value());
    for (size_t a = 0; a <= file.size(); ++a) {
      for (size_t b = a; b <= file.size(); ++b) {
        const auto split = StreamInBlocks(file, {a, b - a});
        ASSERT_TRUE(split.has_value()) << "cuts at " << a << " and " << b;
        ASSERT_EQ(split->computed, whole->computed) << "cuts at " << a << " and " << b;
        ASSERT_EQ(split->stamped, whole->stamped) << "cuts at " << a << " and " << b;
      }
    }
  }
}

// Tests byte-at-a-time feeding, fixed odd block sizes and random block sizes
// on a file large enough for the wide loop.
TEST_F(PeChecksumTest, SameResultForAnyBlockSizes) {
  const Bytes file = MakeImage((1 << 20) + 3, 0x80, kPe32Plus, 7);
  const uint32_t expected = ReferenceChecksum(file, 0x80 + 0x58);

  {
    PeChecksum checksum;
    for (uint8_t byte : file) checksum.Update(&byte, 1);
    ASSERT_TRUE(checksum.Finish().has_value());
    EXPECT_EQ(checksum.Finish()->computed, expected) << "1-byte blocks";
  }
  for (size_t block : {2u, 3u, 31u, 33u, 4095u, 65537u}) {
    std::vector<size_t> blocks(file.size() / block, block);
    const auto result = StreamInBlocks(file, blocks);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->computed, expected) << block << "-byte blocks";
  }
  std::mt19937 rng(42);
  for (int round = 0; round < 20; ++round) {
    std::vector<size_t> blocks;
    size_t total = 0;
    while (true) {
      const size_t block = rng() % 70000;
      if (total + block > file.size()) break;
      blocks.push_back(block);
      total += block;
    }
    const auto result = StreamInBlocks(file, blocks);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->computed, expected) << "random blocks, round " << round;
  }
}

// Tests that Finish() can be asked midway and the stream continued.
TEST_F(PeChecksumTest, FinishLeavesStateUnchanged) {
  const Bytes file = MakeImage(3001, 0x80);
  PeChecksum checksum;
  checksum.Update(file.data(), 0x40);
  EXPECT_FALSE(checksum.Finish().has_value()) << "headers not streamed yet";
  checksum.Update(file.data() + 0x40, 1000 - 0x40);
  ASSERT_TRUE(checksum.Finish().has_value());
  EXPECT_NE(checksum.Finish()->computed, ReferenceChecksum(file, 0x80 + 0x58))
      << "only part of the file";
  checksum.Update(file.data() + 1000, file.size() - 1000);
  ASSERT_TRUE(checksum.Finish().has_value());
  EXPECT_EQ(checksum.Finish()->computed, ReferenceChecksum(file, 0x80 + 0x58));
  EXPECT_EQ(checksum.size(), file.size());
}

// Tests that files that are not PE images are refused, both by the
// calculator and by the header reader, and that the limit cases just inside
// are accepted.
TEST_F(PeChecksumTest, RefusesNonPeInput) {
  struct Case {
    const char* name;
    Bytes file;
    bool is_pe;
  };
  const Bytes good = MakeImage(0x400, 0x80);
  auto with = [&good](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes b = good;
    for (uint8_t v : bytes) b[at++] = v;
    return b;
  };
  auto lfanew = [&good](uint32_t value, size_t size = 0x400) {
    Bytes b = good;
    b.resize(size);
    PutLe32(b, 0x3C, value);
    return b;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"one byte", {'M'}, false},
      {"DOS header cut short", Bytes(good.begin(), good.begin() + 0x3F), false},
      {"no MZ", with(0, {'Z', 'M'}), false},
      {"lowercase mz", with(0, {'m', 'z'}), false},
      {"no PE signature", with(0x80, {'P', 'F'}), false},
      {"PE\\0\\1 signature", with(0x82, {0, 1}), false},
      {"NE signature", with(0x80, {'N', 'E'}), false},
      {"ROM optional header magic", with(0x80 + 0x18, {0x07, 0x01}), false},
      {"zero optional header magic", with(0x80 + 0x18, {0, 0}), false},
      {"e_lfanew past the end", lfanew(0x400), false},
      {"e_lfanew 0xFFFFFFFF", lfanew(0xFFFFFFFF), false},
      {"field one byte past the end", lfanew(0x80, 0x80 + 0x5B), false},
      {"field ends the file", lfanew(0x80, 0x80 + 0x5C), true},
      {"intact image", good, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StreamWhole(c.file).has_value(), c.is_pe);
    EXPECT_EQ(ReadPeChecksumField(c.file.data(), c.file.size()).has_value(), c.is_pe);
    Bytes copy = c.file;
    EXPECT_EQ(WritePeChecksumField(copy.data(), copy.size(), 0x01020304), c.is_pe);
    if (!c.is_pe) {
      EXPECT_EQ(copy, c.file) << "refused write changed bytes";
    }
  }
}

// Tests that the header reader finds the field and its value, also from a
// prefix of the file, and needs the prefix to reach the field's last byte.
TEST_F(PeChecksumTest, ReadsFieldFromHeaderBytes) {
  for (uint16_t magic : {kPe32, kPe32Plus}) {
    SCOPED_TRACE(magic);
    Bytes file = MakeImage(0x2000, 0xF0, magic);
    PutLe32(file, 0xF0 + 0x58, 0xA1B2C3D4);
    for (size_t prefix : {size_t{0xF0 + 0x5C}, size_t{0x1000}, file.size()}) {
      const auto field = ReadPeChecksumField(file.data(), prefix);
      ASSERT_TRUE(field.has_value()) << prefix;
      EXPECT_EQ(field->offset, 0xF0u + 0x58u);
      EXPECT_EQ(field->value, 0xA1B2C3D4u);
    }
    EXPECT_FALSE(ReadPeChecksumField(file.data(), 0xF0 + 0x5B).has_value());
  }
}

// Tests the round trip the build and the setup rely on: stamp the computed
// value into the headers, stream the file again in blocks, and it matches;
// any change to the file afterwards makes it not match.
TEST_F(PeChecksumTest, StampThenVerify) {
  for (uint16_t magic : {kPe32, kPe32Plus}) {
    SCOPED_TRACE(magic);
    Bytes file = MakeImage(200001, 0x80, magic, magic);
    PutLe32(file, 0x80 + 0x58, 0);
    const auto before = StreamWhole(file);
    ASSERT_TRUE(before.has_value());
    EXPECT_FALSE(before->Matches()) << "an unstamped image never matches";

    ASSERT_TRUE(WritePeChecksumField(file.data(), 0x1000, before->computed));
    const auto after = StreamInBlocks(file, {1, 0x57, 3, 4093});
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->stamped, before->computed);
    EXPECT_EQ(after->computed, before->computed);
    EXPECT_TRUE(after->Matches());

    for (size_t at : {size_t{2}, size_t{0x80 + 0x5C}, file.size() / 2, file.size() - 1}) {
      Bytes damaged = file;
      damaged[at] ^= 0x40;
      const auto result = StreamWhole(damaged);
      ASSERT_TRUE(result.has_value());
      EXPECT_FALSE(result->Matches()) << "byte " << at << " changed";
    }
    Bytes truncated(file.begin(), file.end() - 1);
    EXPECT_FALSE(StreamWhole(truncated)->Matches()) << "last byte cut";
    Bytes extended = file;
    extended.push_back(0);
    EXPECT_FALSE(StreamWhole(extended)->Matches()) << "zero byte appended";
  }
}

}  // namespace
}  // namespace lexoria
