// LangUnit: texts looked up by key in the language-support files.
#ifndef LEXORIA_UI_LANG_UNIT_H_
#define LEXORIA_UI_LANG_UNIT_H_

namespace lexoria {

class LangUnit {
 public:
  LangUnit() = default;
};

}  // namespace lexoria

#endif  // LEXORIA_UI_LANG_UNIT_H_
