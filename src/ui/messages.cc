#include "ui/messages.h"

#include <cstring>

#include "platform/dialogs.h"

namespace lexoria {

namespace {

// A piece's header in TaggedText: its code page and its length in bytes.
struct PieceHeader {
  uint32_t code_page;
  uint32_t length;
};

constexpr char kQuestionCaptionRu[] = "Резонный вопрос";
constexpr char kQuestionCaptionEn[] = "Sound question";

// One box of either language, or, with nobody to answer it, none: a box on
// a desktop nobody sees would wait for ever. `taken` is the answer then.
// `text` null: the box shows the English text. Each text is converted once,
// the English one for the box and the record alike. The record notes the box
// first, as one that could not be shown until it has been answered.
int Show(Services& s, bool error, const TaggedText& english, const TaggedText* text,
         const TaggedText& caption, uint32_t flags, const uint16_t* language, int taken) {
  platform::SystemInfo& system = s.os.system;
  const bool shown = !s.ctx.Unattended && !s.ctx.Options.quiet;
  BoxRecord& box = s.ctx.Record.boxes.emplace_back(
      BoxRecord{error, english.ToUtf16(system), shown, shown ? 0 : taken});
  if (box.shown) {
    const std::u16string other = text != nullptr ? text->ToUtf16(system) : std::u16string();
    const std::u16string& words = text != nullptr ? other : box.english;
    const std::u16string title = caption.ToUtf16(system);
    box.answer =
        language != nullptr
            ? s.os.dialogs.MessageBoxExW(platform::kNullHandle, words, title, flags, *language)
            : s.os.dialogs.MessageBoxW(platform::kNullHandle, words, title, flags);
  }
  return box.answer;
}

// A box in the interface language: the Russian text with language 25, or
// the English one. `russian` null: the English text in both. The captions
// are the setup's own words.
int ShowInUiLanguage(Services& s, bool error, const TaggedText& english, const TaggedText* russian,
                     const std::string& caption_en, const std::string& caption_ru, uint32_t flags,
                     int taken) {
  const bool in_russian = s.ctx.RussianUi;
  return Show(s, error, english, in_russian ? russian : nullptr,
              OwnText(in_russian ? caption_ru : caption_en), flags,
              in_russian ? &kRussianLanguageId : nullptr, taken);
}

}  // namespace

TaggedText::TaggedText(uint32_t code_page, std::string_view text) {
  if (text.empty()) return;
  const PieceHeader header{code_page, static_cast<uint32_t>(text.size())};
  pieces_.append(reinterpret_cast<const char*>(&header), sizeof(header));
  pieces_.append(text.data(), text.size());
}

// Out of line: texts are joined in many places, and the setup is kept small.
TaggedText& TaggedText::operator+=(const TaggedText& more) {
  pieces_ += more.pieces_;
  return *this;
}

TaggedText operator+(TaggedText text, const TaggedText& more) {
  text += more;
  return text;
}

std::u16string TaggedText::ToUtf16(platform::SystemInfo& system) const {
  std::u16string text;
  for (size_t at = 0; at + sizeof(PieceHeader) <= pieces_.size();) {
    PieceHeader header;
    std::memcpy(&header, pieces_.data() + at, sizeof(header));
    at += sizeof(header);
    text += system.MultiByteToWideChar(header.code_page, pieces_.substr(at, header.length));
    at += header.length;
  }
  return text;
}

void ShowError(Services& s, const TaggedText& english, const TaggedText& russian) {
  ShowInUiLanguage(s, /*error=*/true, english, &russian, s.ctx.UpdateTitleEn, s.ctx.UpdateTitleRu,
                   kErrorBoxFlags, platform::kIdOk);
}

void ShowInformation(Services& s, const TaggedText& english, const TaggedText& russian) {
  // An OK box as the error box is, but of its own kind in the record.
  ShowInUiLanguage(s, /*error=*/true, english, &russian, s.ctx.UpdateTitleEn, s.ctx.UpdateTitleRu,
                   kInformationBoxFlags, platform::kIdOk);
  s.ctx.Record.boxes.back().information = true;
}

void ShowFileError(Services& s, const char* english, const char* russian, const std::string& file) {
  const TaggedText name = SystemText(file);
  TaggedText english_text(kOwnCodePage, english);
  english_text += name;
  TaggedText russian_text(kOwnCodePage, russian);
  russian_text += name;
  ShowError(s, english_text, russian_text);
}

bool AskQuestion(Services& s, const TaggedText& english, const TaggedText& russian) {
  return ShowInUiLanguage(s, /*error=*/false, english, &russian, kQuestionCaptionEn,
                          kQuestionCaptionRu, kQuestionBoxFlags,
                          platform::kIdNo) == platform::kIdYes;
}

bool AskQuestionWithCaption(Services& s, const TaggedText& text, const TaggedText& caption,
                            int32_t language_id, const TaggedText& english) {
  const auto language = static_cast<uint16_t>(static_cast<uint32_t>(language_id) & 0xFFFF);
  // The text as its own English form is converted once.
  return Show(s, /*error=*/false, english, &english == &text ? nullptr : &text, caption,
              kQuestionBoxFlags, &language, platform::kIdNo) == platform::kIdYes;
}

void ShowUncaughtFailure(Services& s, const std::string& description) {
  // Task-modal and owner-less: the flow is gone, nothing else of the setup's
  // is on screen but possibly the progress window, which this box stays above.
  const uint32_t flags =
      platform::kMbOk | platform::kMbIconStop | platform::kMbTaskModal | platform::kMbTopmost;
  const TaggedText text =
      description.empty() ? TaggedText("Unknown failure") : SystemText(description);
  ShowInUiLanguage(s, /*error=*/true, text, /*russian=*/nullptr, s.ctx.UpdateTitleEn,
                   s.ctx.UpdateTitleRu, flags, platform::kIdOk);
}

}  // namespace lexoria
