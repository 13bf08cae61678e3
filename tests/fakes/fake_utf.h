// UTF-8 <-> UTF-16 for the fakes' wide calls: the fakes name files and the
// module by UTF-8 text, so that a test can write a path in any script (the
// ANSI calls keep taking code-page bytes as they are).
#ifndef LEXORIA_TESTS_FAKES_FAKE_UTF_H_
#define LEXORIA_TESTS_FAKES_FAKE_UTF_H_

#include <cstdint>
#include <string>

namespace lexoria::testing {

inline std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    const int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
    uint32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

inline std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

// The fakes' code pages: bytes 0xC0 to 0xFF are А to я in code page 1251
// (0xA8 and 0xB8 Ё and ё), Latin-1 in 1252; every other byte keeps its
// number. Enough for the letters the tests use, and one mapping for every
// fake, so that a name goes to UTF-16 and back as through the real calls.
inline char16_t AnsiToUtf16(uint8_t byte, uint32_t code_page) {
  if (code_page == 1251) {
    if (byte >= 0xC0) return static_cast<char16_t>(byte + 0x350);
    if (byte == 0xA8) return u'\u0401';
    if (byte == 0xB8) return u'\u0451';
  }
  return byte;
}
inline std::u16string AnsiToUtf16(const std::string& text, uint32_t code_page) {
  if (code_page == 65001) return Utf8ToUtf16(text);
  std::u16string wide;
  for (const char c : text) wide += AnsiToUtf16(static_cast<uint8_t>(c), code_page);
  return wide;
}
// False, with "?" in its place, for a unit the code page has no byte for;
// in UTF-8, with U+FFFD, for a surrogate without its pair.
inline bool Utf16ToAnsi(const std::u16string& text, uint32_t code_page, std::string* out) {
  if (code_page == 65001) {
    std::u16string whole;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool high = text[i] >= 0xD800 && text[i] < 0xDC00;
      const bool paired =
          high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
      if (paired) {
        whole += text.substr(i++, 2);
      } else {
        whole += text[i] >= 0xD800 && text[i] < 0xE000 ? u'\uFFFD' : text[i];
      }
    }
    *out = Utf16ToUtf8(whole);
    return whole == text;
  }
  out->clear();
  bool exact = true;
  for (const char16_t c : text) {
    int byte = -1;
    if (code_page == 1251 && c >= 0x410 && c <= 0x44F) {
      byte = c - 0x350;
    } else if (code_page == 1251 && c == u'\u0401') {
      byte = 0xA8;
    } else if (code_page == 1251 && c == u'\u0451') {
      byte = 0xB8;
    } else if (c <= 0xFF && AnsiToUtf16(static_cast<uint8_t>(c), code_page) == c) {
      byte = c;
    }
    exact &= byte >= 0;
    out->push_back(byte >= 0 ? static_cast<char>(byte) : '?');
  }
  return exact;
}

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_UTF_H_
