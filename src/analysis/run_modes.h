// The three run modes that cut the log files into weeks, months and years.
#ifndef SORVIK_ANALYSIS_RUN_MODES_H_
#define SORVIK_ANALYSIS_RUN_MODES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/log_record.h"
#include "logs/log_reader.h"
#include "logs/log_reporter.h"

namespace sorvik {

// The direct parts of a RunSink, which a run mode read in its turn uses:
// console text written at once, a record counted into the period lists, a
// period recorded (record_result) and its reports written (flush_period),
// the quiet name-server check made. Their context is unused.
void write_console(void* context, std::string_view text);
void count_directly(void* context, const LogRecord& record, const RequestInfo& request);
void end_period_directly(void* context, const PeriodEnd& end);
void check_dns_directly(void* context);

// Where a run mode's visible steps go: what differs between a mode read in
// its turn and one counted ahead of it in a child process (or made from
// counted stretches). A sink as built carries every step out directly; a
// caller that records them, or carries them out otherwise, puts its own
// functions and context in. No function may be null.
struct RunSink {
  void* context = nullptr;
  // The run's own console text: its headings, each file read and its
  // record count (lines end in "\n").
  void (*console)(void* context, std::string_view text) = write_console;
  // What the reading and the parsing skip: malformed lines, damaged
  // compressed data, unknown methods.
  LogReporter reporter;
  // A record of an analysed period, parsed into `request` (its size added
  // to analysis.period_bytes): counts it.
  void (*count)(void* context, const LogRecord& record,
                const RequestInfo& request) = count_directly;
  // The end of a period: its result entry and its reports.
  void (*period_end)(void* context, const PeriodEnd& end) = end_period_directly;
  // The quiet name-server check between two files of the years run.
  void (*dns_check)(void* context) = check_dns_directly;
};

void run_weeks(const RunSink& sink);
// The weeks run, a file at a time: begin_weeks_run shows the heading and
// returns the index of the first file to read; read_week_file reads the
// file at an index (a counting child: a piece of it) and ends its week;
// end_week_file ends it once its records were taken in and its end shown.
std::size_t begin_weeks_run(const RunSink& sink);
void read_week_file(std::size_t k, const RunSink& sink, const LogPiece& piece = {});
void end_week_file(std::size_t k, const RunSink& sink);
void run_months(const RunSink& sink);
void run_years(const RunSink& sink);
// The index of the first selected file that the run mode reads (where it
// resumes); the number of files when it reads none.
std::size_t first_file_index(int mode);

// run_weeks, run_months or run_years for kModeWeeks, kModeMonths, kModeYears.
void run_mode(int mode, const RunSink& sink);

// A months or years run between two records: the period being read and
// whether its records are analysed.
struct PeriodRun {
  int mode = 0;
  bool months = false;
  std::string open_period;     // periods before it are read, not analysed
  std::size_t first_file = 0;  // index of the first file read
  std::string period_year;
  std::string period_number;
  // The year and the month ("00" for years) of the last record read that
  // was not late; they name the period still open at the end.
  std::string year;
  std::string number;
  bool active = false;
  std::size_t period_first_file = 0;
  // The calendar time (calendar_seconds) of the period's first record;
  // unknown when that record's time stamp does not convert.
  bool first_time_known = false;
  int64_t first_seconds = 0;
};

// A request that a server logs when it ends, stamped with its start, can
// follow records of the next month or year: a record of an earlier period
// than the one in progress, at most this long before that period's first
// record, is late and belongs to the period in progress.
inline constexpr int64_t kLateRecordSeconds = 3600;

// What one record's time stamp does to a months or years run (see
// advance_period): whether it is late, and whether it ended the period in
// progress, which was then `ended_year` and `ended_number` and analysed
// when `ended_active`.
struct PeriodAdvance {
  bool late = false;
  bool ended = false;
  bool ended_active = false;
  std::string ended_year;
  std::string ended_number;
};

// Takes the time stamp (field 4) of the next record into `run`, the first
// record of its file when `first_of_file`, and says what it did: a late
// record changes nothing; a record of another month (the year is not
// compared) or year ends the period in progress and begins its own, which
// is analysed when it is at or after the open period. The run's steps
// without their console, result entries and reports, so that the periods
// can be planned ahead from the records' stamps alone.
PeriodAdvance advance_period(PeriodRun& run, std::string_view stamp, bool first_of_file);

// A months or years run before its first record: it resumes at the result
// file's start file and open period of `mode`.
PeriodRun new_period_run(int mode);
// new_period_run, after showing the run's heading and where it starts; the
// run reads the files from run.first_file on.
PeriodRun begin_period_run(int mode, const RunSink& sink);
// Takes the record in analysis.record, the next one of file `k`, into the
// run: counts it, ends the period when it begins the next one; true when the
// record is to be analysed. A record's month and year decide all of this, so
// the records after the first one of a stretch change nothing but the count.
bool period_step(PeriodRun& run, std::size_t k, const RunSink& sink);
// After file `k` was read and its end shown: ends the open period after the
// last file, and makes the years run's quiet name-server check between files.
void end_period_file(PeriodRun& run, std::size_t k, const RunSink& sink);

// Sets analysis.current_log_path for the file `name` and shows that it is
// read; the line is finished by report_log_file_end with the record count.
void announce_log_file(const std::string& name, const RunSink& sink);
void report_log_file_end(const RunSink& sink);

// The name of a months period (year, "m", month) or of a years period (year, "y").
std::string period_name(int mode, const std::string& year, const std::string& number);

// "mm" for 0; otherwise the decimal digits of n, with a leading "0" when single.
std::string two_digits(int n);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_RUN_MODES_H_
