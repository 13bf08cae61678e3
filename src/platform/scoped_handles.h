// Owners of the port's handles, so that a handle is released on every path
// out of a scope, also when an exception leaves it. One type a kind of
// handle, each released through the call of the port that hands it out.
#ifndef LEXORIA_PLATFORM_SCOPED_HANDLES_H_
#define LEXORIA_PLATFORM_SCOPED_HANDLES_H_

#include "platform/app_link.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/gui.h"
#include "platform/processes.h"
#include "platform/registry.h"

namespace lexoria::platform {

// One handle of `Port`, or none (`kInvalid`), released with `Release` of
// the port when the owner ends or is given another. Move-only: one owner a
// handle. Not thread-safe; the port must outlive its owners.
template <typename Port, Handle kInvalid, bool (*Release)(Port&, Handle)>
class ScopedHandle {
 public:
  explicit ScopedHandle(Port& port, Handle handle = kInvalid) : port_(&port), handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : port_(other.port_), handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      port_ = other.port_;
      handle_ = other.release();
    }
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kInvalid; }
  // Releases the handle held, if any, and holds `handle` instead. Returns the
  // release's result, true when there was nothing to release: a file's close
  // can report a write-behind failure.
  bool reset(Handle handle = kInvalid) {
    const Handle held = handle_;
    handle_ = handle;
    return held == kInvalid || Release(*port_, held);
  }
  // Gives the handle up unreleased; the caller owns it.
  Handle release() {
    const Handle held = handle_;
    handle_ = kInvalid;
    return held;
  }

 private:
  Port* port_;
  Handle handle_;
};

namespace scoped_handles_internal {
inline bool CloseFile(FileSystem& files, Handle h) { return files.CloseHandle(h); }
inline bool CloseFind(FileSystem& files, Handle h) { return files.FindClose(h); }
inline bool CloseKey(Registry& registry, Handle h) {
  return registry.RegCloseKey(h) == static_cast<long>(kErrorSuccess);
}
inline bool CloseProcessHandle(Processes& processes, Handle h) { return processes.CloseHandle(h); }
inline bool CloseSaferLevel(Processes& processes, Handle h) { return processes.SaferCloseLevel(h); }
inline bool CloseMapping(AppLink& link, Handle h) { return link.CloseHandle(h); }
inline bool CloseThread(Gui& gui, Handle h) { return gui.CloseHandle(h); }
inline bool DeregisterSource(EventLog& log, Handle h) { return log.DeregisterEventSource(h); }
}  // namespace scoped_handles_internal

// A file or folder from FileSystem::CreateFileA or CreateFileW.
using ScopedFile =
    ScopedHandle<FileSystem, kInvalidHandleValue, scoped_handles_internal::CloseFile>;
// A directory enumeration from FileSystem::FindFirstFileA.
using ScopedFind =
    ScopedHandle<FileSystem, kInvalidHandleValue, scoped_handles_internal::CloseFind>;
// A registry key from Registry::RegOpenKeyExA or RegCreateKeyExA.
using ScopedKey = ScopedHandle<Registry, kNullHandle, scoped_handles_internal::CloseKey>;
// A process, thread or token handle of Processes (CreateProcessA,
// CreateProcessAsUserA, SaferComputeTokenFromLevel, CreateRestrictedToken).
using ScopedProcessHandle =
    ScopedHandle<Processes, kNullHandle, scoped_handles_internal::CloseProcessHandle>;
// A Safer level from Processes::SaferCreateLevel.
using ScopedSaferLevel =
    ScopedHandle<Processes, kNullHandle, scoped_handles_internal::CloseSaferLevel>;
// A named file mapping from AppLink::CreateFileMappingA.
using ScopedMapping = ScopedHandle<AppLink, kNullHandle, scoped_handles_internal::CloseMapping>;
// A thread from Gui::CreateThread.
using ScopedThread = ScopedHandle<Gui, kNullHandle, scoped_handles_internal::CloseThread>;
// An event source from EventLog::RegisterEventSourceW.
using ScopedEventSource =
    ScopedHandle<EventLog, kNullHandle, scoped_handles_internal::DeregisterSource>;

// Both handles of a started process.
struct ScopedProcessInformation {
  explicit ScopedProcessInformation(Processes& processes) : process(processes), thread(processes) {}
  // Takes over the handles of a successful start.
  void Own(const ProcessInformation& info) {
    process.reset(info.process);
    thread.reset(info.thread);
  }
  ScopedProcessHandle process;
  ScopedProcessHandle thread;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_SCOPED_HANDLES_H_
