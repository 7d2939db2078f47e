// The fixture of the accumulation tests: a language table of the texts the
// counting and the period end read, and requests made as count_request
// receives them.
#ifndef SORVIK_TESTS_ANALYSIS_ACCUMULATION_FIXTURE_H_
#define SORVIK_TESTS_ANALYSIS_ACCUMULATION_FIXTURE_H_

#include "analysis/accumulation.h"

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/log_record.h"
#include "base/error_log.h"
#include "base/settings.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {

// One request as count_request receives it: the record fields it reads and
// the parsed values.
struct Request {
  std::string client = "192.0.2.1";
  std::string path = "/index.html";
  std::string extension = ".HTM";
  bool is_page = true;
  std::string status = "200";
  std::string referrer = "-";
  std::string agent = "Mozilla/5.0 (X11; Linux x86_64)";
  std::string stamp = "[30/Apr/2002:13:05:33";
  int hour = 13;
  int minute = 5;
  int64_t kbytes = 4;
};

using Keys = std::vector<std::string>;

class AccumulationTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages(43);
    messages[5] = "Week";
    messages[6] = "of";
    messages[7] = "Month";
    messages[8] = "Year";
    messages[9] = "unnamed";
    messages[15] = "Unknown return code";
    messages[17] = "Writing report";
    messages[18] = "done.";
    set_group_lines(kMessages, messages);
    set_group_lines(kReturnCodes,
                    {"Other code", "200 OK", "4041 too long", "404 Not Found", "200 Fine"});
    std::vector<std::string> html(26);
    html[4] = "key";
    html[5] = "hits";
    html[6] = "kB";
    html[7] = "visits";
    html[13] = "by";
    html[25] = "Volume";
    set_group_lines(kHtml, html);
    std::vector<std::string> host_texts(8);
    host_texts[7] = "other agent";
    set_group_lines(kHosts, host_texts);
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      list_set_title(slot, "T" + std::to_string(slot));
    }

    settings.target_dir = ".";
    settings.html_out = false;
    settings.html_week = settings.html_month = settings.html_year = false;
    settings.errlog_file = "errlog.txt";
    error_log_open();
    analysis.current_log_path = "logs/a.23";
    resolver_.install();
    take_console_output();
  }

  void count(const Request& r) {
    LogRecord& record = analysis.record;
    record.field[kFieldClient] = r.client;
    record.field[kFieldTimeStamp] = r.stamp;
    record.field[kFieldStatus] = r.status;
    record.field[kFieldServerHost] = "www.example.org";
    record.field[kFieldReferrer] = r.referrer;
    record.field[kFieldAgent] = r.agent;
    RequestInfo info;
    info.path = r.path;
    info.extension = r.extension;
    info.is_page = r.is_page;
    info.kbytes = r.kbytes;
    info.time = pack_time(
        TimeStamp{2002, 4, 30, static_cast<uint16_t>(r.hour), static_cast<uint16_t>(r.minute), 33});
    count_request(record, info, tally_);
  }

  // A tally that owes only what `owes` sets, as a counting child's does
  // while it counts a stretch.
  static StretchTally tally_owing(bool paths, bool directories, bool agents, bool pages) {
    StretchTally tally;
    reset_stretch_tally(tally);
    tally.path_lists_owed = paths;
    tally.directories_owed = directories;
    tally.agents_owed = agents;
    tally.client_pages_owed = pages;
    return tally;
  }

  // Counted with this tally, or as a run mode counts when it is nullptr.
  StretchTally* tally_ = nullptr;

  static Request image(const std::string& path, const std::string& extension) {
    Request r;
    r.path = path;
    r.extension = extension;
    r.is_page = false;
    return r;
  }

  // The entries of the text report's section of list `slot` sorted by
  // `caption`, as "key=value".
  static std::vector<std::string> section(const std::string& report, int slot,
                                          const std::string& caption) {
    const std::string head = " T" + std::to_string(slot) + "by " + caption + "\n";
    std::vector<std::string> result;
    std::size_t at = report.find(head);
    if (at == std::string::npos) return result;
    at += head.size();
    for (;;) {
      const std::size_t end = report.find('\n', at);
      const std::string line = report.substr(at, end - at);
      if (line == "---" || end == std::string::npos) break;
      const std::string key = line.substr(0, line.find(" ."));
      const std::size_t number_end = line.rfind(' ');
      const std::size_t number_start = line.rfind(' ', number_end - 1) + 1;
      result.push_back(key + "=" + line.substr(number_start, number_end - number_start));
      at = end + 1;
    }
    return result;
  }

  // The entries of the period lists 1..20.
  static std::vector<std::vector<ListEntry>> period_entries() {
    std::vector<std::vector<ListEntry>> entries;
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      entries.push_back(list_snapshot(slot).entries);
    }
    return entries;
  }

  // A request for `path`, `minute` minutes after 10:00.
  static Request path_request(const std::string& path, int minute, int64_t kbytes) {
    Request r;
    r.path = path;
    classify_path(path, r.extension, r.is_page);
    r.minute = minute % 60;
    r.hour = 10 + minute / 60;
    r.kbytes = kbytes;
    return r;
  }

  // Empties the period lists, which then keep their entries' first times as
  // a counting child's do.
  static void clear_lists_keeping_first_times() {
    clear_period_lists();
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      lists.list_slots[slot].keep_first_times = true;
    }
  }

  // What the reports show of a list whose visits and latest times are not
  // shown (a list made from another at the end of a stretch).
  struct ShownList {
    Keys keys;
    std::vector<uint64_t> hits;
    std::vector<int64_t> kbytes;
    std::vector<PackedTime> first_times;
    int32_t count = 0;
    uint64_t total_hits = 0;
    int64_t total_kbytes = 0;
    bool operator==(const ShownList&) const = default;
  };
  static ShownList shown_list(int slot) {
    const CountedList& list = list_snapshot(slot);
    ShownList shown;
    for (const ListEntry& entry : list.entries) {
      shown.keys.emplace_back(entry.key);
      shown.hits.push_back(entry.hits);
      shown.kbytes.push_back(entry.kbytes);
    }
    shown.first_times = list.first_times;
    shown.count = list.count;
    shown.total_hits = list.total_hits;
    shown.total_kbytes = list.total_kbytes;
    return shown;
  }

  FakeResolver resolver_;
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_ANALYSIS_ACCUMULATION_FIXTURE_H_
