// Throughput of the PE checksum calculator, as the setup uses it: a file
// streamed in blocks of a fixed size. Prints figures; never fails.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "install/pe_checksum.h"

namespace lexoria {
namespace {

constexpr size_t kFileSize = size_t{64} << 20;

const std::vector<uint8_t>& SampleImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> bytes(kFileSize);
    std::mt19937_64 rng(1);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x80;
    bytes[0x3D] = bytes[0x3E] = bytes[0x3F] = 0;
    bytes[0x80] = 'P';
    bytes[0x81] = 'E';
    bytes[0x82] = bytes[0x83] = 0;
    bytes[0x98] = 0x0B;
    bytes[0x99] = 0x01;
    return bytes;
  }();
  return image;
}

// Streams the 64 MiB image in blocks of range(0) bytes; odd block sizes put
// every other block at an odd file offset.
void BM_PeChecksumBlocks(benchmark::State& state) {
  const std::vector<uint8_t>& image = SampleImage();
  const size_t block = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    PeChecksum checksum;
    for (size_t at = 0; at < image.size(); at += block) {
      checksum.Update(image.data() + at, std::min(block, image.size() - at));
    }
    benchmark::DoNotOptimize(checksum.Finish());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_PeChecksumBlocks)->Arg(1 << 20)->Arg((1 << 20) + 1)->Arg(64 << 10)->Arg(4096);

// For comparison: the word-at-a-time fold with a branch per word, as the
// checksum is usually written.
void BM_WordByWordFold(benchmark::State& state) {
  const std::vector<uint8_t>& image = SampleImage();
  for (auto _ : state) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < image.size(); i += 2) {
      sum += static_cast<uint32_t>(image[i] | (image[i + 1] << 8));
      if (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_WordByWordFold);

}  // namespace
}  // namespace lexoria

BENCHMARK_MAIN();
