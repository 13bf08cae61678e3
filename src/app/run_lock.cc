#include "app/run_lock.h"

namespace lexoria {

namespace {

// The namespace and the mutex admit the system and the Administrators alone,
// with every right: a run opens what another made, whether either runs as
// the system account (a management tool) or as an elevated administrator.
constexpr char16_t kLockSecurity[] = u"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
// A namespace found can end before it is opened, with the run that made it:
// it is made or opened again, a few times.
constexpr int kNamespaceAttempts = 3;

}  // namespace

void RunLockDeleter::operator()(RunLock* lock) const { delete lock; }

RunLock::RunLock(platform::Processes& processes) : processes_(processes) {
  platform::SecurityAttributes security;
  security.security_descriptor = kLockSecurity;
  const char16_t* name = kRunLockMutex;
  platform::Handle boundary = processes_.CreateBoundaryDescriptorW(kRunLockBoundary, /*flags=*/0);
  if (boundary == platform::kNullHandle) {
    // Only a system without private namespaces falls back to the global
    // name, which a standard user could take first: no other failure does.
    if (processes_.GetLastError() != platform::kErrorProcNotFound) {
      Fail("CreateBoundaryDescriptorW");
      return;
    }
    name = kRunLockGlobalName;
  } else {
    const bool taken = TakeNamespace(&boundary, security);
    processes_.DeleteBoundaryDescriptor(boundary);
    if (!taken) return;
  }
  mutex_ = processes_.CreateMutexW(&security, /*initial_owner=*/false, name);
  if (mutex_ == platform::kNullHandle) {
    // Another object of the name, or a mutex that admits no administrator:
    // not a run's (see kLockSecurity), so no run in progress either.
    Fail("CreateMutexW");
    Release(/*destroy=*/false);
  } else if (processes_.GetLastError() == platform::kErrorAlreadyExists) {
    state_ = State::kAnotherRun;
    Release(/*destroy=*/false);
  } else {
    state_ = State::kHeld;
  }
}

RunLock::~RunLock() { Release(/*destroy=*/state_ == State::kHeld); }

bool RunLock::TakeNamespace(platform::Handle* boundary,
                            const platform::SecurityAttributes& security) {
  if (!processes_.AddSIDToBoundaryDescriptor(boundary, platform::kAdministratorsSid)) {
    Fail("AddSIDToBoundaryDescriptor");
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    namespace_ = processes_.CreatePrivateNamespaceW(&security, *boundary, kRunLockAlias);
    if (namespace_ != platform::kNullHandle) return true;
    if (processes_.GetLastError() != platform::kErrorAlreadyExists) {
      Fail("CreatePrivateNamespaceW");
      return false;
    }
    namespace_ = processes_.OpenPrivateNamespaceW(*boundary, kRunLockAlias);
    if (namespace_ != platform::kNullHandle) return true;
    if (attempt == kNamespaceAttempts) {
      Fail("OpenPrivateNamespaceW");
      return false;
    }
  }
}

void RunLock::Fail(const char* call) {
  failure_ = std::string(call) + " failed with error " + std::to_string(processes_.GetLastError());
}

void RunLock::Release(bool destroy) {
  if (namespace_ != platform::kNullHandle) {
    processes_.ClosePrivateNamespace(namespace_,
                                     destroy ? platform::kPrivateNamespaceFlagDestroy : 0);
    namespace_ = platform::kNullHandle;
  }
  if (mutex_ != platform::kNullHandle) {
    processes_.CloseHandle(mutex_);
    mutex_ = platform::kNullHandle;
  }
}

bool TakeRunLock(Services& s) {
  s.ctx.Lock.reset(new RunLock(s.os.processes));
  const RunLock& lock = *s.ctx.Lock;
  if (lock.state() == RunLock::State::kNotTaken) {
    s.ctx.Record.AddNote("The lock against another run of the setup could not be taken (" +
                         lock.failure() + "): this run went on without it.");
  }
  return lock.state() != RunLock::State::kAnotherRun;
}

}  // namespace lexoria
