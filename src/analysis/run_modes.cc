#include "analysis/run_modes.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "hosts/host_cache.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"
#include "stats/result_lists.h"
#include "stats/text_hash.h"

namespace sorvik {

namespace {

// Position (from 0) of the first selected file that sorts at or after
// `start_file`; the number of files when there is none.
std::size_t start_index(const std::string& start_file) {
  const std::vector<std::string>& files = analysis.log_files;
  std::size_t index = 0;
  while (index < files.size() && files[index] < start_file) ++index;
  return index;
}

// The name of the file at `index`, empty past the last one.
std::string file_at(std::size_t index) {
  return index < analysis.log_files.size() ? analysis.log_files[index] : std::string();
}

void print_run_heading(const RunSink& sink, const char* mode_letter) {
  sink.console(sink.context, messages_line(MessageId::kRunMode) + " " + mode_letter + "\n");
}

// Opens the k-th selected file (or a piece of it).
void open_selected_file(std::size_t k, const RunSink& sink, const LogPiece& piece = {}) {
  announce_log_file(analysis.log_files[k], sink);
  open_log(analysis.current_log_path, piece, analysis.reader_options);
  analysis.record_number = 0;
}

void close_log_file(const RunSink& sink) {
  close_log();
  report_log_file_end(sink);
}

void analyse_record(const RunSink& sink) {
  parse_request_into(analysis.record, {analysis.current_log_path, analysis.record_number},
                     sink.reporter, analysis.request);
  analysis.period_bytes += static_cast<long double>(analysis.request.size);
  sink.count(sink.context, analysis.record, analysis.request);
}

// The week a weekly file holds: the last two characters of its name. A
// compressed weekly log is read as its plain self, so a ".gz" ending is not
// part of the name that counts ("access.50.gz" holds week 50).
std::string week_of_file(std::string_view name) {
  constexpr std::string_view kCompressed = ".gz";
  if (name.size() > kCompressed.size() && name.ends_with(kCompressed)) {
    name.remove_suffix(kCompressed.size());
  }
  return std::string(name.size() < 2 ? name : name.substr(name.size() - 2));
}

// Takes the record's year text into analysis.year_text. A year that is not
// four ASCII digits would put arbitrary bytes into period and file names, so
// it ends the run exactly as an unconvertible time stamp does.
void take_checked_year_text() {
  const std::string_view stamp = analysis.record.field[kFieldTimeStamp];
  analysis.year_text.assign(chars_at(stamp, 9, 12));
  bool digits = analysis.year_text.size() == 4;
  for (const char c : analysis.year_text) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    stop_on_bad_time_stamp(analysis.record, {analysis.current_log_path, analysis.record_number});
  }
}

}  // namespace

void write_console(void*, std::string_view text) { console_write(text); }

void count_directly(void*, const LogRecord& record, const RequestInfo& request) {
  count_request(record, request);
}

void end_period_directly(void*, const PeriodEnd& end) {
  record_result(end.mode, end.period, end.complete, end.log);
  flush_period(end.period, end.number, end.year, end.mode);
}

void check_dns_directly(void*) { dns_check(true); }

void announce_log_file(const std::string& name, const RunSink& sink) {
  analysis.current_log_path = cut_text(settings.log_dir + name);
  sink.console(sink.context, messages_line(MessageId::kReading) + " " + name + " ... ");
}

void report_log_file_end(const RunSink& sink) {
  sink.console(sink.context,
               std::to_string(analysis.record_number) + messages_line(MessageId::kEntries) + "\n");
}

std::string two_digits(int n) {
  if (n == 0) return "mm";
  std::string text = std::to_string(n);
  if (text.size() == 1) text.insert(text.begin(), '0');
  return text;
}

std::size_t begin_weeks_run(const RunSink& sink) {
  const std::string& start_file = results.start_file[kModeWeeks];
  print_run_heading(sink, "W");
  const std::size_t s = start_index(start_file);
  sink.console(sink.context, "Start: " + std::to_string(s + 1) + " File: " + file_at(s) +
                                 " Startfile: " + start_file + "\n");
  return s;
}

void read_week_file(std::size_t k, const RunSink& sink, const LogPiece& piece) {
  open_selected_file(k, sink, piece);
  while (read_record(analysis.record, sink.reporter) > 0) {
    assign_if_changed(analysis.year_text, chars_at(analysis.record.field[kFieldTimeStamp], 9, 12));
    analyse_record(sink);
    analysis.record_number += 1;
  }
  // Weeks number their records from 0 and show the count minus one.
  analysis.record_number -= 1;
  close_log_file(sink);
  end_week_file(k, sink);
}

void end_week_file(std::size_t k, const RunSink& sink) {
  const std::string& name = analysis.log_files[k];
  // Taken from the file itself, so that an empty file names its own week.
  const std::string week = week_of_file(name);
  sink.period_end(sink.context, {kModeWeeks, analysis.year_text + "w" + week,
                                 k + 1 < analysis.log_files.size(), name, week, analysis.year_text});
}

void run_weeks(const RunSink& sink) {
  for (std::size_t k = begin_weeks_run(sink); k < analysis.log_files.size(); ++k) {
    read_week_file(k, sink);
  }
}

