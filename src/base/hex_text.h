// Numbers as hexadecimal text, without the C library's printf family: its
// floating-point formatting alone would add some 25 KB to the setup.
#ifndef LEXORIA_BASE_HEX_TEXT_H_
#define LEXORIA_BASE_HEX_TEXT_H_

#include <cstdint>
#include <string>

namespace lexoria {

// `value` in hexadecimal, at least `min_digits` digits (leading zeros), in
// capitals or not: as printf's "%.4x" or "%X".
inline std::string HexText(uint32_t value, int min_digits, bool capitals) {
  const char* digits = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < min_digits) text.insert(0, min_digits - text.size(), '0');
  return text;
}

}  // namespace lexoria

#endif  // LEXORIA_BASE_HEX_TEXT_H_
