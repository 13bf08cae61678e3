// kernel32 and user32 facts about the system and the process; wtsapi32's
// about its session, loaded from the system directory when asked (it is no
// KnownDLL, and only the setup's own start of Lexoria needs it).
#include <windows.h>
// windows.h first: wtsapi32.h builds on its types.
#include <wtsapi32.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"

namespace lexoria::platform::win32 {

namespace {

bool HasUnpairedSurrogate(const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const bool high = text[i] >= 0xD800 && text[i] < 0xDC00;
    const bool low = text[i] >= 0xDC00 && text[i] < 0xE000;
    if (low) return true;
    if (high && (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000)) {
      return true;
    }
    if (high) ++i;
  }
  return false;
}

class Win32SystemInfo final : public SystemInfo {
 public:
  std::string GetCommandLineA() override {
    const char* line = ::GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
  }
  std::u16string GetModuleFileNameW() override {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
      const DWORD n = ::GetModuleFileNameW(/*hModule=*/nullptr, buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
      if (n == 0) return {};
      if (n < buffer.size()) {
        return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), n);
      }
      if (buffer.size() >= 32768) return {};
      buffer.resize(buffer.size() * 2);
    }
  }
  std::string GetEnvironmentVariableA(const std::string& name, uint32_t buffer_size,
                                      bool* found) override {
    std::vector<char> buffer(buffer_size + 1, '\0');
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), buffer_size);
    if (n == 0) {
      *found = ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
      return {};
    }
    *found = true;
    if (n >= buffer_size) return {};  // did not fit: the call filled nothing
    return std::string(buffer.data(), n);
  }
  std::string GetSystemDirectoryA(uint32_t buffer_size) override {
    std::vector<char> buffer(buffer_size + 1, '\0');
    const UINT n = ::GetSystemDirectoryA(buffer.data(), buffer_size);
    if (n == 0 || n >= buffer_size) return {};
    return std::string(buffer.data());
  }
  std::string GetWindowsDirectoryA(uint32_t buffer_size) override {
    std::vector<char> buffer(buffer_size + 1, '\0');
    const UINT n = ::GetWindowsDirectoryA(buffer.data(), buffer_size);
    if (n == 0 || n >= buffer_size) return {};
    return std::string(buffer.data());
  }
  uint32_t GetUserDefaultLCID() override { return ::GetUserDefaultLCID(); }
  bool GetVersionExA(uint32_t record_size, OsVersionInfo* info) override {
    OSVERSIONINFOEXA record;
    ::ZeroMemory(&record, sizeof(record));
    record.dwOSVersionInfoSize = record_size;
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record))) return false;
    info->major_version = record.dwMajorVersion;
    info->minor_version = record.dwMinorVersion;
    info->build_number = record.dwBuildNumber;
    info->platform_id = record.dwPlatformId;
    record.szCSDVersion[sizeof(record.szCSDVersion) - 1] = '\0';
    info->csd_version = record.szCSDVersion;
    if (record_size >= sizeof(OSVERSIONINFOEXA)) {
      info->suite_mask = record.wSuiteMask;
      info->product_type = record.wProductType;
    } else {
      info->suite_mask = 0;
      info->product_type = 0;
    }
    return true;
  }
  bool HasGetNativeSystemInfo() override { return NativeSystemInfo() != nullptr; }
  uint16_t GetNativeSystemInfoArchitecture() override {
    SYSTEM_INFO info;
    ::ZeroMemory(&info, sizeof(info));
    if (auto native = NativeSystemInfo()) native(&info);
    return info.wProcessorArchitecture;
  }
  uint16_t GetSystemInfoArchitecture() override {
    SYSTEM_INFO info;
    ::ZeroMemory(&info, sizeof(info));
    ::GetSystemInfo(&info);
    return info.wProcessorArchitecture;
  }
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }
  bool GetProcessWindowStationFlags(uint32_t* flags) override {
    USEROBJECTFLAGS object_flags;
    ::ZeroMemory(&object_flags, sizeof(object_flags));
    DWORD needed = 0;
    const HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr || !::GetUserObjectInformationA(station, UOI_FLAGS, &object_flags,
                                                           sizeof(object_flags), &needed)) {
      return false;
    }
    *flags = object_flags.dwFlags;
    return true;
  }
  bool ProcessIdToSessionId(uint32_t* session_id) override {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return false;
    *session_id = session;
    return true;
  }
  bool WTSQuerySessionInformationW(uint32_t info_class, std::u16string* text) override {
    std::vector<BYTE> answer;
    if (!QueryOwnSession(static_cast<WTS_INFO_CLASS>(info_class), &answer)) return false;
    std::u16string value(answer.size() / sizeof(char16_t), u'\0');
    if (!value.empty()) std::memcpy(value.data(), answer.data(), value.size() * sizeof(char16_t));
    *text = value.substr(0, value.find(u'\0'));
    return true;
  }
  bool WTSQuerySessionInformationW(uint32_t info_class, uint32_t* number) override {
    std::vector<BYTE> answer;
    if (!QueryOwnSession(static_cast<WTS_INFO_CLASS>(info_class), &answer) ||
        answer.size() < sizeof(DWORD)) {
      return false;
    }
    DWORD value = 0;
    std::memcpy(&value, answer.data(), sizeof(value));
    *number = value;
    return true;
  }
  uint32_t SetErrorMode(uint32_t mode) override { return ::SetErrorMode(mode); }
  bool WideCharToMultiByte(uint32_t code_page, uint32_t flags, const std::u16string& text,
                           std::string* out, bool* used_default_char) override {
    out->clear();
    *used_default_char = false;
    if (text.empty()) return true;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    // UTF-8 (asked for, or the system's ANSI code page where Windows is set
    // to it) takes no flags and no lpUsedDefaultChar: Windows fails the call
    // with either (Wine does not). Every character has its exact form there;
    // only a surrogate without its pair is replaced, by U+FFFD, untold.
    const bool utf8 = code_page == CP_UTF8 || (code_page == CP_ACP && ::GetACP() == CP_UTF8);
    BOOL used = FALSE;
    BOOL* const used_out = utf8 ? nullptr : &used;
    if (utf8) flags = 0;
    const int needed = ::WideCharToMultiByte(code_page, flags, wide, length, nullptr, 0,
                                             /*lpDefaultChar=*/nullptr, used_out);
    if (needed <= 0) return false;
    out->resize(static_cast<size_t>(needed));
    used = FALSE;
    if (::WideCharToMultiByte(code_page, flags, wide, length, out->data(), needed,
                              /*lpDefaultChar=*/nullptr, used_out) != needed) {
      out->clear();
      return false;
    }
    *used_default_char = utf8 ? HasUnpairedSurrogate(text) : used != FALSE;
    return true;
  }
  std::string OemToCharBuffA(const std::string& text) override {
    std::string result(text);
    // The ANSI form converts in place when source and target are one buffer.
    if (!result.empty()) {
      ::OemToCharBuffA(result.data(), result.data(), static_cast<DWORD>(result.size()));
    }
    return result;
  }
  bool FormatMessageW(uint32_t error, std::u16string* text) override {
    wchar_t buffer[1024];
    DWORD length = 0;
    // English first: the record and the log are written in English.
    for (const DWORD language : {static_cast<DWORD>(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
                                 static_cast<DWORD>(0)}) {
      length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                /*lpSource=*/nullptr, error, language, buffer,
                                static_cast<DWORD>(sizeof(buffer) / sizeof(buffer[0])),
                                /*Arguments=*/nullptr);
      if (length != 0) break;
    }
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' ')) {
      --length;
    }
    if (length == 0) return false;
    text->assign(reinterpret_cast<const char16_t*>(buffer), length);
    return true;
  }
  std::u16string MultiByteToWideChar(uint32_t code_page, const std::string& text) override {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16 on Windows");
    // The call refuses an empty text; the record's texts are far below 2 GiB.
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(code_page, /*dwFlags=*/0, text.data(), length,
                                             /*lpWideCharStr=*/nullptr, /*cchWideChar=*/0);
    if (needed <= 0) return {};
    std::u16string wide(static_cast<size_t>(needed), u'\0');
    const int written = ::MultiByteToWideChar(code_page, /*dwFlags=*/0, text.data(), length,
                                              reinterpret_cast<wchar_t*>(wide.data()), needed);
    if (written <= 0) return {};
    wide.resize(static_cast<size_t>(written));
    return wide;
  }

 private:
  using NativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  // A fact of the process's own session as the bytes the query hands out,
  // copied before wtsapi32's buffer is freed: a text class's WCHARs with
  // their NUL, or a number class's DWORD (WTSConnectState).
  static bool QueryOwnSession(WTS_INFO_CLASS info_class, std::vector<BYTE>* answer) {
    const auto query = SystemFunction<decltype(&::WTSQuerySessionInformationW)>(
        "wtsapi32.dll", "WTSQuerySessionInformationW");
    const auto free_memory =
        SystemFunction<decltype(&::WTSFreeMemory)>("wtsapi32.dll", "WTSFreeMemory");
    if (query == nullptr || free_memory == nullptr) return false;
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, info_class, &buffer, &bytes)) {
      return false;
    }
    const std::unique_ptr<WCHAR, decltype(free_memory)> owned(buffer, free_memory);
    const BYTE* first = reinterpret_cast<const BYTE*>(buffer);
    if (buffer != nullptr) answer->assign(first, first + bytes);
    return buffer != nullptr;
  }
  static NativeSystemInfoFn NativeSystemInfo() {
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    return reinterpret_cast<NativeSystemInfoFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetNativeSystemInfo")));
  }
};

}  // namespace

std::unique_ptr<SystemInfo> MakeSystemInfo() { return std::make_unique<Win32SystemInfo>(); }

}  // namespace lexoria::platform::win32
