// Starting processes, the process's token, named objects shared with other
// processes, and the process-wide shell services (kernel32, advapi32; ole32
// and oleaut32 to reach the desktop shell).
#ifndef LEXORIA_PLATFORM_PROCESSES_H_
#define LEXORIA_PLATFORM_PROCESSES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/types.h"

namespace lexoria::platform {

inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr uint32_t kCreateNewConsole = 0x10;
inline constexpr uint32_t kCreateNewProcessGroup = 0x200;
inline constexpr uint32_t kStartfUseShowWindow = 0x1;
inline constexpr uint32_t kStartfUseStdHandles = 0x100;
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitObject0 = 0;

// SaferCreateLevel: the "Normal User" level of the user's scope, opened (not
// made anew).
inline constexpr uint32_t kSaferScopeIdUser = 2;
inline constexpr uint32_t kSaferLevelIdNormalUser = 0x20000;
inline constexpr uint32_t kSaferLevelOpen = 1;

// CreateRestrictedToken: every privilege but SeChangeNotifyPrivilege removed.
inline constexpr uint32_t kDisableMaxPrivilege = 0x1;
// BUILTIN\Administrators, S-1-5-32-544.
inline const Sid kAdministratorsSid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// The medium mandatory level (SECURITY_MANDATORY_MEDIUM_RID): a standard
// user's programs run at it.
inline constexpr uint32_t kSecurityMandatoryMediumRid = 0x2000;

// ClosePrivateNamespace: the namespace ends now, also for the handles other
// processes hold to it.
inline constexpr uint32_t kPrivateNamespaceFlagDestroy = 0x1;

// The STARTUPINFOA fields the setup sets; cb is always its full size (68 on
// 32-bit Windows).
struct StartupInfo {
  uint32_t flags = 0;        // dwFlags
  uint16_t show_window = 0;  // wShowWindow
  // hStdInput, hStdOutput, hStdError, with kStartfUseStdHandles: the child's
  // standard handles, under the values the caller has for them. Only a
  // handle the child inherits is one there.
  Handle std_input = kNullHandle;
  Handle std_output = kNullHandle;
  Handle std_error = kNullHandle;
};

struct ProcessInformation {
  Handle process = kNullHandle;
  Handle thread = kNullHandle;
};

// What came of a start asked of the desktop shell (ShellExecuteOnDesktop).
enum class DesktopShellResult {
  kStarted,         // the shell's own ShellExecute took the start
  kNoDesktopShell,  // the call never reached the shell's ShellExecute (COM, the
                    // shell windows, the desktop view or its dispatch missing):
                    // nothing was started
  kFailed,          // the shell's ShellExecute failed: the program may have
                    // started all the same
};

class Processes {
 public:
  virtual ~Processes() = default;
  // True when the process's token is a member of the Administrators group
  // (an elevated one, where UAC filters tokens); false also when that cannot
  // be told.
  virtual bool IsUserAnAdmin() = 0;
  // True when the token that runs the process is the system account
  // (LocalSystem, S-1-5-18), as a management tool's service runs it, and
  // also when the token cannot be read: the caller then starts no program
  // with the process's rights.
  virtual bool IsLocalSystem() = 0;
  // The user of the process's token (GetTokenInformation(TokenUser) of
  // OpenProcessToken(TOKEN_QUERY)); false when it cannot be read.
  virtual bool GetProcessTokenUser(Sid* sid) = 0;
  // The SID of `account_name` ("DOMAIN\user") on this computer
  // (LookupAccountNameW, no system name); false when it is not found or the
  // lookup fails.
  virtual bool LookupAccountNameW(const std::u16string& account_name, Sid* sid) = 0;
  // The account `sid` stands for, as "DOMAIN\\user" (LookupAccountSidW, no
  // system name); false when it has no name here or the lookup fails.
  virtual bool LookupAccountSidW(const Sid& sid, std::u16string* account_name) = 0;
  // True when both are valid SIDs and equal (EqualSid).
  virtual bool EqualSid(const Sid& first, const Sid& second) = 0;
  // The start ShellExecuteA makes (no owner), asked of the desktop shell's
  // own process: IShellWindows::FindWindowSW(SWC_DESKTOP) finds the desktop
  // view, whose IShellDispatch2::ShellExecute starts the file. The program
  // then runs as the logged-on user with the shell's rights, not the
  // caller's, and in the shell's current directory unless `directory` names
  // one. Initializes COM on the calling thread (apartment) for the call
  // only; releases all it got. The calls go into the shell's process and
  // block as long as it does (a hung shell: for ever): make them on a thread
  // that can be left behind.
  virtual DesktopShellResult ShellExecuteOnDesktop(const std::string& operation,
                                                   const std::string& file,
                                                   const std::string& parameters,
                                                   const std::string& directory,
                                                   int show_command) = 0;
  virtual bool SetCurrentDirectoryA(const std::string& path) = 0;
  // Starts `application` (a full path: no search) with `command_line`; no
  // security attributes, the caller's environment and current directory.
  // With `inherit_handles` (bInheritHandles) the child gets every handle of
  // the process that was made inheritable, under the same value; without it,
  // none.
  virtual bool CreateProcessA(const std::string& application, const std::string& command_line,
                              bool inherit_handles, uint32_t creation_flags,
                              const StartupInfo& startup, ProcessInformation* info) = 0;
  // A Safer level (SaferCreateLevel), closed with SaferCloseLevel; false
  // with the last error set on failure.
  virtual bool SaferCreateLevel(uint32_t scope_id, uint32_t level_id, uint32_t open_flags,
                                Handle* level) = 0;
  // A primary token with the rights of `level`, made from `in_access_token`
  // (kNullHandle: the process's own token): SaferComputeTokenFromLevel, no
  // reserved argument. The caller closes the token with CloseHandle. False
  // with the last error set on failure.
  virtual bool SaferComputeTokenFromLevel(Handle level, Handle in_access_token,
                                          Handle* out_access_token, uint32_t flags) = 0;
  virtual bool SaferCloseLevel(Handle level) = 0;
  // The user of `token` (GetTokenInformation(TokenUser)); false when it is
  // no token that can be asked.
  virtual bool GetTokenUser(Handle token, Sid* sid) = 0;
  // A primary token made from the process's own (CreateRestrictedToken of
  // OpenProcessToken): `flags`, and the group `sid_to_disable` kept for deny
  // only. The caller closes it with CloseHandle. False with the last error
  // set on failure.
  virtual bool CreateRestrictedToken(uint32_t flags, const Sid& sid_to_disable,
                                     Handle* new_token) = 0;
  // The mandatory level of `token` (GetTokenInformation(TokenIntegrityLevel):
  // the last subauthority of its label). False with the last error set on
  // failure: ERROR_INVALID_PARAMETER where the system has no levels (Windows
  // XP does not know the information class).
  virtual bool GetTokenIntegrityLevel(Handle token, uint32_t* rid) = 0;
  // SetTokenInformation(TokenIntegrityLevel) to the mandatory level `rid`;
  // false with the last error set where the system has no levels (Windows
  // XP) or refuses.
  virtual bool SetTokenIntegrityLevel(Handle token, uint32_t rid) = 0;
  // Starts `application` (a full path: no search) with `command_line` as
  // the user of `token`, in `current_directory`: no security attributes, no
  // handle inheritance, the caller's environment. False with the last error
  // set on failure; the caller closes both handles of `info` on success.
  virtual bool CreateProcessAsUserA(Handle token, const std::string& application,
                                    const std::string& command_line, uint32_t creation_flags,
                                    const std::string& current_directory,
                                    const StartupInfo& startup, ProcessInformation* info) = 0;
  // Private object namespaces, which came with Windows Vista. Where kernel32
  // lacks any of the six calls (Windows XP and Server 2003; Wine 8, which has
  // a stub of CreateBoundaryDescriptorW alone) each of them fails with
  // ERROR_PROC_NOT_FOUND.
  //
  // A boundary descriptor named `name` (CreateBoundaryDescriptorW), no SID
  // yet; freed with DeleteBoundaryDescriptor. kNullHandle with the last
  // error set on failure.
  virtual Handle CreateBoundaryDescriptorW(const std::u16string& name, uint32_t flags) = 0;
  // Adds `required_sid` to the descriptor, which may move: `*boundary_descriptor`
  // is the one to use from then on. False with the last error set on failure.
  virtual bool AddSIDToBoundaryDescriptor(Handle* boundary_descriptor, const Sid& required_sid) = 0;
  virtual void DeleteBoundaryDescriptor(Handle boundary_descriptor) = 0;
  // A new namespace, machine-wide, known by `alias_prefix` and the boundary
  // (its name and SIDs), with `attributes`' security (null: the token's
  // default); in this process an object name "ALIAS\name" lies in it. Fails
  // unless the caller is within the boundary (its token holds each of its
  // SIDs), and with ERROR_ALREADY_EXISTS where that namespace is there.
  // kNullHandle with the last error set on failure.
  virtual Handle CreatePrivateNamespaceW(const SecurityAttributes* attributes,
                                         Handle boundary_descriptor,
                                         const std::u16string& alias_prefix) = 0;
  // The namespace of that alias and boundary another process made, also for
  // a caller outside the boundary: only its security keeps anyone out.
  // kNullHandle with the last error set when there is none or its security
  // refuses the caller.
  virtual Handle OpenPrivateNamespaceW(Handle boundary_descriptor,
                                       const std::u16string& alias_prefix) = 0;
  // Closes a namespace handle (with kPrivateNamespaceFlagDestroy: ends the
  // namespace); objects made in it live on while handles to them are open.
  virtual bool ClosePrivateNamespace(Handle namespace_handle, uint32_t flags) = 0;
  // A mutex named `name` ("Global\...", or "ALIAS\..." in a private
  // namespace), made with `attributes`' security, or the one of that name
  // there is (then GetLastError() is ERROR_ALREADY_EXISTS right after, else
  // ERROR_SUCCESS). It lives while a handle to it is open; closed with
  // CloseHandle. kNullHandle with the last error set on failure: an object of
  // another type by that name, or a mutex whose security refuses the caller.
  virtual Handle CreateMutexW(const SecurityAttributes* attributes, bool initial_owner,
                              const std::u16string& name) = 0;

  // The calling thread's last error, right after a call that sets it.
  virtual uint32_t GetLastError() = 0;
  virtual uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) = 0;
  virtual bool TerminateProcess(Handle process, uint32_t exit_code) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
};

}  // namespace lexoria::platform

#endif  // LEXORIA_PLATFORM_PROCESSES_H_
