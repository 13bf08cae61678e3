// The setup's two kinds of message box, the error box and the yes/no
// question, each in the interface language that RussianUi selects.
#ifndef LEXORIA_UI_MESSAGES_H_
#define LEXORIA_UI_MESSAGES_H_

#include <cstdint>
#include <string>

#include "base/services.h"

namespace lexoria {

// MB_OK | MB_ICONSTOP | MB_SERVICE_NOTIFICATION
inline constexpr uint32_t kErrorBoxFlags = 0x00200010;
// MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST
inline constexpr uint32_t kQuestionBoxFlags = 0x00042024;
// Russian, neutral sublanguage: the language of the boxes' own buttons.
inline constexpr uint16_t kRussianLanguageId = 25;

// Every box is noted in ctx.Record with its English text and its answer. In
// an unattended run (ctx.Unattended) no box is shown: each takes at once the
// answer that changes least, OK for an error and No for a question.
//
// The record takes an English text to be in the system's ANSI code page
// (kCpAcp): the setup's own words there are ASCII, and the rest (a path, a
// language file's text, a failure's description) came from the system. A
// question whose English text is the setup's own words with the package
// title, code page 1251 text whatever the system's, passes kOwnCodePage.

// Shows the Russian text (caption UpdateTitleRu, language 25) when RussianUi
// is set, else the English one (caption UpdateTitleEn). Returns when the box
// is closed; a box that cannot be shown is passed over.
void ShowError(Services& s, const std::string& english, const std::string& russian);

// The question in the interface language: caption "Резонный вопрос" and
// language 25, or "Sound question". True only when the user answered Yes; a
// box that cannot be shown counts as No.
bool AskQuestion(Services& s, const std::string& english, const std::string& russian,
                 uint32_t english_code_page = platform::kCpAcp);

// A question with its own caption and the low 16 bits of `language_id`,
// whatever the interface language. True only for Yes. `english` is the text
// the record keeps (the text itself when it has no English form).
bool AskQuestionWithCaption(Services& s, const std::string& text, const std::string& caption,
                            int32_t language_id, const std::string& english,
                            uint32_t english_code_page = platform::kCpAcp);

// The box of a failure that no operation handled: task-modal, with the
// failure's description, in the interface language's caption.
void ShowUncaughtFailure(Services& s, const std::string& description);

}  // namespace lexoria

#endif  // LEXORIA_UI_MESSAGES_H_
