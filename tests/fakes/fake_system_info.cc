#include "fakes/fake_system_info.h"

namespace lexoria::testing {

std::string FakeSystemInfo::GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                                    bool* found) {
  // Environment names match without regard to case.
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  auto it = environment.find(key);
  if (it == environment.end()) {
    *found = false;
    return {};
  }
  *found = true;
  return it->second.size() < buffer_size ? it->second : std::string();
}

bool FakeSystemInfo::GetVersionExA(uint32_t record_size, platform::OsVersionInfo* info) {
  if (record_size == platform::kOsVersionInfoExSize && extended_version_fails) return false;
  if (record_size == platform::kOsVersionInfoSize && plain_version_fails) return false;
  *info = version;
  if (record_size != platform::kOsVersionInfoExSize) {
    info->suite_mask = 0;
    info->product_type = 0;
  }
  return true;
}

std::u16string FakeSystemInfo::MultiByteToWideChar(uint32_t code_page, const std::string& text) {
  // Bytes 0x80 to 0xBF of code page 1251 (from 0xC0: А to я), and 0x80 to
  // 0x9F of 1252 (from 0xA0: Latin-1).
  static const std::u16string k1251 =
      u"ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\x98™љ›њќћџ\xA0ЎўЈ¤Ґ¦§Ё©Є«¬\xAD®Ї°±Ііґµ¶·ё№є»јЅѕї";
  static const std::u16string k1252 = u"€\x81‚ƒ„…†‡ˆ‰Š‹Œ\x8DŽ\x8F\x90‘’“”•–—˜™š›œ\x9DžŸ";
  if (code_page == platform::kCpAcp) code_page = ansi_code_page;
  std::u16string wide;
  for (const char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      wide.push_back(byte);
    } else if (code_page == 1251) {
      wide.push_back(byte >= 0xC0 ? static_cast<char16_t>(u'А' + byte - 0xC0) : k1251[byte - 0x80]);
    } else {
      wide.push_back(byte >= 0xA0 ? byte : k1252[byte - 0x80]);
    }
  }
  return wide;
}

}  // namespace lexoria::testing
