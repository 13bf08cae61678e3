// Process start and shell services, recorded, with the results set by the
// test and hooks that let a started program "come up" in the other fakes.
#ifndef LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
#define LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/processes.h"

namespace lexoria::testing {

class FakeProcesses final : public platform::Processes {
 public:
  struct ShellExecuteCall {
    std::string operation;
    std::string file;
    std::string parameters;
    std::string directory;
    int show_command;
    std::string current_directory;  // the process's current directory then
  };
  struct CreateProcessCall {
    std::string application;
    std::string command_line;
    uint32_t creation_flags;
    platform::StartupInfo startup;
    // CreateProcessAsUserA's: what its token was made as, and its directory.
    std::string token;
    std::string current_directory;
    // The standard output the child has: startup.std_output where the child
    // uses its standard handles and inherits that one, else none.
    platform::Handle child_output = platform::kInvalidHandleValue;
  };
  struct WaitCall {
    platform::Handle handle;
    uint32_t milliseconds;
  };

  bool is_admin = true;
  bool is_local_system = false;
  // The token's user and the accounts there are; unset or missing: fails.
  std::optional<platform::Sid> token_user = platform::Sid{1, 1, 0, 0, 0, 0, 0, 5, 0xE9, 3, 0, 0};
  std::map<std::u16string, platform::Sid> accounts = {{u"PC\\u", *token_user}};

  // The desktop shell: whether it answers ShellExecuteOnDesktop, and a hook
  // run after each start it takes (only kStarted starts the file); every
  // call is recorded, a refused one included. shell_execute_result at 32 or
  // below stands for a shell that took the call and could not start it.
  uintptr_t shell_execute_result = 42;
  platform::DesktopShellResult desktop_shell = platform::DesktopShellResult::kStarted;
  bool desktop_shell_throws = false;  // the call raises before the shell's start
  std::function<void(const ShellExecuteCall&)> on_shell_execute;
  std::vector<ShellExecuteCall> shell_calls;
  std::vector<std::string> shell_executed;  // the files some shell took

  // The current directory, and every SetCurrentDirectoryA argument.
  std::string current_directory = "C:\\Users\\u\\Downloads";
  bool set_current_directory_fails = false;
  std::vector<std::string> current_directories;

  // CreateProcessA fails unless `process_starts` is set; then the hook runs
  // (to stage what the process does) and two handles are handed out. A
  // child inherits the handles `is_inheritable` says (none without it).
  bool process_starts = false;
  std::function<void(const CreateProcessCall&)> on_create_process;
  std::function<bool(platform::Handle)> is_inheritable;
  std::vector<CreateProcessCall> create_process_calls;
  // SaferComputeTokenFromLevel fails when asked; CreateProcessAsUserA, with
  // CreateProcessA's record and hook, fails with `as_user_error` if it is set.
  bool safer_token_fails = false;
  // Safer hands out a handle that is no token (Wine's stub); a restricted
  // token cannot be made.
  bool safer_token_unusable = false, restricted_token_fails = false;
  // Tokens are at the high level, the setup's. Windows XP has no levels:
  // asking for one, or setting it, fails with ERROR_INVALID_PARAMETER. Else
  // reading or setting a level fails with its error when that is set.
  bool no_integrity_levels = false;
  uint32_t integrity_read_error = platform::kErrorSuccess;
  uint32_t integrity_set_error = platform::kErrorSuccess;
  uint32_t as_user_error = platform::kErrorSuccess;
  uint32_t wait_result = platform::kWaitObject0;
  std::vector<WaitCall> waits;
  std::vector<platform::Handle> terminated;  // TerminateProcess arguments
  int bad_closes = 0;                        // CloseHandle on a handle that was not open

  // Private namespaces and mutexes, shared by the processes a test plays:
  // `process` is the caller (1, the setup; 2, another run or a squatter) and
  // `token_groups` its token's groups. A namespace is its alias and its
  // boundary (name and SIDs), ended by its last handle or a close that
  // destroys it; the alias names it only in the processes that made or
  // opened it. One whose boundary holds a SID the token lacks is refused, as
  // on Windows; its security is not checked: anyone may open it. A mutex
  // lives while a handle to it is open; a name "X\..." is no mutex's unless
  // X is Global, Local or such an alias. Windows XP (no_private_namespaces)
  // lacks the namespace calls; the next CreatePrivateNamespaceW or
  // CreateMutexW fails with its error when set.
  int process = 1;
  std::vector<platform::Sid> token_groups = {platform::kAdministratorsSid};
  bool no_private_namespaces = false;
  uint32_t namespace_error = platform::kErrorSuccess;
  uint32_t mutex_error = platform::kErrorSuccess;

