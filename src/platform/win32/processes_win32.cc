// Process start, the process's token and shell services (kernel32, advapi32;
// ole32 and oleaut32 loaded for the launch only).
//
// The quiet update asks only whether the user is an administrator, which
// advapi32 answers. ole32 and oleaut32 (the start through the desktop shell)
// are loaded from the system directory when a launch needs them
// (SystemFunction), not imported: every start would pay for loading them,
// and for what they load in turn. The Safer functions are advapi32's since
// Windows XP and are imported; the private namespaces came with Vista and
// are looked up in kernel32, so that the setup still starts on XP.
#include <windows.h>
// windows.h first: these build on its types.
#include <exdisp.h>
#include <namespaceapi.h>
#include <sddl.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <winsafer.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/adapters.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handles.h"

namespace lexoria::platform::win32 {

namespace {

// The functions of ole32 and oleaut32 the start through the desktop shell
// calls, looked up in the system directory's libraries.
struct ComFunctions {
  decltype(&::CoInitialize) co_initialize = nullptr;
  decltype(&::CoUninitialize) co_uninitialize = nullptr;
  decltype(&::CoCreateInstance) co_create_instance = nullptr;
  decltype(&::SysAllocStringLen) sys_alloc_string_len = nullptr;
  decltype(&::VariantInit) variant_init = nullptr;
  decltype(&::VariantClear) variant_clear = nullptr;

  // True when every function was found.
  bool Load() {
    co_initialize = SystemFunction<decltype(co_initialize)>("ole32.dll", "CoInitialize");
    co_uninitialize = SystemFunction<decltype(co_uninitialize)>("ole32.dll", "CoUninitialize");
    co_create_instance =
        SystemFunction<decltype(co_create_instance)>("ole32.dll", "CoCreateInstance");
    sys_alloc_string_len =
        SystemFunction<decltype(sys_alloc_string_len)>("oleaut32.dll", "SysAllocStringLen");
    variant_init = SystemFunction<decltype(variant_init)>("oleaut32.dll", "VariantInit");
    variant_clear = SystemFunction<decltype(variant_clear)>("oleaut32.dll", "VariantClear");
    return co_initialize && co_uninitialize && co_create_instance && sys_alloc_string_len &&
           variant_init && variant_clear;
  }
};

// kernel32's private-namespace functions, all or none: a system with only
// some of them (Wine 8 has a stub of CreateBoundaryDescriptorW alone) has no
// namespaces to use.
struct NamespaceFunctions {
  decltype(&::CreateBoundaryDescriptorW) create_boundary = nullptr;
  decltype(&::AddSIDToBoundaryDescriptor) add_sid = nullptr;
  decltype(&::DeleteBoundaryDescriptor) delete_boundary = nullptr;
  decltype(&::CreatePrivateNamespaceW) create_namespace = nullptr;
  decltype(&::OpenPrivateNamespaceW) open_namespace = nullptr;
  decltype(&::ClosePrivateNamespace) close_namespace = nullptr;

