// One access-log record, its parsed form, and the analysis run state shared by
// the reader, the run modes and the accumulation.
#ifndef SORVIK_ANALYSIS_LOG_RECORD_H_
#define SORVIK_ANALYSIS_LOG_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logs/log_file_selection.h"
#include "logs/log_record.h"
#include "logs/read_ahead.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"

namespace sorvik {

// A client's first request in the lists being counted: what the entry pages
// count when the client is new to a period.
struct FirstRequest {
  bool is_page = false;
  std::string path;
  int64_t kbytes = 0;
  PackedTime time = 0;
};

// The end of a period of a run mode: what the result entry and the period's
// reports are made from.
struct PeriodEnd {
  int mode = 0;
  std::string period;  // the page name, e.g. "2026m10"
  bool complete = false;
  std::string log;  // the log file the period began in
  std::string number;
  std::string year;
};

// The run state the reading, the run modes and the accumulation share.
struct AnalysisState {
  LogRecord record;
  // Number of the current record within its file, as the run modes count it.
  int32_t record_number = 0;
  // log_dir + name of the log file being read; source of error-log entries.
  std::string current_log_path;
  // Year text of the last record read by any run mode.
  std::string year_text;
  // The parsed form of the record being analysed; kept so that its texts
  // keep their memory from one record to the next.
  RequestInfo request;
  // Bytes of every request analysed in the current period.
  long double period_bytes = 0;
  // Selected log file names (without directory), sorted.
  std::vector<std::string> log_files;
  // Matching entries left out of log_files, in name order.
  std::vector<SkippedLogFile> skipped_log_files;

  // How the run modes read their log files.
  ReaderOptions reader_options;
};

extern AnalysisState analysis;

// Start-up state: no record, no files, zero counters.
void reset_analysis();

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_LOG_RECORD_H_