  // Handles, boundary descriptors and Safer levels still open.
  size_t OpenHandles() const {
    return open_handles_.size() + levels_.size() + boundaries_.size() + namespace_handles_.size();
  }

  bool IsUserAnAdmin() override { return is_admin; }
  bool IsLocalSystem() override { return is_local_system; }
  bool GetProcessTokenUser(platform::Sid* sid) override {
    return token_user && (*sid = *token_user, true);
  }
  bool LookupAccountNameW(const std::u16string& name, platform::Sid* sid) override {
    const auto it = accounts.find(name);
    return it != accounts.end() && (*sid = it->second, true);
  }
  bool LookupAccountSidW(const platform::Sid& sid, std::u16string* name) override {
    for (const auto& [account, its_sid] : accounts) {
      if (its_sid == sid) return *name = account, true;
    }
    return false;
  }
  bool EqualSid(const platform::Sid& a, const platform::Sid& b) override { return a == b; }
  platform::DesktopShellResult ShellExecuteOnDesktop(const std::string& operation,
                                                     const std::string& file,
                                                     const std::string& parameters,
                                                     const std::string& directory,
                                                     int show_command) override {
    shell_calls.push_back(
        ShellExecuteCall{operation, file, parameters, directory, show_command, current_directory});
    if (desktop_shell_throws) throw std::runtime_error("COM failure");
    if (desktop_shell != platform::DesktopShellResult::kStarted) return desktop_shell;
    shell_executed.push_back(file);
    if (shell_execute_result > 32 && on_shell_execute) on_shell_execute(shell_calls.back());
    return desktop_shell;
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    current_directories.push_back(path);
    if (set_current_directory_fails) return false;
    current_directory = path;
    return true;
  }
  bool CreateProcessA(const std::string& application, const std::string& command_line,
                      bool inherit_handles, uint32_t creation_flags,
                      const platform::StartupInfo& startup,
                      platform::ProcessInformation* info) override {
    const bool inherited = inherit_handles && (startup.flags & platform::kStartfUseStdHandles) &&
                           is_inheritable && is_inheritable(startup.std_output);
    return Start({application, command_line, creation_flags, startup, "", "",
                  inherited ? startup.std_output : platform::kInvalidHandleValue},
                 process_starts, info);
  }
  bool SaferCreateLevel(uint32_t scope, uint32_t level, uint32_t flags,
                        platform::Handle* handle) override {
    *handle = next_handle_++;
    levels_[*handle] = "level " + std::to_string(scope) + "/" + std::to_string(level) + "/" +
                       std::to_string(flags);
    return true;
  }
  bool SaferComputeTokenFromLevel(platform::Handle level, platform::Handle in_token,
                                  platform::Handle* token, uint32_t flags) override {
    if (safer_token_fails || levels_.count(level) == 0) return false;
    *token = next_handle_++;
    open_handles_.insert(*token);
    tokens_[*token] = in_token == platform::kNullHandle && flags == 0 ? levels_[level] : "other";
    return true;
  }
  bool GetTokenUser(platform::Handle token, platform::Sid* sid) override {
    const bool usable = open_handles_.count(token) != 0 &&
                        !(safer_token_unusable && tokens_[token].rfind("level", 0) == 0);
    return usable && token_user && (*sid = *token_user, true);
  }
  bool CreateRestrictedToken(uint32_t flags, const platform::Sid& disable,
                             platform::Handle* token) override {
    if (restricted_token_fails) return false;
    *token = next_handle_++;
    open_handles_.insert(*token);
    tokens_[*token] =
        "restricted " + std::to_string(flags) +
        (disable == platform::kAdministratorsSid ? ", Administrators" : ", other groups");
    return true;
  }
  bool GetTokenIntegrityLevel(platform::Handle token, uint32_t* rid) override {
    if (const uint32_t error = IntegrityError(token, integrity_read_error)) return Fail(error);
    *rid = 0x3000;  // SECURITY_MANDATORY_HIGH_RID
    return true;
  }
  bool SetTokenIntegrityLevel(platform::Handle token, uint32_t rid) override {
    if (const uint32_t error = IntegrityError(token, integrity_set_error)) return Fail(error);
    tokens_[token] += ", level " + std::to_string(rid);
    return true;
  }
  bool SaferCloseLevel(platform::Handle level) override {
    return levels_.erase(level) == 1 || (++bad_closes, false);
  }
  bool CreateProcessAsUserA(platform::Handle token, const std::string& application,
                            const std::string& command_line, uint32_t creation_flags,
                            const std::string& directory, const platform::StartupInfo& startup,
                            platform::ProcessInformation* info) override {
    const std::string made_as = open_handles_.count(token) != 0 ? tokens_[token] : "no token";
    return Start({application, command_line, creation_flags, startup, made_as, directory},
                 as_user_error == platform::kErrorSuccess, info) ||
           Fail(as_user_error);
  }
  platform::Handle CreateBoundaryDescriptorW(const std::u16string& name, uint32_t) override {
    if (no_private_namespaces) return Failed(platform::kErrorProcNotFound);
    boundaries_[next_handle_] = {name, {}};
    return next_handle_++;
  }
  bool AddSIDToBoundaryDescriptor(platform::Handle* boundary, const platform::Sid& sid) override {
    if (no_private_namespaces) return Fail(platform::kErrorProcNotFound);
    const auto it = boundaries_.find(*boundary);
    if (it == boundaries_.end()) return Fail(platform::kErrorInvalidHandle);
    // It grows, and moves as Windows may move it.
    auto grown = std::move(it->second);
    grown.second.insert(sid);
    boundaries_.erase(it);
    boundaries_[*boundary = next_handle_++] = std::move(grown);
    return true;
  }
  void DeleteBoundaryDescriptor(platform::Handle boundary) override {
    if (boundaries_.erase(boundary) == 0) ++bad_closes;
  }
  platform::Handle CreatePrivateNamespaceW(const platform::SecurityAttributes*,
                                           platform::Handle boundary,
                                           const std::u16string& alias) override {
    if (no_private_namespaces) return Failed(platform::kErrorProcNotFound);
    if (namespace_error) return Failed(std::exchange(namespace_error, platform::kErrorSuccess));
    const auto it = boundaries_.find(boundary);
    if (it == boundaries_.end()) return Failed(platform::kErrorInvalidParameter);
    for (const platform::Sid& sid : it->second.second) {
      if (std::find(token_groups.begin(), token_groups.end(), sid) == token_groups.end()) {
        return Failed(platform::kErrorAccessDenied);
      }
    }
    if (namespaces_.count({alias, it->second})) return Failed(platform::kErrorAlreadyExists);
    namespaces_[{alias, it->second}] = ++namespace_count_;
    return NamespaceHandle(namespace_count_, alias);
  }
  platform::Handle OpenPrivateNamespaceW(platform::Handle boundary,
                                         const std::u16string& alias) override {
    if (no_private_namespaces) return Failed(platform::kErrorProcNotFound);
    const auto it = boundaries_.find(boundary);
    if (it == boundaries_.end()) return Failed(platform::kErrorInvalidParameter);
    const auto found = namespaces_.find({alias, it->second});
    if (found == namespaces_.end()) return Failed(platform::kErrorPathNotFound);
    return NamespaceHandle(found->second, alias);
  }
  bool ClosePrivateNamespace(platform::Handle handle, uint32_t flags) override {
    const auto it = namespace_handles_.find(handle);
    if (it == namespace_handles_.end()) {
      ++bad_closes;
      return Fail(platform::kErrorInvalidHandle);
    }
    const int id = it->second.id;
    namespace_handles_.erase(it);
    const bool open = std::any_of(namespace_handles_.begin(), namespace_handles_.end(),
                                  [id](const auto& h) { return h.second.id == id; });
    if (!open || (flags & platform::kPrivateNamespaceFlagDestroy)) {
      std::erase_if(namespaces_, [id](const auto& n) { return n.second == id; });
    }
    return true;
  }
  platform::Handle CreateMutexW(const platform::SecurityAttributes*, bool,
                                const std::u16string& name) override {
    if (mutex_error) return Failed(std::exchange(mutex_error, platform::kErrorSuccess));
    const size_t slash = name.find(u'\\');
    const std::u16string prefix = name.substr(0, slash);
    std::pair<int, std::u16string> key{0, name};
    for (const auto& [handle, open] : namespace_handles_) {
      if (slash != std::u16string::npos && open.process == process && open.alias == prefix) {
        key = {open.id, name.substr(slash)};
      }
    }
    if (key.first == 0 && slash != std::u16string::npos && prefix != u"Global" &&
        prefix != u"Local") {
      return Failed(platform::kErrorPathNotFound);
    }
    open_handles_.insert(next_handle_);
    mutex_handles_[next_handle_] = key;
    last_error_ = mutexes_[key]++ ? platform::kErrorAlreadyExists : platform::kErrorSuccess;
    return next_handle_++;
  }
  uint32_t GetLastError() override { return last_error_; }
  uint32_t WaitForSingleObject(platform::Handle handle, uint32_t milliseconds) override {
    waits.push_back(WaitCall{handle, milliseconds});
    return wait_result;
  }
  bool TerminateProcess(platform::Handle process, uint32_t /*exit_code*/) override {
    terminated.push_back(process);
    return open_handles_.count(process) != 0;
  }
  bool CloseHandle(platform::Handle handle) override {
    if (open_handles_.erase(handle) == 0) {
      ++bad_closes;
      return false;
    }
    if (const auto it = mutex_handles_.find(handle); it != mutex_handles_.end()) {
      if (--mutexes_[it->second] == 0) mutexes_.erase(it->second);
      mutex_handles_.erase(it);
    }
    return true;
  }