  // The functions, looked up once; null with ERROR_PROC_NOT_FOUND set where
  // any is missing. kernel32 is in every process from its start.
  static const NamespaceFunctions* Get() {
    static const NamespaceFunctions functions = [] {
      NamespaceFunctions f;
      const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
      if (kernel32 == nullptr) return f;
      f.create_boundary =
          LookUp<decltype(f.create_boundary)>(kernel32, "CreateBoundaryDescriptorW");
      f.add_sid = LookUp<decltype(f.add_sid)>(kernel32, "AddSIDToBoundaryDescriptor");
      f.delete_boundary = LookUp<decltype(f.delete_boundary)>(kernel32, "DeleteBoundaryDescriptor");
      f.create_namespace =
          LookUp<decltype(f.create_namespace)>(kernel32, "CreatePrivateNamespaceW");
      f.open_namespace = LookUp<decltype(f.open_namespace)>(kernel32, "OpenPrivateNamespaceW");
      f.close_namespace = LookUp<decltype(f.close_namespace)>(kernel32, "ClosePrivateNamespace");
      return f;
    }();
    const NamespaceFunctions& f = functions;
    if (f.create_boundary && f.add_sid && f.delete_boundary && f.create_namespace &&
        f.open_namespace && f.close_namespace) {
      return &functions;
    }
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
};

// SECURITY_ATTRIBUTES made from the port's, freed when the owner ends; null
// (the token's default) for none.
class ScopedSecurity {
 public:
  explicit ScopedSecurity(const SecurityAttributes* security) {
    if (security == nullptr) return;
    attributes_.nLength = sizeof(attributes_);
    attributes_.bInheritHandle = security->inherit_handle ? TRUE : FALSE;
    attributes_.lpSecurityDescriptor = nullptr;
    valid_ = security->security_descriptor.empty() ||
             ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                 reinterpret_cast<const wchar_t*>(security->security_descriptor.c_str()),
                 SDDL_REVISION_1, &attributes_.lpSecurityDescriptor,
                 /*SecurityDescriptorSize=*/nullptr);
    given_ = true;
  }
  // Keeps the last error of the call the attributes were made for.
  ~ScopedSecurity() {
    if (attributes_.lpSecurityDescriptor == nullptr) return;
    const DWORD error = ::GetLastError();
    ::LocalFree(attributes_.lpSecurityDescriptor);
    ::SetLastError(error);
  }
  ScopedSecurity(const ScopedSecurity&) = delete;
  ScopedSecurity& operator=(const ScopedSecurity&) = delete;

  // False with the last error set when the descriptor could not be made.
  bool valid() const { return valid_; }
  SECURITY_ATTRIBUTES* get() { return given_ ? &attributes_ : nullptr; }

