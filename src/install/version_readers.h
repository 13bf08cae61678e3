// Where each kind of Lexoria data file keeps its version, and the comparison
// of dotted version texts. Readers never fail towards their caller: a
// missing or unreadable file yields 0 or the empty text.
#ifndef LEXORIA_INSTALL_VERSION_READERS_H_
#define LEXORIA_INSTALL_VERSION_READERS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/services.h"
#include "platform/file_system.h"
#include "platform/system_info.h"
#include "platform/version_api.h"

namespace lexoria {

// Bytes 6-7 (little-endian, unsigned) of a "pak" file; 0 when missing,
// held open for writing, short or unreadable, or a link (a link at the name
// is opened as itself, never followed). Opens sharing reading only.
int32_t ReadPakVersion(platform::FileSystem& files, const std::string& path);
// Bytes 5-6 of a "cok" file.
int32_t ReadCokVersion(platform::FileSystem& files, const std::string& path);
// Byte 6 of a "3bs" file.
int32_t Read3bsVersion(platform::FileSystem& files, const std::string& path);
// The integer on the line after the "[langver]" header of a language-support
// file; 0 silently for a missing file, 0 after one error box for a file that
// cannot be read or whose value does not convert.
int32_t ReadLngVersion(Services& s, const std::string& path);
// The FileVersion text of the first translation of an executable's version
// resource; empty when there is none.
std::string ReadExeFileVersion(platform::VersionApi& versions, const std::string& path);
// The same fields read from a file's content in memory: the version of a
// file about to be written, taken from the bytes it is written from.
// Bytes 6-7 of a "pak", 5-6 of a "cok", byte 6 of a "3bs"; 0 when `size` ends
// before the field.
int32_t PakVersionOf(const uint8_t* data, size_t size);
int32_t CokVersionOf(const uint8_t* data, size_t size);
int32_t Bs3VersionOf(const uint8_t* data, size_t size);
// The "[langver]" value of a language-support file's content; `path` names
// it in the one error box shown when the value does not convert (then 0).
int32_t LngVersionOf(Services& s, const uint8_t* data, size_t size, const std::string& path);
// The FileVersion text of the first translation of the version resource of
// an executable's image in memory, converted to the system's code page as
// VerQueryValueA converts it; empty when the image is no executable or has
// no such text (a damaged image included: every offset is checked).
std::string ExeFileVersionOf(platform::SystemInfo& system, const uint8_t* data, size_t size);

// The versions of a file about to be written (from the bytes it is written
// from, `data`) and of the installed one at `target_path`, as the type keeps
// them ("pak", "3bs", "cok", "lng": numbers; "exe": FileVersion texts).
struct VersionCheck {
  bool older = false;    // the new one is older: equal versions are not
  bool numeric = false;  // the type keeps a number (all but "exe")
  int32_t new_version = 0;
  int32_t installed_version = 0;
  std::string new_text;  // as the older-version question shows them
  std::string installed_text;
};
// Reads the new version first, then the installed one. An installed "exe"
// without a FileVersion, or with the same text, is not older; a language
// file with "!" in its path is not compared at all. `new_path` names the
// new file in the language file's error box.
VersionCheck CompareVersions(Services& s, const std::string& type, const uint8_t* data, size_t size,
                             const std::string& new_path, const std::string& target_path);
// The version field of `data` for the types that keep a number; -1 for
// the others.
int32_t VersionOfContent(Services& s, const std::string& type, const uint8_t* data, size_t size,
                         const std::string& new_path);

// True when version text `first` is judged older than `second`.
bool IsVersionOlder(const std::string& first, const std::string& second);

// The strict integer conversion: optional leading blanks, an optional sign,
// decimal digits, or a hexadecimal number of up to eight digits after "$",
// "x" or "0x" taken as a 32-bit pattern. Anything else (trailing blanks, an
// empty text, a decimal value outside the 32-bit signed range) fails.
std::optional<int32_t> StrToIntStrict(const std::string& text);

}  // namespace lexoria

#endif  // LEXORIA_INSTALL_VERSION_READERS_H_
