// kernel32 resources of the running module.
#include <windows.h>

#include "platform/win32/adapters.h"

namespace lexoria::platform::win32 {

namespace {

class Win32Resources final : public Resources {
 public:
  Handle FindResourceA(const std::string& name, const std::string& type) override {
    return reinterpret_cast<Handle>(
        ::FindResourceA(/*hModule=*/nullptr, name.c_str(), type.c_str()));
  }
  uint32_t SizeofResource(Handle resource) override {
    return ::SizeofResource(/*hModule=*/nullptr, reinterpret_cast<HRSRC>(resource));
  }
  Handle LoadResource(Handle resource) override {
    return reinterpret_cast<Handle>(
        ::LoadResource(/*hModule=*/nullptr, reinterpret_cast<HRSRC>(resource)));
  }
  const uint8_t* LockResource(Handle loaded) override {
    return static_cast<const uint8_t*>(::LockResource(reinterpret_cast<HGLOBAL>(loaded)));
  }
  void FreeResource(Handle loaded) override {
    // Resources of the running module stay mapped with it; FreeResource is
    // obsolete on 32-bit Windows and does nothing there.
    ::FreeResource(reinterpret_cast<HGLOBAL>(loaded));
  }
};

}  // namespace

std::unique_ptr<Resources> MakeResources() { return std::make_unique<Win32Resources>(); }

}  // namespace lexoria::platform::win32
