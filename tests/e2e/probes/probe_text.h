// Text helpers shared by the Wine probes.
#ifndef LEXORIA_TESTS_E2E_PROBES_PROBE_TEXT_H_
#define LEXORIA_TESTS_E2E_PROBES_PROBE_TEXT_H_

#include <cstdio>
#include <string>

namespace lexoria::probes {

// The bytes as lower-case hexadecimal, so that code page 1251 texts reach the
// tests unchanged through standard output; "-" for no bytes.
inline std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof(two), "%02x", c);
    out += two;
  }
  return out;
}

}  // namespace lexoria::probes

#endif  // LEXORIA_TESTS_E2E_PROBES_PROBE_TEXT_H_
