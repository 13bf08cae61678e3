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
  std::string function;  // "MessageBoxA" or "MessageBoxExA"
  platform::HWnd owner = 0;
  std::string text;
  std::string caption;
  uint32_t type = 0;
  std::optional<uint16_t> language;  // only for MessageBoxExA
};

class FakeDialogs final : public platform::Dialogs {
 public:
  // Answers given in order to boxes with Yes/No buttons. When none is left a
  // question gets `default_answer`; boxes with an OK button get IDOK.
  void Answer(int result) { answers_.push_back(result); }
  int default_answer = platform::kIdNo;
  // Called on every box, before it is answered (e.g. to look at files then).
  std::function<void(const BoxCall&)> on_box;

  const std::vector<BoxCall>& calls() const { return calls_; }

  int MessageBoxA(platform::HWnd owner, const std::string& text, const std::string& caption,
                  uint32_t type) override {
    return Record(BoxCall{"MessageBoxA", owner, text, caption, type, std::nullopt});
  }
  int MessageBoxExA(platform::HWnd owner, const std::string& text, const std::string& caption,
                    uint32_t type, uint16_t language_id) override {
    return Record(BoxCall{"MessageBoxExA", owner, text, caption, type, language_id});
  }

 private:
  int Record(BoxCall call) {
    calls_.push_back(call);
    if (on_box) on_box(calls_.back());
    if ((call.type & 0xF) != platform::kMbYesNo) return platform::kIdOk;
    if (answers_.empty()) return default_answer;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  std::deque<int> answers_;
  std::vector<BoxCall> calls_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_DIALOGS_H_
