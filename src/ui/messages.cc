#include "ui/messages.h"

#include "platform/dialogs.h"

namespace lexoria {

namespace {

constexpr char kQuestionCaptionRu[] = "Резонный вопрос";
constexpr char kQuestionCaptionEn[] = "Sound question";

}  // namespace

void ShowError(Services& s, const std::string& english, const std::string& russian) {
  if (s.ctx.RussianUi) {
    s.os.dialogs.MessageBoxExA(platform::kNullHandle, russian, s.ctx.UpdateTitleRu, kErrorBoxFlags,
                               kRussianLanguageId);
  } else {
    s.os.dialogs.MessageBoxA(platform::kNullHandle, english, s.ctx.UpdateTitleEn, kErrorBoxFlags);
  }
}

bool AskQuestion(Services& s, const std::string& english, const std::string& russian) {
  int answer;
  if (s.ctx.RussianUi) {
    answer = s.os.dialogs.MessageBoxExA(platform::kNullHandle, russian, kQuestionCaptionRu,
                                        kQuestionBoxFlags, kRussianLanguageId);
  } else {
    answer = s.os.dialogs.MessageBoxA(platform::kNullHandle, english, kQuestionCaptionEn,
                                      kQuestionBoxFlags);
  }
  return answer == platform::kIdYes;
}

bool AskQuestionWithCaption(Services& s, const std::string& text, const std::string& caption,
                            int32_t language_id) {
  const auto language = static_cast<uint16_t>(static_cast<uint32_t>(language_id) & 0xFFFF);
  return s.os.dialogs.MessageBoxExA(platform::kNullHandle, text, caption, kQuestionBoxFlags,
                                    language) == platform::kIdYes;
}

void ShowUncaughtFailure(Services& s, const std::string& description) {
  // Task-modal and owner-less: the flow is gone, nothing else of the setup's
  // is on screen but possibly the progress window, which this box stays above.
  const uint32_t flags =
      platform::kMbOk | platform::kMbIconStop | platform::kMbTaskModal | platform::kMbTopmost;
  const std::string text = description.empty() ? std::string("Unknown failure") : description;
  if (s.ctx.RussianUi) {
    s.os.dialogs.MessageBoxExA(platform::kNullHandle, text, s.ctx.UpdateTitleRu, flags,
                               kRussianLanguageId);
  } else {
    s.os.dialogs.MessageBoxA(platform::kNullHandle, text, s.ctx.UpdateTitleEn, flags);
  }
}

}  // namespace lexoria
