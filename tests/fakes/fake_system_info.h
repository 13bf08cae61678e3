// System and process facts, set by the test.
#ifndef LEXORIA_TESTS_FAKES_FAKE_SYSTEM_INFO_H_
#define LEXORIA_TESTS_FAKES_FAKE_SYSTEM_INFO_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_utf.h"
#include "platform/system_info.h"

namespace lexoria::testing {

class FakeSystemInfo final : public platform::SystemInfo {
 public:
  std::string command_line = "\"C:\\Users\\u\\Downloads\\lexoria-update.exe\"";
  // UTF-8, as the fake file system names files for the wide calls.
  std::string module_path = "C:\\Users\\u\\Downloads\\lexoria-update.exe";
  std::map<std::string, std::string> environment = {{"TEMP", "C:\\Users\\u\\Temp"},
                                                    {"COMSPEC", "C:\\Windows\\system32\\cmd.exe"}};
  std::string system_dir = "C:\\Windows\\system32";
  std::string windows_dir = "C:\\Windows";
  uint32_t lcid = 0x0409;
  // The version query: 64-bit Windows 10 as a program without a supported-OS
  // manifest sees it.
  platform::OsVersionInfo version{6, 2, 9200, 2, "", 0x0100, 1};
  bool extended_version_fails = false;
  bool plain_version_fails = false;
  bool has_native_system_info = true;
  uint16_t native_architecture = 9;
  uint16_t architecture = 0;
  std::map<int, int> metrics;

  std::string GetCommandLineA() override { return command_line; }
  std::u16string GetModuleFileNameW() override { return Utf8ToUtf16(module_path); }
  std::string GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                      bool* found) override;
  std::string GetSystemDirectoryA(uint32_t buffer_size) override {
    return system_dir.size() < buffer_size ? system_dir : std::string();
  }
  std::string GetWindowsDirectoryA(uint32_t buffer_size) override {
    return windows_dir.size() < buffer_size ? windows_dir : std::string();
  }
  uint32_t GetUserDefaultLCID() override { return lcid; }
  bool GetVersionExA(uint32_t record_size, platform::OsVersionInfo* info) override;
  bool HasGetNativeSystemInfo() override { return has_native_system_info; }
  uint16_t GetNativeSystemInfoArchitecture() override { return native_architecture; }
  uint16_t GetSystemInfoArchitecture() override { return architecture; }
  int GetSystemMetrics(int index) override {
    auto it = metrics.find(index);
    return it == metrics.end() ? 0 : it->second;
  }
  // A user's window station (visible) and session; unset: the query fails.
  std::optional<uint32_t> window_station_flags = platform::kWsfVisible, session_id = 1;
  bool GetProcessWindowStationFlags(uint32_t* flags) override {
    return window_station_flags && (*flags = *window_station_flags, true);
  }
  bool ProcessIdToSessionId(uint32_t* session) override {
    return session_id && (*session = *session_id, true);
  }
  // The session's text facts by class (the user "u" of the computer "PC");
  // a class not here fails the query.
  std::map<uint32_t, std::u16string> session_texts = {{platform::kWtsUserName, u"u"},
                                                      {platform::kWtsDomainName, u"PC"}};
  bool WTSQuerySessionInformationW(uint32_t info_class, std::u16string* text) override {
    const auto it = session_texts.find(info_class);
    return it != session_texts.end() && (*text = it->second, true);
  }
  // The session's connection state; unset: the query fails.
  std::optional<uint32_t> connect_state = platform::kWtsActive;
  bool WTSQuerySessionInformationW(uint32_t info_class, uint32_t* number) override {
    return info_class == platform::kWtsConnectState && connect_state &&
           (*number = *connect_state, true);
  }
  // The process's error mode, every SetErrorMode argument, and a hook run at
  // each call (to see what the program had done before it).
  uint32_t error_mode = 0;
  std::vector<uint32_t> error_modes_set;
  std::function<void()> on_set_error_mode;
  uint32_t SetErrorMode(uint32_t mode) override {
    if (on_set_error_mode) on_set_error_mode();
    error_modes_set.push_back(mode);
    const uint32_t previous = error_mode;
    error_mode = mode;
    return previous;
  }
  // WideCharToMultiByte: the inverse of MultiByteToWideChar below (the
  // fakes' code pages, fake_utf.h); a unit without a byte there becomes the
  // default character "?".
  bool WideCharToMultiByte(uint32_t code_page, uint32_t /*flags*/, const std::u16string& text,
                           std::string* out, bool* used_default_char) override {
    *used_default_char = !Utf16ToAnsi(text, code_page ? code_page : ansi_code_page, out);
    return true;
  }
  // OemToCharBuffA: without a hook the text is kept (test texts are ASCII or
  // already ANSI); a hook stands for a real code-page conversion.
  std::function<std::string(const std::string&)> oem_to_char;
  std::vector<std::string> oem_to_char_inputs;
  std::string OemToCharBuffA(const std::string& text) override {
    oem_to_char_inputs.push_back(text);
    return oem_to_char ? oem_to_char(text) : text;
  }
  // The system's texts of the errors the tests meet; another has none.
  std::map<uint32_t, std::u16string> messages = {
      {2, u"The system cannot find the file specified."},
      {5, u"Access is denied."},
      {32, u"The process cannot access the file because it is being used by another process."},
      {112, u"There is not enough space on the disk."}};
  bool FormatMessageW(uint32_t error, std::u16string* text) override {
    auto it = messages.find(error);
    if (it == messages.end()) return false;
    *text = it->second;
    return true;
  }
  // MultiByteToWideChar, kCpAcp being ansi_code_page, in the fakes' code
  // pages (fake_utf.h).
  uint32_t ansi_code_page = 1251;
  std::u16string MultiByteToWideChar(uint32_t code_page, const std::string& text) override {
    return AnsiToUtf16(text, code_page ? code_page : ansi_code_page);
  }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_SYSTEM_INFO_H_
