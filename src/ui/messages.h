// The setup's two kinds of message box, the error box and the yes/no
// question, each in the interface language that RussianUi selects; and
// TaggedText, the text of every box, of the progress window and of the run's
// record until it is converted for the wide Win32 calls.
#ifndef LEXORIA_UI_MESSAGES_H_
#define LEXORIA_UI_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/services.h"
#include "platform/system_info.h"

namespace lexoria {

// The code page of the setup's own texts: its narrow literals are compiled to
// code page 1251 bytes (-fexec-charset=CP1251), whatever the system's is.
inline constexpr uint32_t kOwnCodePage = 1251;

// A text kept as the narrow pieces it is built from, each with the code page
// it is in, until ToUtf16 converts it. The setup's own words are code page
// 1251 bytes whatever the system's code page is; what the system hands out
// through the ANSI calls is in the system's. A text that joins both (a
// Russian sentence and a path) has no one code page: converted whole from
// either, one part shows in wrong letters.
class TaggedText {
 public:
  TaggedText() = default;
  // A literal of the setup's own, in kOwnCodePage. Implicit, so that a
  // literal stands as it is where a TaggedText is taken; a text held in a
  // string says where it came from instead (OwnText, SystemText).
  template <size_t N>
  TaggedText(const char (&literal)[N])  // NOLINT(google-explicit-constructor)
      : TaggedText(kOwnCodePage, std::string_view(literal)) {}
  // `text` in `code_page` (kCpAcp for the system's).
  TaggedText(uint32_t code_page, std::string_view text);

  TaggedText& operator+=(const TaggedText& more);

  // The whole text as UTF-16: each piece converted from its own code page by
  // SystemInfo::MultiByteToWideChar, and the pieces joined. A piece the
  // system cannot convert (a code page it lacks) comes out empty.
  std::u16string ToUtf16(platform::SystemInfo& system) const;

 private:
  // Each piece as a header (its code page and length) and its bytes, one
  // after the other: a text is copied and joined as one string, which keeps
  // the many places that build texts small.
  std::string pieces_;
};

TaggedText operator+(TaggedText text, const TaggedText& more);

// Text the setup made of its own words (a title joined from literals, a
// number): kOwnCodePage.
inline TaggedText OwnText(std::string_view text) { return TaggedText(kOwnCodePage, text); }

// Text the system handed out through an ANSI call (a path, a registry value,
// a line of a language file, a failure's description): the system's ANSI
// code page, which those calls use.
inline TaggedText SystemText(std::string_view text) { return TaggedText(platform::kCpAcp, text); }

// MB_OK | MB_ICONSTOP | MB_SERVICE_NOTIFICATION
inline constexpr uint32_t kErrorBoxFlags = 0x00200010;
// MB_OK | MB_ICONINFORMATION | MB_SERVICE_NOTIFICATION
inline constexpr uint32_t kInformationBoxFlags = 0x00200040;
// MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST
inline constexpr uint32_t kQuestionBoxFlags = 0x00042024;
// Russian, neutral sublanguage: the language of the boxes' own buttons.
inline constexpr uint16_t kRussianLanguageId = 25;

// Every box is noted in ctx.Record with its English text and its answer. In
// an unattended run (ctx.Unattended), and where the command line asked for no
// box (/quiet), no box is shown: each takes at once the answer that changes
// least, OK for an error and No for a question.
//
// Texts and captions come as TaggedText, each piece in its own code page, and
// are converted to UTF-16 once per box for the wide box functions, the
// English text for the record alike: a box shows the same letters on a
// system of any code page.

// Shows the Russian text (caption UpdateTitleRu, language 25) when RussianUi
// is set, else the English one (caption UpdateTitleEn). Returns when the box
// is closed; a box that cannot be shown is passed over.
void ShowError(Services& s, const TaggedText& english, const TaggedText& russian);

// The same box with the information icon: a text the user asked for (the
// usage text), not a failure. The record keeps it as it keeps an error box.
void ShowInformation(Services& s, const TaggedText& english, const TaggedText& russian);

// ShowError about a file: each text the setup's own words followed directly
// by the file's path or name as the system gave it (the system's code page).
void ShowFileError(Services& s, const char* english, const char* russian, const std::string& file);

// The question in the interface language: caption "Резонный вопрос" and
// language 25, or "Sound question". True only when the user answered Yes; a
// box that cannot be shown counts as No.
bool AskQuestion(Services& s, const TaggedText& english, const TaggedText& russian);

// A question with its own caption and the low 16 bits of `language_id`,
// whatever the interface language. True only for Yes. `english` is the text
// the record keeps: `text` itself where it has no English form (a language
// file's).
bool AskQuestionWithCaption(Services& s, const TaggedText& text, const TaggedText& caption,
                            int32_t language_id, const TaggedText& english);

// The box of a failure that no operation handled: task-modal, with the
// failure's description (the system's code page), in the interface
// language's caption.
void ShowUncaughtFailure(Services& s, const std::string& description);

}  // namespace lexoria

#endif  // LEXORIA_UI_MESSAGES_H_
