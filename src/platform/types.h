// Opaque handle values and the few Win32 constants that the port's callers
// pass or branch on. The logic never includes windows.h: these keep the values
// of the platform, so a test can check that a call received exactly the
// arguments the real program passes.
#ifndef LEXORIA_PLATFORM_TYPES_H_
#define LEXORIA_PLATFORM_TYPES_H_

#include <cstdint>
#include <vector>

namespace lexoria::platform {

// A Win32 handle (HANDLE, HKEY, HWND, HMODULE, HRSRC...) carried as a number.
using Handle = std::uintptr_t;
using HKey = Handle;
using HWnd = Handle;

inline constexpr Handle kNullHandle = 0;
// INVALID_HANDLE_VALUE: what CreateFileA and FindFirstFileA return on failure.
inline constexpr Handle kInvalidHandleValue = ~Handle{0};

// A security identifier (SID) as its bytes, as long as GetLengthSid says.
using Sid = std::vector<uint8_t>;

// Win32 error codes (GetLastError, and the result of the registry calls).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorWriteFault = 29;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorCallNotImplemented = 120;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorUserMappedFile = 1224;
inline constexpr uint32_t kErrorNoSystemResources = 1450;
inline constexpr uint32_t kErrorNotAReparsePoint = 4390;

// WaitForSingleObject: the time ran out with the object not signalled.
inline constexpr uint32_t kWaitTimeout = 0x102;

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_TYPES_H_
