// The three box forms on the fake dialogs: which function each uses, with
// which caption, flags and language id, and which answers count as Yes.
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"
#include "ui/lang_unit.h"
#include "ui/progress_window.h"

namespace lexoria {
namespace {

using testing::BoxCall;

class MessagesTest : public ::testing::Test {
 protected:
  MessagesTest() {
    ctx_.UpdateTitleRu = "Обновление Lexoria";
    ctx_.UpdateTitleEn = "Lexoria update";
  }

  testing::FakePlatform fake_;
  SetupContext ctx_;
  ProgressWindow progress_{fake_.os};
  LangUnit lang_;
  Services s_{ctx_, fake_.os, progress_, lang_};
};

// Tests that the error box picks text, caption, function and language id by
// RussianUi, with the stop icon on the active desktop and no owner.
TEST_F(MessagesTest, ShowErrorFollowsTheInterfaceLanguage) {
  for (const bool russian : {false, true}) {
    SCOPED_TRACE(russian ? "Russian" : "English");
    testing::FakePlatform fake;
    Services s{ctx_, fake.os, progress_, lang_};
    ctx_.RussianUi = russian;

    ShowError(s, "Can't install file D:\\L\\lxrq.pak",
              "Не удается установить файл D:\\L\\lxrq.pak");

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.function, russian ? "MessageBoxExW" : "MessageBoxW");
    EXPECT_EQ(box.owner, platform::kNullHandle);
    EXPECT_EQ(box.text, russian ? u"Не удается установить файл D:\\L\\lxrq.pak"
                                : u"Can't install file D:\\L\\lxrq.pak");
    EXPECT_EQ(box.caption, russian ? u"Обновление Lexoria" : u"Lexoria update");
    EXPECT_EQ(box.type, 0x00200010u);
    EXPECT_EQ(box.language, russian ? std::optional<uint16_t>(25) : std::nullopt);
  }
}

// Tests that each piece of a box is converted from its own code page, for the
// box and the record alike: the setup's words from 1251, a path from the
// system's (a folder named with letters code page 1251 lacks, on a Western
// system; its bytes read as Cyrillic on a Russian one, as they always did).
TEST_F(MessagesTest, EachPieceOfABoxComesFromItsOwnCodePage) {
  // C:\Éditions\lxrq.pak as the ANSI calls of a Western system (1252) give it.
  const std::string path = "C:\\\311ditions\\lxrq.pak";  // \311: É
  const struct Row {
    uint32_t ansi_code_page;
    std::u16string folder;
  } rows[] = {{1252, u"Éditions"}, {1251, u"Йditions"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ansi_code_page);
    testing::FakePlatform fake;
    fake.system.ansi_code_page = row.ansi_code_page;
    ctx_.RussianUi = true;
    ctx_.Record.boxes.clear();
    Services s{ctx_, fake.os, progress_, lang_};

    ShowFileError(s, "Can't install file ", "Не удается установить файл ", path);

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const std::u16string where = u"C:\\" + row.folder + u"\\lxrq.pak";
    EXPECT_EQ(fake.dialogs.calls()[0].text, u"Не удается установить файл " + where);
    EXPECT_EQ(fake.dialogs.calls()[0].caption, u"Обновление Lexoria");
    EXPECT_EQ(ctx_.Record.boxes.at(0).english, u"Can't install file " + where);
  }
}

// Tests the answers of both question forms in both languages: only IDYES is
// true; No, a box that could not be shown (0) and any other button are false.
TEST_F(MessagesTest, QuestionsAreTrueOnlyForYes) {
  struct Row {
    const char* message;
    int answer;
    bool expected;
  };
  const Row rows[] = {
      {"Yes", platform::kIdYes, true},
      {"No", platform::kIdNo, false},
      {"box could not be shown", 0, false},
      {"OK", platform::kIdOk, false},
      {"Cancel", 2, false},
  };
  for (const Row& row : rows) {
    for (const bool russian : {false, true}) {
      SCOPED_TRACE(std::string(row.message) + (russian ? ", Russian" : ", English"));
      testing::FakePlatform fake;
      Services s{ctx_, fake.os, progress_, lang_};
      ctx_.RussianUi = russian;
      fake.dialogs.Answer(row.answer);
      fake.dialogs.Answer(row.answer);

      EXPECT_EQ(AskQuestion(s, "english", "русский"), row.expected);
      EXPECT_EQ(AskQuestionWithCaption(s, "text", "caption", 25, "text"), row.expected);
    }
  }
}

// Tests each box kind attended and unattended: with nobody to answer, no box
// is shown and an error takes OK, a question No; the record keeps the English
// text and the answer either way.
TEST_F(MessagesTest, UnattendedRunsShowNoBoxAndEveryBoxIsRecorded) {
  bool (*const boxes[])(Services&) = {
      [](Services& s) { return ShowError(s, "Go on?", "Сбой"), true; },
      [](Services& s) { return AskQuestion(s, "Go on?", "Дальше?"); },
      [](Services& s) { return AskQuestionWithCaption(s, "Дальше?", "L", 25, "Go on?"); },
      [](Services& s) { return ShowUncaughtFailure(s, "Go on?"), true; }};
  for (size_t kind = 0; kind < 4; ++kind) {
    for (const bool unattended : {false, true}) {
      SCOPED_TRACE(std::to_string(kind) + (unattended ? " unattended" : " attended"));
      testing::FakePlatform fake;
      SetupContext ctx;
      ctx.Unattended = unattended;
      ctx.RussianUi = kind == 0;
      Services s{ctx, fake.os, progress_, lang_};
      fake.dialogs.default_answer = platform::kIdYes;
      const bool error = kind == 0 || kind == 3;

      EXPECT_EQ(boxes[kind](s), error || !unattended);

      EXPECT_EQ(fake.dialogs.calls().size(), unattended ? 0u : 1u);
      ASSERT_EQ(ctx.Record.boxes.size(), 1u);
      const BoxRecord& box = ctx.Record.boxes[0];
      EXPECT_EQ(std::make_tuple(box.error, box.english, box.shown),
                std::make_tuple(error, std::u16string(u"Go on?"), !unattended));
      EXPECT_EQ(box.answer, error        ? platform::kIdOk
                            : unattended ? platform::kIdNo
                                         : platform::kIdYes);
    }
  }
}

// Tests the question in the interface language: its caption, function,
// flags and language id.
TEST_F(MessagesTest, AskQuestionFollowsTheInterfaceLanguage) {
  for (const bool russian : {false, true}) {
    SCOPED_TRACE(russian ? "Russian" : "English");
    testing::FakePlatform fake;
    Services s{ctx_, fake.os, progress_, lang_};
    ctx_.RussianUi = russian;

    AskQuestion(s, "Would you like?", "Хотите?");

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.function, russian ? "MessageBoxExW" : "MessageBoxW");
    EXPECT_EQ(box.owner, platform::kNullHandle);
    EXPECT_EQ(box.text, russian ? u"Хотите?" : u"Would you like?");
    EXPECT_EQ(box.caption, russian ? u"Резонный вопрос" : u"Sound question");
    EXPECT_EQ(box.type, 0x00042024u);
    EXPECT_EQ(box.language, russian ? std::optional<uint16_t>(25) : std::nullopt);
  }
}

