#include "install/file_holders.h"

#include "platform/scope_exit.h"

namespace lexoria {

namespace {

// Appends the decimal digits of `number`.
void AppendNumber(std::u16string& text, uint32_t number) {
  char16_t digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) text += digits[--count];
}

}  // namespace

std::vector<platform::RmProcessInfo> ProgramsHolding(platform::RestartManager& rm,
                                                     const std::u16string& path) {
  std::vector<platform::RmProcessInfo> holders;
  if (path.empty()) return holders;
  uint32_t session = 0;
  if (rm.RmStartSession(&session) != platform::kErrorSuccess) return holders;
  // Also when the list raises (no memory for it).
  const platform::ScopeExit end_session([&] { rm.RmEndSession(session); });
  uint32_t reboot_reasons = 0;
  if (rm.RmRegisterResources(session, {path}) != platform::kErrorSuccess ||
      rm.RmGetList(session, &holders, &reboot_reasons) != platform::kErrorSuccess) {
    holders.clear();
  }
  return holders;
}

std::u16string DescribeHolder(const platform::RmProcessInfo& holder) {
  std::u16string text = u"Held by ";
  text += holder.app_name.empty() ? std::u16string_view(u"a program") : holder.app_name;
  text += u" (process ";
  AppendNumber(text, holder.process_id);
  text += u", session ";
  AppendNumber(text, holder.session_id);
  text += u").";
  return text;
}

}  // namespace lexoria
