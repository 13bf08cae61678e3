// Owners of the port's file-system handles, so that a handle is released on
// every path out of a scope, also when an exception leaves it.
#ifndef LEXORIA_PLATFORM_SCOPED_HANDLES_H_
#define LEXORIA_PLATFORM_SCOPED_HANDLES_H_

#include "platform/file_system.h"

namespace lexoria::platform {

// A file handle from FileSystem::CreateFileA (or kInvalidHandleValue),
// closed with CloseHandle when the owner ends. Move-only: one owner a handle.
class ScopedFile {
 public:
  ScopedFile(FileSystem& files, Handle file) : files_(&files), file_(file) {}
  ~ScopedFile() { Close(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ScopedFile(ScopedFile&& other) noexcept : files_(other.files_), file_(other.release()) {}
  ScopedFile& operator=(ScopedFile&& other) noexcept {
    if (this != &other) {
      Close();
      files_ = other.files_;
      file_ = other.release();
    }
    return *this;
  }

  Handle get() const { return file_; }
  bool valid() const { return file_ != kInvalidHandleValue; }
  // Closes the file now. Returns CloseHandle's result (true when there was
  // nothing to close): a close can report a write-behind failure.
  bool Close() {
    if (!valid()) return true;
    const Handle file = file_;
    file_ = kInvalidHandleValue;
    return files_->CloseHandle(file);
  }
  // Closes the file held so far, and holds `file` instead.
  void Reset(Handle file) {
    Close();
    file_ = file;
  }
  // Gives the handle up without closing it; the caller owns it.
  Handle release() {
    const Handle file = file_;
    file_ = kInvalidHandleValue;
    return file;
  }

 private:
  FileSystem* files_;
  Handle file_;
};

// A directory enumeration from FileSystem::FindFirstFileA (or
// kInvalidHandleValue), ended with FindClose when the owner ends.
class ScopedFind {
 public:
  ScopedFind(FileSystem& files, Handle find) : files_(files), find_(find) {}
  ~ScopedFind() {
    if (valid()) files_.FindClose(find_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;

  Handle get() const { return find_; }
  bool valid() const { return find_ != kInvalidHandleValue; }

 private:
  FileSystem& files_;
  Handle find_;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_SCOPED_HANDLES_H_
