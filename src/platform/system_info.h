// Facts about the running system and process (kernel32, user32; wtsapi32
// loaded for the session's facts only).
#ifndef LEXORIA_PLATFORM_SYSTEM_INFO_H_
#define LEXORIA_PLATFORM_SYSTEM_INFO_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace lexoria::platform {

// The OSVERSIONINFOEXA fields the setup reads.
struct OsVersionInfo {
  uint32_t major_version = 0;
  uint32_t minor_version = 0;
  uint32_t build_number = 0;
  uint32_t platform_id = 0;
  std::string csd_version;  // service-pack text, at most 127 bytes
  uint16_t suite_mask = 0;
  uint8_t product_type = 0;
};

// OsVersionInfo::platform_id (dwPlatformId): Windows 95, 98 and Me; the NT
// family.
inline constexpr uint32_t kVerPlatformWin32Windows = 1;
inline constexpr uint32_t kVerPlatformWin32Nt = 2;

inline constexpr uint32_t kOsVersionInfoExSize = 156;  // sizeof(OSVERSIONINFOEXA)
inline constexpr uint32_t kOsVersionInfoSize = 148;    // sizeof(OSVERSIONINFOA)

// SetErrorMode: no "There is no disk in the drive" box for the process, and
// no box when a file cannot be opened; the call fails with its error instead.
inline constexpr uint32_t kSemFailCriticalErrors = 0x0001;
inline constexpr uint32_t kSemNoOpenFileErrorBox = 0x8000;

// WideCharToMultiByte: the flag that keeps a character without an exact form
// in the code page from becoming a look-alike.
inline constexpr uint32_t kWcNoBestFitChars = 0x00000400;

// USEROBJECTFLAGS.dwFlags of a window station: its windows are on a screen
// somebody can see (WinSta0 of a user's session). A service's station lacks it.
inline constexpr uint32_t kWsfVisible = 0x0001;

// The code page of the system's ANSI texts (CP_ACP): paths, registry values
// and files' text as the ANSI calls read them.
inline constexpr uint32_t kCpAcp = 0;
// UTF-8, for the log file.
inline constexpr uint32_t kCpUtf8 = 65001;
// WTS_INFO_CLASS values of WTSQuerySessionInformationW answered with text,
// and the one answered with a number (WTS_CONNECTSTATE_CLASS).
inline constexpr uint32_t kWtsUserName = 5;
inline constexpr uint32_t kWtsDomainName = 7;
inline constexpr uint32_t kWtsConnectState = 8;
// WTS_CONNECTSTATE_CLASS: a user works at the session's screen (a console
// or a connected remote session); every other state has nobody there.
inline constexpr uint32_t kWtsActive = 0;

// The largest environment value Windows keeps, in characters.
inline constexpr uint32_t kEnvironmentBufferSize = 32767;

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;

  // The whole command line of the process, as Windows keeps it.
  virtual std::string GetCommandLineA() = 0;
  // The full path of the running executable (GetModuleFileNameW of no
  // module), empty on failure. Only the wide form names every path: the ANSI
  // one turns letters outside the ANSI code page (a Kazakh or Chinese folder
  // name) into '?', which names no file. The text is UTF-16, as WCHAR holds
  // it, and goes to FileSystem::CreateFileW unconverted.
  virtual std::u16string GetModuleFileNameW() = 0;
  // The value of an environment variable; `*found` false when it is not set.
  // A buffer of kEnvironmentBufferSize holds any value Windows keeps.
  // `buffer_size` is the buffer the caller would pass: a value that does not
  // fit yields found == true and the empty text, as the real call fails then.
  virtual std::string GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                              bool* found) = 0;
  // The text written into a buffer of `buffer_size` characters (up to its
  // first NUL), empty on failure.
  virtual std::string GetSystemDirectoryA(uint32_t buffer_size) = 0;
  virtual std::string GetWindowsDirectoryA(uint32_t buffer_size) = 0;

  virtual uint32_t GetUserDefaultLCID() = 0;

  // GetVersionExA with a record of `record_size` bytes (kOsVersionInfoExSize
  // or kOsVersionInfoSize); false when the platform refuses that size.
  virtual bool GetVersionExA(uint32_t record_size, OsVersionInfo* info) = 0;
  // True when kernel32 exports GetNativeSystemInfo.
  virtual bool HasGetNativeSystemInfo() = 0;
  // wProcessorArchitecture of GetNativeSystemInfo / GetSystemInfo.
  virtual uint16_t GetNativeSystemInfoArchitecture() = 0;
  virtual uint16_t GetSystemInfoArchitecture() = 0;
  virtual int GetSystemMetrics(int index) = 0;
  // USEROBJECTFLAGS.dwFlags of the process's window station
  // (GetUserObjectInformationA of GetProcessWindowStation, UOI_FLAGS); false
  // when it cannot be read.
  virtual bool GetProcessWindowStationFlags(uint32_t* flags) = 0;
  // The Remote Desktop Services session of the running process
  // (ProcessIdToSessionId of GetCurrentProcessId); false on failure.
  virtual bool ProcessIdToSessionId(uint32_t* session_id) = 0;
  // A text fact of the process's own session (WTSQuerySessionInformationW of
  // WTS_CURRENT_SERVER_HANDLE and WTS_CURRENT_SESSION) for a class answered
  // with text (kWtsUserName, kWtsDomainName), as UTF-16 up to its NUL. False
  // when wtsapi32 or the function is missing or the query fails.
  virtual bool WTSQuerySessionInformationW(uint32_t info_class, std::u16string* text) = 0;
  // The same for a class answered with a number (kWtsConnectState).
  virtual bool WTSQuerySessionInformationW(uint32_t info_class, uint32_t* number) = 0;
  // Sets the process's error mode; returns the mode it had before.
  virtual uint32_t SetErrorMode(uint32_t mode) = 0;
  // WideCharToMultiByte of the whole of `text` into `code_page` with `flags`;
  // `*used_default_char` tells whether a character had no form there and was
  // replaced (lpUsedDefaultChar). Into UTF-8 (kCpUtf8, or kCpAcp where the
  // system's code page is 65001) the flags are left out, as Windows refuses
  // any there, and `*used_default_char` tells of a surrogate without its
  // pair, which becomes U+FFFD. False when the conversion fails.
  virtual bool WideCharToMultiByte(uint32_t code_page, uint32_t flags, const std::u16string& text,
                                   std::string* out, bool* used_default_char) = 0;
  // OemToCharBuffA over the whole of a copy, NUL bytes included: the same
  // length, OEM to ANSI code page.
  virtual std::string OemToCharBuffA(const std::string& text) = 0;
  // The system's text for the error `error` (FormatMessageW of the system's
  // messages, no inserts), in English where the system has it, else in its
  // own language, without the line break it ends in. False when the system
  // has no text for it.
  virtual bool FormatMessageW(uint32_t error, std::u16string* text) = 0;
  // MultiByteToWideChar with no flags over the whole of `text`: the text of
  // `code_page` (kCpAcp, or a code page's number, such as 1251) as UTF-16. A
  // byte the code page lacks becomes the system's default character. Empty
  // for empty text, and on failure (a code page the system does not have).
  virtual std::u16string MultiByteToWideChar(uint32_t code_page, const std::string& text) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_SYSTEM_INFO_H_
