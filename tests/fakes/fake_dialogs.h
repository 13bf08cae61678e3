// Message boxes that record what they were asked to show and answer from a
// script.
#ifndef LEXORIA_TESTS_FAKES_FAKE_DIALOGS_H_
#define LEXORIA_TESTS_FAKES_FAKE_DIALOGS_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace lexoria::testing {

struct BoxCall {
  std::string function;  // "MessageBoxW" or "MessageBoxExW"
  platform::HWnd owner = 0;
  std::u16string text;  // UTF-16, as the box shows it
  std::u16string caption;
  uint32_t type = 0;
  std::optional<uint16_t> language;  // only for MessageBoxExW
};

class FakeDialogs final : public platform::Dialogs {
 public:
  // Answers given in order to boxes with Yes/No buttons. When none is left a
  // question gets `default_answer`; boxes with an OK button get IDOK. A box
  // the real call refuses is recorded and gets 0, as it shows none: a service
  // notification with an owner window (it must have none), or buttons of no
  // kind the call knows (above MB_CANCELTRYCONTINUE).
  void Answer(int result) { answers_.push_back(result); }
  int default_answer = platform::kIdNo;
  // Called on every box, before it is answered (e.g. to look at files then).
  std::function<void(const BoxCall&)> on_box;

  const std::vector<BoxCall>& calls() const { return calls_; }

  int MessageBoxW(platform::HWnd owner, const std::u16string& text, const std::u16string& caption,
                  uint32_t type) override {
    return Record(BoxCall{"MessageBoxW", owner, text, caption, type, std::nullopt});
  }
  int MessageBoxExW(platform::HWnd owner, const std::u16string& text, const std::u16string& caption,
                    uint32_t type, uint16_t language_id) override {
    return Record(BoxCall{"MessageBoxExW", owner, text, caption, type, language_id});
  }

 private:
  int Record(BoxCall call) {
    calls_.push_back(call);
    if (((call.type & platform::kMbServiceNotification) != 0 && call.owner != 0) ||
        (call.type & 0xF) > kMbCancelTryContinue) {
      return 0;
    }
    if (on_box) on_box(calls_.back());
    if ((call.type & 0xF) != platform::kMbYesNo) return platform::kIdOk;
    if (answers_.empty()) return default_answer;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  static constexpr uint32_t kMbCancelTryContinue = 0x6;

  std::deque<int> answers_;
  std::vector<BoxCall> calls_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_DIALOGS_H_
