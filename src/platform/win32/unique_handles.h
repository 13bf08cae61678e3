// Owners of the adapter's own Win32 handles and allocations: one move-only
// type a kind, each with the invalid value and the release its kind has, so
// that every path out of a call, a failure included, releases what it got.
#ifndef LEXORIA_PLATFORM_WIN32_UNIQUE_HANDLES_H_
#define LEXORIA_PLATFORM_WIN32_UNIQUE_HANDLES_H_

#include <windows.h>

namespace lexoria::platform::win32 {

// One `Traits::Type`, or Traits::Invalid(), released with Traits::Release.
// The release keeps the thread's last error: an owner that ends right after
// a failed call leaves its error for the caller to read.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() = default;
  explicit UniqueResource(Type value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }
  // Releases what is held, if anything, and holds `value` instead.
  void reset(Type value = Traits::Invalid()) {
    const Type held = value_;
    value_ = value;
    if (held != Traits::Invalid()) {
      const DWORD error = ::GetLastError();
      Traits::Release(held);
      ::SetLastError(error);
    }
  }
  // Gives it up unreleased; the caller owns it.
  Type release() {
    const Type held = value_;
    value_ = Traits::Invalid();
    return held;
  }
  // For a call that hands one out through a pointer. REQUIRES: empty.
  Type* put() { return &value_; }

 private:
  Type value_ = Traits::Invalid();
};

namespace unique_handles_internal {
template <typename T, BOOL(WINAPI* kRelease)(T)>
struct NullInvalid {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Release(Type value) { kRelease(value); }
};
struct FileTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Type value) { ::CloseHandle(value); }
};
struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Type value) { ::FindClose(value); }
};
struct KeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Release(Type value) { ::RegCloseKey(value); }
};
struct ViewTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Release(Type value) { ::UnmapViewOfFile(value); }
};
struct LocalTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Release(Type value) { ::LocalFree(value); }
};
struct SidTraits {
  using Type = PSID;
  static Type Invalid() { return nullptr; }
  static void Release(Type value) { ::FreeSid(value); }
};
}  // namespace unique_handles_internal

// A kernel object whose failure value is null: a process, thread, token,
// file mapping (CloseHandle).
using UniqueHandle = UniqueResource<unique_handles_internal::NullInvalid<HANDLE, &::CloseHandle>>;
// A file or folder from CreateFile (INVALID_HANDLE_VALUE on failure).
using UniqueFile = UniqueResource<unique_handles_internal::FileTraits>;
// A directory enumeration from FindFirstFile.
using UniqueFind = UniqueResource<unique_handles_internal::FindTraits>;
// A registry key from RegOpenKeyEx or RegCreateKeyEx.
using UniqueKey = UniqueResource<unique_handles_internal::KeyTraits>;
// A module loaded at run time (FreeLibrary).
using UniqueModule = UniqueResource<unique_handles_internal::NullInvalid<HMODULE, &::FreeLibrary>>;
// A view of a file mapping (UnmapViewOfFile).
using UniqueView = UniqueResource<unique_handles_internal::ViewTraits>;
// Memory the system handed out with LocalAlloc (a converted security
// descriptor, GetSecurityInfo's), freed with LocalFree.
using UniqueLocal = UniqueResource<unique_handles_internal::LocalTraits>;
// A SID from AllocateAndInitializeSid (FreeSid).
using UniqueSid = UniqueResource<unique_handles_internal::SidTraits>;

}  // namespace lexoria::platform::win32

#endif  // LEXORIA_PLATFORM_WIN32_UNIQUE_HANDLES_H_