std::string period_name(int mode, const std::string& year, const std::string& number) {
  return mode == kModeMonths ? year + "m" + number : year + "y";
}

PeriodRun new_period_run(int mode) {
  PeriodRun run;
  run.mode = mode;
  run.months = mode == kModeMonths;
  run.open_period = results.open_period[mode];
  run.first_file = start_index(results.start_file[mode]);
  run.period_first_file = run.first_file;
  run.number = run.months ? "" : "00";
  return run;
}

PeriodRun begin_period_run(int mode, const RunSink& sink) {
  const PeriodRun run = new_period_run(mode);
  print_run_heading(sink, run.months ? "M" : "Y");
  sink.console(sink.context, "File: " + file_at(run.first_file) +
                                 " Startfile: " + results.start_file[mode] + "\n");
  return run;
}

namespace {

// Whether a record with this year and month ("00" for years) and time stamp
// is late for the period in progress: of an earlier period, and at most
// kLateRecordSeconds before the period's first record by the calendar. A
// time stamp that does not convert is never late.
bool is_late(const PeriodRun& run, std::string_view year, std::string_view number,
             std::string_view stamp) {
  if (!run.first_time_known) return false;
  const bool earlier =
      year != run.period_year ? year < run.period_year : run.months && number < run.period_number;
  if (!earlier) return false;
  TimeStamp time;
  if (!parse_time_stamp(stamp, time)) return false;
  const int64_t before = run.first_seconds - calendar_seconds(time);
  return before >= 0 && before <= kLateRecordSeconds;
}

// Begins a period with the record whose time stamp is `stamp`.
void begin_period(PeriodRun& run, std::string_view stamp) {
  run.period_year = run.year;
  run.period_number = run.number;
  TimeStamp time;
  run.first_time_known = parse_time_stamp(stamp, time);
  run.first_seconds = run.first_time_known ? calendar_seconds(time) : 0;
}

}  // namespace

PeriodAdvance advance_period(PeriodRun& run, std::string_view stamp, bool first_of_file) {
  PeriodAdvance advance;
  const std::string_view year = chars_at(stamp, 9, 12);
  const std::string number =
      run.months ? two_digits(month_number(chars_at(stamp, 5, 7))) : std::string("00");
  if (is_late(run, year, number, stamp)) {
    advance.late = true;
    return advance;
  }
  run.year.assign(year);
  run.number = number;
  if (run.period_year.empty()) begin_period(run, stamp);
  if (first_of_file) {
    run.active = period_name(run.mode, run.year, run.number) >= run.open_period;
  }
  const bool next_period =
      run.months ? run.number != run.period_number : run.year != run.period_year;
  if (next_period) {
    advance.ended = true;
    advance.ended_active = run.active;
    advance.ended_year = run.period_year;
    advance.ended_number = run.period_number;
    begin_period(run, stamp);
    run.active = period_name(run.mode, run.year, run.number) >= run.open_period;
  }
  return advance;
}

bool period_step(PeriodRun& run, std::size_t k, const RunSink& sink) {
  analysis.record_number += 1;
  const PeriodAdvance advance =
      advance_period(run, analysis.record.field[kFieldTimeStamp], analysis.record_number == 1);
  // A late record's time stamp converts, so its year is four digits.
  if (!advance.late) take_checked_year_text();
  if (advance.ended && advance.ended_active) {
    const std::string log = analysis.log_files[run.period_first_file];
    run.period_first_file = k;
    sink.period_end(sink.context,
                    {run.mode, period_name(run.mode, advance.ended_year, advance.ended_number),
                     true, log, advance.ended_number, advance.ended_year});
  }
  return run.active;
}

void end_period_file(PeriodRun& run, std::size_t k, const RunSink& sink) {
  if (k + 1 == analysis.log_files.size()) {
    // The period still open at the end is flushed whether analysed or not,
    // named by the last record read that was not late.
    sink.period_end(sink.context,
                    {run.mode, period_name(run.mode, analysis.year_text, run.number), false,
                     analysis.log_files[run.period_first_file], run.number, analysis.year_text});
  } else if (!run.months) {
    sink.dns_check(sink.context);
  }
}

namespace {

// The months and the years runs: a period is a stretch of consecutive records
// with the same month (the year is not compared) or with the same year.
// Records of periods before the open period are read but not analysed.
void run_periods(int mode, const RunSink& sink) {
  PeriodRun run = begin_period_run(mode, sink);
  for (std::size_t k = run.first_file; k < analysis.log_files.size(); ++k) {
    open_selected_file(k, sink);
    while (read_record(analysis.record, sink.reporter) > 0) {
      if (period_step(run, k, sink)) analyse_record(sink);
    }
    close_log_file(sink);
    end_period_file(run, k, sink);
  }
}

}  // namespace

void run_months(const RunSink& sink) { run_periods(kModeMonths, sink); }

void run_years(const RunSink& sink) { run_periods(kModeYears, sink); }

std::size_t first_file_index(int mode) { return start_index(results.start_file[mode]); }

void run_mode(int mode, const RunSink& sink) {
  if (mode == kModeWeeks) {
    run_weeks(sink);
  } else if (mode == kModeMonths) {
    run_months(sink);
  } else {
    run_years(sink);
  }
}

}  // namespace sorvik