// Tests that the captioned question always uses MessageBoxExW with the given
// caption and the low 16 bits of the language id, whatever RussianUi says.
TEST_F(MessagesTest, AskQuestionWithCaptionPassesTheLowLanguageBits) {
  struct Row {
    const char* message;
    int32_t language_id;
    uint16_t expected;
  };
  const Row rows[] = {
      {"Russian neutral", 25, 25},
      {"no language file yet (-1)", -1, 0xFFFF},
      {"Russian, Russia", 0x0419, 0x0419},
      {"high bits dropped", 0x00070409, 0x0409},
      {"zero", 0, 0},
  };
  for (const Row& row : rows) {
    for (const bool russian : {false, true}) {
      SCOPED_TRACE(std::string(row.message) + (russian ? ", Russian" : ", English"));
      testing::FakePlatform fake;
      Services s{ctx_, fake.os, progress_, lang_};
      ctx_.RussianUi = russian;

      AskQuestionWithCaption(s, "Текст", "Заголовок", row.language_id, "Text");

      ASSERT_EQ(fake.dialogs.calls().size(), 1u);
      const BoxCall& box = fake.dialogs.calls()[0];
      EXPECT_EQ(box.function, "MessageBoxExW");
      EXPECT_EQ(box.owner, platform::kNullHandle);
      EXPECT_EQ(box.text, u"Текст");
      EXPECT_EQ(box.caption, u"Заголовок");
      EXPECT_EQ(box.type, 0x00042024u);
      EXPECT_EQ(box.language, std::optional<uint16_t>(row.expected));
    }
  }
}

// Tests that the box of an uncaught failure is task-modal with the stop icon,
// carries the description (or a fallback for an empty one) and the title of
// the interface language.
TEST_F(MessagesTest, UncaughtFailureBoxIsTaskModal) {
  struct Row {
    const char* message;
    bool russian;
    std::string description;
    std::u16string text;
  };
  const Row rows[] = {
      {"English", false, "Invalid data type for 'ProgramFilesDir'",
       u"Invalid data type for 'ProgramFilesDir'"},
      {"Russian", true, "Failed to set data for 'EstimatedSize'",
       u"Failed to set data for 'EstimatedSize'"},
      {"empty description", false, "", u"Unknown failure"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    testing::FakePlatform fake;
    Services s{ctx_, fake.os, progress_, lang_};
    ctx_.RussianUi = row.russian;

    ShowUncaughtFailure(s, row.description);

    ASSERT_EQ(fake.dialogs.calls().size(), 1u);
    const BoxCall& box = fake.dialogs.calls()[0];
    EXPECT_EQ(box.text, row.text);
    EXPECT_EQ(box.caption, row.russian ? u"Обновление Lexoria" : u"Lexoria update");
    EXPECT_EQ(box.owner, platform::kNullHandle);
    EXPECT_EQ(box.type & 0xF, platform::kMbOk);
    EXPECT_EQ(box.type & platform::kMbIconStop, platform::kMbIconStop);
    EXPECT_EQ(box.type & platform::kMbTaskModal, platform::kMbTaskModal);
    EXPECT_EQ(box.type & platform::kMbServiceNotification, 0u)
        << "a service notification cannot be task-modal";
  }
}

}  // namespace
}  // namespace lexoria