 private:
  // Records the call; when it `starts`, hands out two handles and runs the hook.
  bool Start(const CreateProcessCall& call, bool starts, platform::ProcessInformation* info) {
    create_process_calls.push_back(call);
    if (!starts) return false;
    info->process = next_handle_++;
    info->thread = next_handle_++;
    open_handles_.insert(info->process);
    open_handles_.insert(info->thread);
    if (on_create_process) on_create_process(create_process_calls.back());
    return true;
  }

  bool Fail(uint32_t error) {
    last_error_ = error;
    return false;
  }
  platform::Handle Failed(uint32_t error) { return Fail(error), platform::kNullHandle; }
  platform::Handle NamespaceHandle(int id, const std::u16string& alias) {
    namespace_handles_[next_handle_] = {id, alias, process};
    return next_handle_++;
  }
  // The error of an integrity call on `token`, or kErrorSuccess.
  uint32_t IntegrityError(platform::Handle token, uint32_t error) const {
    if (no_integrity_levels) return platform::kErrorInvalidParameter;
    return open_handles_.count(token) == 0 ? platform::kErrorInvalidHandle : error;
  }

  platform::Handle next_handle_ = 0x700;
  uint32_t last_error_ = platform::kErrorSuccess;
  std::set<platform::Handle> open_handles_;
  // What each level and token was made as: "level SCOPE/LEVEL/FLAGS", for a
  // token made from the process's own without flags its level's.
  std::map<platform::Handle, std::string> levels_;
  std::map<platform::Handle, std::string> tokens_;
  // Boundaries (name, SIDs) by descriptor; namespaces by alias and boundary,
  // as their number; the namespace handles; mutexes (namespace number or 0, name) by
  // how many handles each has, and by handle.
  using Boundary = std::pair<std::u16string, std::set<platform::Sid>>;
  struct OpenNamespace {
    int id;
    std::u16string alias;
    int process;
  };
  std::map<platform::Handle, Boundary> boundaries_;
  std::map<std::pair<std::u16string, Boundary>, int> namespaces_;
  int namespace_count_ = 0;
  std::map<platform::Handle, OpenNamespace> namespace_handles_;
  std::map<std::pair<int, std::u16string>, int> mutexes_;
  std::map<platform::Handle, std::pair<int, std::u16string>> mutex_handles_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_PROCESSES_H_
