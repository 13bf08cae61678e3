// The event log, recorded: every record reported, and failures on demand.
#ifndef LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_
#define LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace lexoria::testing {

class FakeEventLog final : public platform::EventLog {
 public:
  struct Record {
    std::string source;
    uint16_t type;
    uint16_t category;
    uint32_t event_id;
    std::vector<std::string> strings;
  };
  bool register_fails = false;
  bool report_fails = false;
  std::vector<Record> records;  // those reported, a failed report included
  int open_sources = 0;

  platform::Handle RegisterEventSourceW(const std::string& source_name) override {
    if (register_fails) return platform::kNullHandle;
    source_ = source_name;
    ++open_sources;
    return kSource;
  }
  bool ReportEventW(platform::Handle event_log, uint16_t type, uint16_t category, uint32_t event_id,
                    const std::vector<std::string>& strings) override {
    if (event_log != kSource) return false;
    records.push_back(Record{source_, type, category, event_id, strings});
    return !report_fails;
  }
  bool DeregisterEventSource(platform::Handle event_log) override {
    if (event_log != kSource) return false;
    --open_sources;
    return true;
  }

 private:
  static constexpr platform::Handle kSource = 0xCAFE;
  std::string source_;
};

}  // namespace lexoria::testing

#endif  // LEXORIA_TESTS_FAKES_FAKE_EVENT_LOG_H_
