// checksum_probe: asks imagehlp what it thinks of a file's PE checksum, as a
// second opinion on the build's stamp that does not share its code.
//
//   checksum_probe <file>
//
// Prints "header=0x%08X computed=0x%08X rc=%u" from MapFileAndCheckSumA and
// exits 0 when that call succeeds (rc CHECKSUM_SUCCESS), 1 when it fails,
// 2 on a usage error. Whether the two values agree is for the caller to
// judge. Win64 test helper; link with -limagehlp.

#include <windows.h>
// windows.h first: imagehlp.h needs its types.
#include <imagehlp.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: checksum_probe <file>\n");
    return 2;
  }
  DWORD header_sum = 0;
  DWORD computed_sum = 0;
  const DWORD rc = MapFileAndCheckSumA(argv[1], &header_sum, &computed_sum);
  std::printf("header=0x%08X computed=0x%08X rc=%u\n", static_cast<unsigned>(header_sum),
              static_cast<unsigned>(computed_sum), static_cast<unsigned>(rc));
  return rc == CHECKSUM_SUCCESS ? 0 : 1;
}