 private:
  SECURITY_ATTRIBUTES attributes_ = {};
  bool given_ = false;
  bool valid_ = true;
};

// The calling thread's COM apartment for one call: CoInitialize when the
// owner is made, the matching CoUninitialize when it ends. Declared before
// any ComRef of the call, so that every interface is released first.
class ComApartment {
 public:
  explicit ComApartment(const ComFunctions& com)
      : com_(com), result_(com.co_initialize(/*pvReserved=*/nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) com_.co_uninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // S_FALSE (already initialized on this thread) counts: it is balanced too.
  bool ready() const { return SUCCEEDED(result_); }

 private:
  const ComFunctions& com_;
  HRESULT result_;
};

// One reference to a COM interface, released when the owner ends.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (pointer_) pointer_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  // For a call that hands out a reference; the owner must be empty.
  Interface** put() { return &pointer_; }
  void** put_void() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

// A VARIANT, cleared (its BSTR freed) when the owner ends.
class ScopedVariant {
 public:
  explicit ScopedVariant(const ComFunctions& com) : com_(com) { com_.variant_init(&value_); }
  ~ScopedVariant() { com_.variant_clear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT& get() { return value_; }
  // Holds the ANSI text as a BSTR; false when it cannot be converted.
  bool SetText(const std::string& text) {
    const int length = static_cast<int>(text.size());
    std::wstring wide;
    if (length > 0) {
      const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
      if (needed <= 0) return false;
      wide.resize(static_cast<size_t>(needed));
      if (::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed) != needed) {
        return false;
      }
    }
    BSTR string = com_.sys_alloc_string_len(wide.data(), static_cast<UINT>(wide.size()));
    if (string == nullptr) return false;
    com_.variant_clear(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = string;
    return true;
  }
  void SetNumber(LONG number) {
    com_.variant_clear(&value_);
    value_.vt = VT_I4;
    value_.lVal = number;
  }

 private:
  const ComFunctions& com_;
  VARIANT value_;
};

// The bytes of a valid SID.
bool CopySid(PSID source, Sid* sid) {
  if (source == nullptr || !::IsValidSid(source)) return false;
  const BYTE* bytes = static_cast<const BYTE*>(source);
  sid->assign(bytes, bytes + ::GetLengthSid(source));
  return true;
}

// The SID held in `sid`, or null when its bytes are no whole valid SID: the
// API reads as far as the SID says. The API only reads through it.
PSID AsSid(const Sid& sid) {
  const PSID pointer = const_cast<uint8_t*>(sid.data());
  return sid.size() >= 8 && ::IsValidSid(pointer) && ::GetLengthSid(pointer) == sid.size()
             ? pointer
             : nullptr;
}

// UTF-16 text as WCHAR holds it, up to its NUL.
const wchar_t* AsWide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// CreateProcessA, or CreateProcessAsUserA with `token` when there is one: no
// security attributes, the caller's environment.
bool StartProcess(HANDLE token, const std::string& application, const std::string& command_line,
                  bool inherit_handles, uint32_t creation_flags, const char* current_directory,
                  const StartupInfo& startup, ProcessInformation* info) {
  STARTUPINFOA si;
  ::ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = startup.flags;
  si.wShowWindow = startup.show_window;
  si.hStdInput = reinterpret_cast<HANDLE>(startup.std_input);
  si.hStdOutput = reinterpret_cast<HANDLE>(startup.std_output);
  si.hStdError = reinterpret_cast<HANDLE>(startup.std_error);
  const BOOL inherit = inherit_handles ? TRUE : FALSE;
  PROCESS_INFORMATION pi;
  ::ZeroMemory(&pi, sizeof(pi));
  // The call may write into the command line: give it a copy.
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  const BOOL started =
      token != nullptr
          ? ::CreateProcessAsUserA(token, application.c_str(), line.data(),
                                   /*lpProcessAttributes=*/nullptr,
                                   /*lpThreadAttributes=*/nullptr, inherit, creation_flags,
                                   /*lpEnvironment=*/nullptr, current_directory, &si, &pi)
          : ::CreateProcessA(application.c_str(), line.data(), /*lpProcessAttributes=*/nullptr,
                             /*lpThreadAttributes=*/nullptr, inherit, creation_flags,
                             /*lpEnvironment=*/nullptr, current_directory, &si, &pi);
  if (!started) return false;
  info->process = reinterpret_cast<Handle>(pi.hProcess);
  info->thread = reinterpret_cast<Handle>(pi.hThread);
  return true;
}

class Win32Processes final : public Processes {
 public:
  // Membership of the token that runs the setup in the Administrators group,
  // the answer of shell32's IsUserAnAdmin, which Microsoft documents as a
  // wrapper of CheckTokenMembership to be called directly instead: a token
  // that UAC filtered holds the group for denial only and is no member.
  bool IsUserAnAdmin() override {
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    administrators.put())) {
      return false;
    }
    BOOL member = FALSE;
    const BOOL checked =
        ::CheckTokenMembership(/*TokenHandle=*/nullptr, administrators.get(), &member);
    return checked != FALSE && member != FALSE;
  }
  bool IsLocalSystem() override {
    Sid user;
    if (!GetProcessTokenUser(&user)) return true;
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    UniqueSid local_system;
    if (!::AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0,
                                    0, local_system.put())) {
      return true;
    }
    return ::EqualSid(user.data(), local_system.get()) != FALSE;
  }
  bool GetProcessTokenUser(Sid* sid) override {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    return GetTokenUser(reinterpret_cast<Handle>(token.get()), sid);
  }
  bool GetTokenUser(Handle token, Sid* sid) override {
    // TOKEN_USER with the SID after it: a SID has at most 68 bytes.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return ::GetTokenInformation(reinterpret_cast<HANDLE>(token), TokenUser, buffer,
                                 static_cast<DWORD>(sizeof(buffer)), &size) &&
           CopySid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
  }
  bool CreateRestrictedToken(uint32_t flags, const Sid& sid_to_disable,
                             Handle* new_token) override {
    UniqueHandle own;
    if (!::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, own.put())) {
      return false;
    }
    Sid sid = sid_to_disable;  // the call takes it writable
    SID_AND_ATTRIBUTES disable = {sid.data(), 0};
    HANDLE restricted = nullptr;
    const BOOL made =
        ::CreateRestrictedToken(own.get(), flags, /*DisableSidCount=*/1, &disable,
                                /*DeletePrivilegeCount=*/0, /*PrivilegesToDelete=*/nullptr,
                                /*RestrictedSidCount=*/0, /*SidsToRestrict=*/nullptr, &restricted);
    if (!made) return false;
    *new_token = reinterpret_cast<Handle>(restricted);
    return true;
  }
  bool SetTokenIntegrityLevel(Handle token, uint32_t rid) override {
    SID_IDENTIFIER_AUTHORITY mandatory = SECURITY_MANDATORY_LABEL_AUTHORITY;
    UniqueSid level;
    if (!::AllocateAndInitializeSid(&mandatory, 1, rid, 0, 0, 0, 0, 0, 0, 0, level.put())) {
      return false;
    }
    TOKEN_MANDATORY_LABEL label;
    label.Label.Sid = level.get();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    return ::SetTokenInformation(reinterpret_cast<HANDLE>(token), TokenIntegrityLevel, &label,
                                 sizeof(label) + ::GetLengthSid(level.get())) != FALSE;
  }
  bool GetTokenIntegrityLevel(Handle token, uint32_t* rid) override {
    // The label with its SID after it: a SID has at most 68 bytes.
    alignas(TOKEN_MANDATORY_LABEL)
        BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(reinterpret_cast<HANDLE>(token), TokenIntegrityLevel, buffer,
                               static_cast<DWORD>(sizeof(buffer)), &size)) {
      return false;
    }
    // A label is S-1-16-RID: the level is its one subauthority.
    *rid = *::GetSidSubAuthority(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid, 0);
    return true;
  }
  bool LookupAccountNameW(const std::u16string& account_name, Sid* sid) override {
    const std::wstring name(account_name.begin(), account_name.end());
    std::vector<BYTE> found(SECURITY_MAX_SID_SIZE);
    std::vector<wchar_t> domain(256);
    // A domain name longer than the buffer is asked for again at its size.
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD sid_size = static_cast<DWORD>(found.size());
      DWORD domain_size = static_cast<DWORD>(domain.size());
      SID_NAME_USE use;
      if (::LookupAccountNameW(/*lpSystemName=*/nullptr, name.c_str(), found.data(), &sid_size,
                               domain.data(), &domain_size, &use)) {
        return CopySid(found.data(), sid);
      }
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
      found.resize(std::max<size_t>(found.size(), sid_size));
      domain.resize(std::max<size_t>(domain.size(), domain_size));
    }
    return false;
  }
  bool LookupAccountSidW(const Sid& sid, std::u16string* account_name) override {
    const PSID psid = AsSid(sid);
    if (psid == nullptr) return false;
    std::vector<wchar_t> name(256), domain(256);
    // A name longer than its buffer is asked for again at its size.
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD name_size = static_cast<DWORD>(name.size());
      DWORD domain_size = static_cast<DWORD>(domain.size());
      SID_NAME_USE use;
      if (::LookupAccountSidW(/*lpSystemName=*/nullptr, psid, name.data(), &name_size,
                              domain.data(), &domain_size, &use)) {
        const std::wstring_view user(name.data(), name_size), where(domain.data(), domain_size);
        account_name->assign(where.begin(), where.end());
        if (!account_name->empty()) *account_name += u'\\';
        account_name->append(user.begin(), user.end());
        return true;
      }
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
      name.resize(std::max<size_t>(name.size(), name_size));
      domain.resize(std::max<size_t>(domain.size(), domain_size));
    }
    return false;
  }
  bool EqualSid(const Sid& first, const Sid& second) override {
    const PSID a = AsSid(first);
    const PSID b = AsSid(second);
    return a != nullptr && b != nullptr && ::EqualSid(a, b) != FALSE;
  }
  DesktopShellResult ShellExecuteOnDesktop(const std::string& operation, const std::string& file,
                                           const std::string& parameters,
                                           const std::string& directory,
                                           int show_command) override {
    // Everything before the shell's own ShellExecute only looks for the
    // shell: a failure there has started nothing.
    constexpr DesktopShellResult kNoShell = DesktopShellResult::kNoDesktopShell;
    ComFunctions com;
    if (!com.Load()) return kNoShell;
    ComApartment apartment(com);
    if (!apartment.ready()) return kNoShell;

    // The desktop is the shell window at CSIDL_DESKTOP; the shell serves it
    // from its own process, so what its dispatch starts runs there.
    ComRef<IShellWindows> windows;
    if (FAILED(com.co_create_instance(CLSID_ShellWindows, /*pUnkOuter=*/nullptr,
                                      CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                      windows.put_void()))) {
      return kNoShell;
    }
    ScopedVariant location(com);
    location.SetNumber(CSIDL_DESKTOP);
    ScopedVariant root(com);  // VT_EMPTY
    LONG desktop_window = 0;
    ComRef<IDispatch> desktop;
    // S_FALSE means "no such window", with no dispatch handed out.
    if (windows->FindWindowSW(&location.get(), &root.get(), SWC_DESKTOP, &desktop_window,
                              SWFO_NEEDDISPATCH, desktop.put()) != S_OK ||
        desktop.get() == nullptr) {
      return kNoShell;
    }

    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folder_view;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.put_void())) ||
        FAILED(
            services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(browser->QueryActiveShellView(view.put())) || view.get() == nullptr ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folder_view.put_void())) ||
        FAILED(folder_view->get_Application(application.put())) || application.get() == nullptr ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
      return kNoShell;
    }

    // The dispatch takes wide text: the ANSI arguments are converted from
    // the code page they were made in.
    ScopedVariant file_text(com);
    ScopedVariant arguments(com);
    ScopedVariant folder(com);
    ScopedVariant verb(com);
    ScopedVariant show(com);
    if (!file_text.SetText(file) || !arguments.SetText(parameters) || !folder.SetText(directory) ||
        !verb.SetText(operation)) {
      return kNoShell;
    }
    show.SetNumber(show_command);
    return SUCCEEDED(shell->ShellExecute(file_text.get().bstrVal, arguments.get(), folder.get(),
                                         verb.get(), show.get()))
               ? DesktopShellResult::kStarted
               : DesktopShellResult::kFailed;
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
  }
  bool CreateProcessA(const std::string& application, const std::string& command_line,
                      bool inherit_handles, uint32_t creation_flags, const StartupInfo& startup,
                      ProcessInformation* info) override {
    return StartProcess(/*token=*/nullptr, application, command_line, inherit_handles,
                        creation_flags, /*current_directory=*/nullptr, startup, info);
  }
  bool SaferCreateLevel(uint32_t scope_id, uint32_t level_id, uint32_t open_flags,
                        Handle* level) override {
    SAFER_LEVEL_HANDLE opened = nullptr;
    if (!::SaferCreateLevel(scope_id, level_id, open_flags, &opened, /*lpReserved=*/nullptr)) {
      return false;
    }
    *level = reinterpret_cast<Handle>(opened);
    return true;
  }
  bool SaferComputeTokenFromLevel(Handle level, Handle in_access_token, Handle* out_access_token,
                                  uint32_t flags) override {
    HANDLE token = nullptr;
    if (!::SaferComputeTokenFromLevel(reinterpret_cast<SAFER_LEVEL_HANDLE>(level),
                                      reinterpret_cast<HANDLE>(in_access_token), &token, flags,
                                      /*lpReserved=*/nullptr)) {
      return false;
    }
    *out_access_token = reinterpret_cast<Handle>(token);
    return true;
  }
  bool SaferCloseLevel(Handle level) override {
    return ::SaferCloseLevel(reinterpret_cast<SAFER_LEVEL_HANDLE>(level)) != FALSE;
  }
  bool CreateProcessAsUserA(Handle token, const std::string& application,
                            const std::string& command_line, uint32_t creation_flags,
                            const std::string& current_directory, const StartupInfo& startup,
                            ProcessInformation* info) override {
    return StartProcess(reinterpret_cast<HANDLE>(token), application, command_line,
                        /*inherit_handles=*/false, creation_flags, current_directory.c_str(),
                        startup, info);
  }
  Handle CreateBoundaryDescriptorW(const std::u16string& name, uint32_t flags) override {
    const NamespaceFunctions* f = NamespaceFunctions::Get();
    return f ? reinterpret_cast<Handle>(f->create_boundary(AsWide(name), flags)) : kNullHandle;
  }
  bool AddSIDToBoundaryDescriptor(Handle* boundary_descriptor, const Sid& required_sid) override {
    const NamespaceFunctions* f = NamespaceFunctions::Get();
    if (f == nullptr) return false;
    const PSID sid = AsSid(required_sid);
    if (sid == nullptr) {
      ::SetLastError(ERROR_INVALID_SID);
      return false;
    }
    HANDLE descriptor = reinterpret_cast<HANDLE>(*boundary_descriptor);
    const BOOL added = f->add_sid(&descriptor, sid);
    *boundary_descriptor = reinterpret_cast<Handle>(descriptor);
    return added != FALSE;
  }
  void DeleteBoundaryDescriptor(Handle boundary_descriptor) override {
    if (const NamespaceFunctions* f = NamespaceFunctions::Get()) {
      f->delete_boundary(reinterpret_cast<HANDLE>(boundary_descriptor));
    }
  }
  Handle CreatePrivateNamespaceW(const SecurityAttributes* attributes, Handle boundary_descriptor,
                                 const std::u16string& alias_prefix) override {
    const NamespaceFunctions* f = NamespaceFunctions::Get();
    if (f == nullptr) return kNullHandle;
    ScopedSecurity security(attributes);
    if (!security.valid()) return kNullHandle;
    return reinterpret_cast<Handle>(f->create_namespace(
        security.get(), reinterpret_cast<void*>(boundary_descriptor), AsWide(alias_prefix)));
  }
  Handle OpenPrivateNamespaceW(Handle boundary_descriptor,
                               const std::u16string& alias_prefix) override {
    const NamespaceFunctions* f = NamespaceFunctions::Get();
    return f ? reinterpret_cast<Handle>(f->open_namespace(
                   reinterpret_cast<void*>(boundary_descriptor), AsWide(alias_prefix)))
             : kNullHandle;
  }
  bool ClosePrivateNamespace(Handle namespace_handle, uint32_t flags) override {
    const NamespaceFunctions* f = NamespaceFunctions::Get();
    return f && f->close_namespace(reinterpret_cast<HANDLE>(namespace_handle), flags) != FALSE;
  }
  Handle CreateMutexW(const SecurityAttributes* attributes, bool initial_owner,
                      const std::u16string& name) override {
    ScopedSecurity security(attributes);
    if (!security.valid()) return kNullHandle;
    // The call sets ERROR_ALREADY_EXISTS for a mutex that was there; the
    // error is cleared first, so that a new one is told by ERROR_SUCCESS
    // whatever the system leaves then.
    ::SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<Handle>(
        ::CreateMutexW(security.get(), initial_owner ? TRUE : FALSE, AsWide(name)));
  }
  uint32_t GetLastError() override { return ::GetLastError(); }
  uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) override {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
  }
  bool TerminateProcess(Handle process, uint32_t exit_code) override {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exit_code) != FALSE;
  }
  bool CloseHandle(Handle handle) override {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<Processes> MakeProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace lexoria::platform::win32
