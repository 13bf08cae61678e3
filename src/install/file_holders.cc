#include "install/file_holders.h"

namespace lexoria {

namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::vector<platform::RmProcessInfo> ProgramsHolding(platform::RestartManager& rm,
                                                     const std::u16string& path) {
  std::vector<platform::RmProcessInfo> holders;
  if (path.empty()) return holders;
  uint32_t session = 0;
  if (rm.RmStartSession(&session) != platform::kErrorSuccess) return holders;
  uint32_t reboot_reasons = 0;
  if (rm.RmRegisterResources(session, {path}) != platform::kErrorSuccess ||
      rm.RmGetList(session, &holders, &reboot_reasons) != platform::kErrorSuccess) {
    holders.clear();
  }
  rm.RmEndSession(session);
  return holders;
}

std::u16string DescribeHolder(const platform::RmProcessInfo& holder) {
  const std::u16string name = holder.app_name.empty() ? u"a program" : holder.app_name;
  return u"Held by " + name + u" (process " + Ascii(std::to_string(holder.process_id)) +
         u", session " + Ascii(std::to_string(holder.session_id)) + u").";
}

}  // namespace lexoria
