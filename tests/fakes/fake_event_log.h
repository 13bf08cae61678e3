// The event log: every record reported, and failures on demand.
#ifndef LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_
#define LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_

#include <string>
#include <vector>

#include "platform/event_log.h"

namespace lexoria::testing {

class FakeEventLog final : public platform::EventLog {
 public:
  struct Record {
    std::u16string source;
    uint16_t type;
    uint32_t event_id;
    std::vector<std::u16string> strings;
  };
  bool register_fails = false, report_fails = false;
  std::vector<Record> records;  // every report, a failed one too
  int open_sources = 0;

  platform::Handle RegisterEventSourceW(const std::u16string& source_name) override {
    source_ = source_name;
    return register_fails ? platform::kNullHandle : (++open_sources, 0xCAFE);
  }
  bool ReportEventW(platform::Handle, uint16_t type, uint16_t, uint32_t event_id,
                    const std::vector<std::u16string>& strings) override {
    records.push_back(Record{source_, type, event_id, strings});
    return !report_fails;
  }
  bool DeregisterEventSource(platform::Handle) override { return --open_sources, true; }

 private:
  std::u16string source_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_
