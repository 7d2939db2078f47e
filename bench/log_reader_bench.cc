// Measures the reading of access logs alone: reads the files named on the
// command line record by record (read_record) and parses each record
// (parse_request_into), as a run mode does before it counts, five times
// over, and prints the processor time of the fastest round and the records
// it read per second of it. The lines are cut in the reading thread itself
// (no second thread), so that the processor time is that of the cutting,
// the hints and the parsing together.
//
// Usage: build/log_reader_bench FILE...
// e.g.   build/log_reader_bench /tmp/pbench/1000000/logs/access.*
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"

namespace {

double processor_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Counts the reports instead of showing them.
void count_report(void* context, std::string_view, const sorvik::MalformedLine&) {
  *static_cast<int64_t*>(context) += 1;
}
void count_damage(void* context, std::string_view, std::string_view) {
  *static_cast<int64_t*>(context) += 1;
}
void count_method(void* context, const sorvik::RecordPlace&, std::string_view) {
  *static_cast<int64_t*>(context) += 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sorvik;
  if (argc < 2) {
    std::fputs("usage: log_reader_bench FILE...\n", stderr);
    return 2;
  }
  const std::vector<std::string> files(argv + 1, argv + argc);
  reset_settings();
  settings.host_url = "www.example.org";
  int64_t reports = 0;
  LogReporter reporter;
  reporter.context = &reports;
  reporter.malformed_line = count_report;
  reporter.damaged_data = count_damage;
  reporter.unknown_method = count_method;
  double best = 0;
  int64_t records = 0;
  long double bytes = 0;  // the period's bytes, as a run mode adds them
  for (int round = 0; round < 5; ++round) {
    records = 0;
    const double start = processor_seconds();
    LogRecord record;
    RequestInfo info;
    for (const std::string& file : files) {
      open_log(file, {}, ReaderOptions{.reading_thread = false});
      int32_t number = 0;
      while (read_record(record, reporter) == kRecordFields) {
        parse_request_into(record, {file, ++number}, reporter, info);
        bytes += static_cast<long double>(info.size);
      }
      records += number;
    }
    close_log();
    const double seconds = processor_seconds() - start;
    if (round == 0 || seconds < best) best = seconds;
  }
  std::printf(
      "%lld records, %.3f s of processor time, %.0f records/s (%.0Lf bytes, %lld reports)\n",
      static_cast<long long>(records), best, static_cast<double>(records) / best, bytes,
      static_cast<long long>(reports));
  return 0;
}
