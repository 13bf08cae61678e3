#include "ui/messages.h"

#include "platform/dialogs.h"

namespace lexoria {

namespace {

constexpr char kQuestionCaptionRu[] = "Резонный вопрос";
constexpr char kQuestionCaptionEn[] = "Sound question";

// One box of either language, or, with nobody to answer it, none: a box on
// a desktop nobody sees would wait for ever. `taken` is the answer then.
int Show(Services& s, bool error, const std::string& english, const std::string& text,
         const std::string& caption, uint32_t flags, const uint16_t* language, int taken,
         uint32_t english_code_page) {
  BoxRecord box{error, english, /*shown=*/!s.ctx.Unattended, taken, english_code_page};
  if (box.shown) {
    box.answer =
        language != nullptr
            ? s.os.dialogs.MessageBoxExA(platform::kNullHandle, text, caption, flags, *language)
            : s.os.dialogs.MessageBoxA(platform::kNullHandle, text, caption, flags);
  }
  s.ctx.Record.boxes.push_back(box);
  return box.answer;
}

// A box in the interface language: the Russian text with language 25, or
// the English one.
int ShowInUiLanguage(Services& s, bool error, const std::string& english,
                     const std::string& russian, const std::string& caption_en,
                     const std::string& caption_ru, uint32_t flags, int taken,
                     uint32_t english_code_page = platform::kCpAcp) {
  if (s.ctx.RussianUi) {
    return Show(s, error, english, russian, caption_ru, flags, &kRussianLanguageId, taken,
                english_code_page);
  }
  return Show(s, error, english, english, caption_en, flags, nullptr, taken, english_code_page);
}

}  // namespace

void ShowError(Services& s, const std::string& english, const std::string& russian) {
  ShowInUiLanguage(s, /*error=*/true, english, russian, s.ctx.UpdateTitleEn, s.ctx.UpdateTitleRu,
                   kErrorBoxFlags, platform::kIdOk);
}

bool AskQuestion(Services& s, const std::string& english, const std::string& russian,
                 uint32_t english_code_page) {
  return ShowInUiLanguage(s, /*error=*/false, english, russian, kQuestionCaptionEn,
                          kQuestionCaptionRu, kQuestionBoxFlags, platform::kIdNo,
                          english_code_page) == platform::kIdYes;
}

bool AskQuestionWithCaption(Services& s, const std::string& text, const std::string& caption,
                            int32_t language_id, const std::string& english,
                            uint32_t english_code_page) {
  const auto language = static_cast<uint16_t>(static_cast<uint32_t>(language_id) & 0xFFFF);
  return Show(s, /*error=*/false, english, text, caption, kQuestionBoxFlags, &language,
              platform::kIdNo, english_code_page) == platform::kIdYes;
}

void ShowUncaughtFailure(Services& s, const std::string& description) {
  // Task-modal and owner-less: the flow is gone, nothing else of the setup's
  // is on screen but possibly the progress window, which this box stays above.
  const uint32_t flags =
      platform::kMbOk | platform::kMbIconStop | platform::kMbTaskModal | platform::kMbTopmost;
  const std::string text = description.empty() ? std::string("Unknown failure") : description;
  ShowInUiLanguage(s, /*error=*/true, text, text, s.ctx.UpdateTitleEn, s.ctx.UpdateTitleRu, flags,
                   platform::kIdOk);
}

}  // namespace lexoria
