// LangUnit: texts looked up by key in the language-support files under
// InstallDir + "language\".
#ifndef LEXORIA_UI_LANG_UNIT_H_
#define LEXORIA_UI_LANG_UNIT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/services.h"

namespace lexoria {

// The process-wide look-up state. Main thread only.
class LangUnit {
 public:
  LangUnit() = default;
  std::vector<std::string> LanguageFileNames;
  int32_t FallbackLanguageIndexRu = -1;
  int32_t FallbackLanguageIndexEn = -1;
  bool MultiLinePending = true;
};

// The single-line value of `key` in the current language file, else in the
// fallback file. Never raises; failures are reported with an error box.
std::string LookupLanguageString(Services& s, const std::string& key);
// The multi-line value of `key`; with `drop_first_line` the value line itself
// is left out.
std::string LookupLanguageText(Services& s, const std::string& key, bool drop_first_line);
// LookupLanguageText with "%1" to "%4" replaced by `arguments` in turn.
std::string FormatLanguageText(Services& s, const std::string& key,
                               const std::vector<std::string>& arguments, bool drop_first_line);

}  // namespace lexoria

#endif  // LEXORIA_UI_LANG_UNIT_H_
