// The setup's own windows, recorded.
#ifndef LEXORIA_TESTS_FAKES_FAKE_GUI_H_
#define LEXORIA_TESTS_FAKES_FAKE_GUI_H_

#include "platform/gui.h"

namespace lexoria::testing {

class FakeGui final : public platform::Gui {
 public:
  int GetSystemMetrics(int index) override { return index == 0 ? 1024 : 768; }
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_GUI_H_
