// ScopeExit: runs a cleanup when a scope ends, on every way out of it, for
// the odd release that has no owner type of its own (scoped_handles.h and
// the adapter's unique_handles.h hold those).
#ifndef LEXORIA_PLATFORM_SCOPE_EXIT_H_
#define LEXORIA_PLATFORM_SCOPE_EXIT_H_

#include <utility>

namespace lexoria::platform {

// Runs `action` when the owner ends, unless Dismiss was called. `action`
// must not raise.
template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() {
    if (armed_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // The cleanup is not run after all.
  void Dismiss() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_SCOPE_EXIT_H_
