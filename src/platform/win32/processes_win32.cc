// Process start and shell services (kernel32, shell32; ole32 and oleaut32
// for the desktop shell).
#include <windows.h>
// windows.h first: the shell headers build on its types.
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

// The calling thread's COM apartment for one call: CoInitialize when the
// owner is made, the matching CoUninitialize when it ends. Declared before
// any ComRef of the call, so that every interface is released first.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitialize(/*pvReserved=*/nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // S_FALSE (already initialized on this thread) counts: it is balanced too.
  bool ready() const { return SUCCEEDED(result_); }

 private:
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
  ScopedVariant() { ::VariantInit(&value_); }
  ~ScopedVariant() { ::VariantClear(&value_); }
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
    BSTR string = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (string == nullptr) return false;
    ::VariantClear(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = string;
    return true;
  }
  void SetNumber(LONG number) {
    ::VariantClear(&value_);
    value_.vt = VT_I4;
    value_.lVal = number;
  }

 private:
  VARIANT value_;
};

class Win32Processes final : public Processes {
 public:
  bool IsUserAnAdmin() override { return ::IsUserAnAdmin() != FALSE; }
  uintptr_t ShellExecuteA(HWnd owner, const std::string& operation, const std::string& file,
                          const std::string& parameters, const std::string& directory,
                          int show_command) override {
    return reinterpret_cast<uintptr_t>(
        ::ShellExecuteA(reinterpret_cast<HWND>(owner), operation.c_str(), file.c_str(),
                        parameters.c_str(), directory.c_str(), show_command));
  }
  bool ShellExecuteOnDesktop(const std::string& operation, const std::string& file,
                             const std::string& parameters, const std::string& directory,
                             int show_command) override {
    ComApartment apartment;
    if (!apartment.ready()) return false;

    // The desktop is the shell window at CSIDL_DESKTOP; the shell serves it
    // from its own process, so what its dispatch starts runs there.
    ComRef<IShellWindows> windows;
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, /*pUnkOuter=*/nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IShellWindows, windows.put_void()))) {
      return false;
    }
    ScopedVariant location;
    location.SetNumber(CSIDL_DESKTOP);
    ScopedVariant root;  // VT_EMPTY
    LONG desktop_window = 0;
    ComRef<IDispatch> desktop;
    // S_FALSE means "no such window", with no dispatch handed out.
    if (windows->FindWindowSW(&location.get(), &root.get(), SWC_DESKTOP, &desktop_window,
                              SWFO_NEEDDISPATCH, desktop.put()) != S_OK ||
        desktop.get() == nullptr) {
      return false;
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
      return false;
    }

    // The dispatch takes wide text: the ANSI arguments are converted from
    // the code page they were made in.
    ScopedVariant file_text;
    ScopedVariant arguments;
    ScopedVariant folder;
    ScopedVariant verb;
    ScopedVariant show;
    if (!file_text.SetText(file) || !arguments.SetText(parameters) || !folder.SetText(directory) ||
        !verb.SetText(operation)) {
      return false;
    }
    show.SetNumber(show_command);
    return SUCCEEDED(shell->ShellExecute(file_text.get().bstrVal, arguments.get(), folder.get(),
                                         verb.get(), show.get()));
  }
  bool SetCurrentDirectoryA(const std::string& path) override {
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
  }
  bool CreateProcessA(const std::string& application, const std::string& command_line,
                      uint32_t creation_flags, const StartupInfo& startup,
                      ProcessInformation* info) override {
    STARTUPINFOA si;
    ::ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = startup.flags;
    si.wShowWindow = startup.show_window;
    PROCESS_INFORMATION pi;
    ::ZeroMemory(&pi, sizeof(pi));
    // CreateProcessA may write into the command line: give it a copy.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    if (!::CreateProcessA(application.c_str(), line.data(),
                          /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                          /*bInheritHandles=*/FALSE, creation_flags, /*lpEnvironment=*/nullptr,
                          /*lpCurrentDirectory=*/nullptr, &si, &pi)) {
      return false;
    }
    info->process = reinterpret_cast<Handle>(pi.hProcess);
    info->thread = reinterpret_cast<Handle>(pi.hThread);
    return true;
  }
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
