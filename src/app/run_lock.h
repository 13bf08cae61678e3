// One run of the setup at a time on the whole machine, in every session: the
// lock a run takes before it changes anything, held to its end.
#ifndef LEXORIA_APP_RUN_LOCK_H_
#define LEXORIA_APP_RUN_LOCK_H_

#include <string>

#include "base/services.h"
#include "platform/processes.h"

namespace lexoria {

// Where the system has private namespaces (Windows Vista on), the lock is the
// mutex kRunLockMutex in the namespace kRunLockAlias of the boundary
// kRunLockBoundary with the Administrators group, which only a member of that
// group can make, and whose security lets only the system and the
// Administrators in: a standard user cannot take the name first and hold
// every update off. Where it has none (Windows XP and Server 2003; Wine),
// the mutex has the global name kRunLockGlobalName, which any user of the
// machine could take first there.
inline constexpr char16_t kRunLockBoundary[] = u"LexoriaUpdate";
inline constexpr char16_t kRunLockAlias[] = u"LexoriaUpdate";
inline constexpr char16_t kRunLockMutex[] = u"LexoriaUpdate\\OneRun";
inline constexpr char16_t kRunLockGlobalName[] = u"Global\\LexoriaUpdate.OneRun";

class RunLock {
 public:
  enum class State {
    kHeld,        // this run holds the lock until the owner ends
    kAnotherRun,  // another run holds it: this one may change nothing
    kNotTaken,    // a call failed: the lock keeps no other run off
  };

  // Takes the lock through `processes`, which must outlive the owner; returns
  // at once in every state. Only a held lock keeps its handles: the mutex of
  // another run ends with that run, not with the runs that found it.
  explicit RunLock(platform::Processes& processes);
  // Releases a held lock: the namespace first, ended for every process, then
  // the mutex, so that no later run finds the namespace without it.
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  State state() const { return state_; }
  // For kNotTaken: the call that failed and its error, in ASCII
  // ("CreateMutexW failed with error 1450").
  const std::string& failure() const { return failure_; }

 private:
  // Adds the Administrators to `*boundary`, then makes its namespace or
  // opens the one there is; false after Fail.
  bool TakeNamespace(platform::Handle* boundary, const platform::SecurityAttributes& security);
  // Notes that `call` failed, with the last error: the state stays kNotTaken.
  void Fail(const char* call);
  // Closes the handles taken (ending the namespace with `destroy`).
  void Release(bool destroy);

  platform::Processes& processes_;
  State state_ = State::kNotTaken;
  std::string failure_;
  platform::Handle namespace_ = platform::kNullHandle;
  platform::Handle mutex_ = platform::kNullHandle;
};

// Takes the lock for this run into ctx.Lock, held until the context ends with
// the run. False when another run holds it: this run may change nothing.
// Where it cannot be taken for another reason the run goes on without it, as
// every run did before there was one, and ctx.Record notes the failed call:
// true. REQUIRES: the process's token is an administrator's.
bool TakeRunLock(Services& s);

}  // namespace lexoria

#endif  // LEXORIA_APP_RUN_LOCK_H_
