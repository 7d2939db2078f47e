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

void print_run_heading(const char* mode_letter) {
  console_line(messages_line(MessageId::kRunMode) + " " + mode_letter);
}

void open_log_file(const std::string& name, const LogPiece& piece) {
  announce_log_file(name);
  open_log(analysis.current_log_path, piece, analysis.reader_options);
  analysis.record_number = 0;
}

void close_log_file() {
  close_log();
  report_log_file_end();
}

// The reports of the reading: direct, but a child that counts pieces of
// files hands its malformed lines over (held_malformed_line).
LogReporter reading_reporter() {
  LogReporter reporter;
  if (analysis.held_malformed_line) {
    reporter.malformed_line = [](void*, std::string_view, const MalformedLine& malformed) {
      console_write("!");
      analysis.held_malformed_line(malformed);
    };
  }
  return reporter;
}

// Reads the next record; the phase tells a child process counting ahead
// which console text and error-log entries the reading made.
int read_next_record() {
  analysis.phase = RecordPhase::kReading;
  const int fields = read_record(analysis.record, reading_reporter());
  analysis.phase = RecordPhase::kOther;
  return fields;
}

void analyse_record() {
  analysis.phase = RecordPhase::kParsing;
  parse_request_into(analysis.record, {analysis.current_log_path, analysis.record_number},
                     LogReporter{}, analysis.request);
  analysis.period_bytes += static_cast<long double>(analysis.request.size);
  analysis.phase = RecordPhase::kOther;
  if (analysis.before_count && !analysis.before_count()) return;
  count_request(analysis.request);
}

// Notes the stretch of its file that the record just read belongs to: a new
// one begins where the month or the year text changes.
void note_stretch() {
  const std::string_view stamp = chars_at(analysis.record.field[kFieldTimeStamp], 5, 12);
  if (analysis.stretch < 0 || !same_text(stamp, analysis.stretch_stamp)) {
    analysis.stretch += 1;
    analysis.stretch_stamp.assign(stamp);
  }
}

// Opens the k-th selected file (or a piece of it) and starts its stretches.
void open_selected_file(std::size_t k, const LogPiece& piece = {}) {
  analysis.file_index = k;
  analysis.stretch = -1;
  analysis.stretch_stamp.clear();
  open_log_file(analysis.log_files[k], piece);
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

// Records the result entry of a period and writes its reports; a run mode
// counted ahead of its turn hands both over instead.
void end_period(const PeriodEnd& end) {
  if (analysis.held_period_end) {
    analysis.held_period_end(end);
    return;
  }
  record_result(end.mode, end.period, end.complete, end.log);
  flush_period(end.period, end.number, end.year, end.mode);
}

}  // namespace

void announce_log_file(const std::string& name) {
  analysis.current_log_path = cut_text(settings.log_dir + name);
  console_write(messages_line(MessageId::kReading) + " " + name + " ... ");
}

void report_log_file_end() {
  console_line(std::to_string(analysis.record_number) + messages_line(MessageId::kEntries));
}

std::string two_digits(int n) {
  if (n == 0) return "mm";
  std::string text = std::to_string(n);
  if (text.size() == 1) text.insert(text.begin(), '0');
  return text;
}

std::size_t begin_weeks_run() {
  const std::string& start_file = results.start_file[kModeWeeks];
  print_run_heading("W");
  const std::size_t s = start_index(start_file);
  console_line("Start: " + std::to_string(s + 1) + " File: " + file_at(s) +
               " Startfile: " + start_file);
  return s;
}

void read_week_file(std::size_t k, const LogPiece& piece) {
  open_selected_file(k, piece);
  while (read_next_record() > 0) {
    note_stretch();
    assign_if_changed(analysis.year_text, chars_at(analysis.record.field[kFieldTimeStamp], 9, 12));
    analyse_record();
    analysis.record_number += 1;
  }
  // Weeks number their records from 0 and show the count minus one.
  analysis.record_number -= 1;
  close_log_file();
  end_week_file(k);
}

void end_week_file(std::size_t k) {
  const std::string& name = analysis.log_files[k];
  // Taken from the file itself, so that an empty file names its own week.
  const std::string week = week_of_file(name);
  end_period({kModeWeeks, analysis.year_text + "w" + week, k + 1 < analysis.log_files.size(), name,
              week, analysis.year_text});
}

void run_weeks() {
  for (std::size_t k = begin_weeks_run(); k < analysis.log_files.size(); ++k) read_week_file(k);
}

std::string period_name(int mode, const std::string& year, const std::string& number) {
  return mode == kModeMonths ? year + "m" + number : year + "y";
}

namespace {

// The quiet name-server check between the files of the years run.
void check_dns_between_files() {
  if (analysis.held_dns_check) {
    analysis.held_dns_check();
    return;
  }
  dns_check(true);
}

}  // namespace

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

PeriodRun begin_period_run(int mode) {
  const PeriodRun run = new_period_run(mode);
  print_run_heading(run.months ? "M" : "Y");
  console_line("File: " + file_at(run.first_file) + " Startfile: " + results.start_file[mode]);
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

bool period_step(PeriodRun& run, std::size_t k) {
  analysis.record_number += 1;
  const PeriodAdvance advance =
      advance_period(run, analysis.record.field[kFieldTimeStamp], analysis.record_number == 1);
  // A late record's time stamp converts, so its year is four digits.
  if (!advance.late) take_checked_year_text();
  if (advance.ended && advance.ended_active) {
    const std::string log = analysis.log_files[run.period_first_file];
    run.period_first_file = k;
    end_period({run.mode, period_name(run.mode, advance.ended_year, advance.ended_number), true,
                log, advance.ended_number, advance.ended_year});
  }
  return run.active;
}

void end_period_file(PeriodRun& run, std::size_t k) {
  if (k + 1 == analysis.log_files.size()) {
    // The period still open at the end is flushed whether analysed or not,
    // named by the last record read that was not late.
    end_period({run.mode, period_name(run.mode, analysis.year_text, run.number), false,
                analysis.log_files[run.period_first_file], run.number, analysis.year_text});
  } else if (!run.months) {
    check_dns_between_files();
  }
}

namespace {

// The months and the years runs: a period is a stretch of consecutive records
// with the same month (the year is not compared) or with the same year.
// Records of periods before the open period are read but not analysed.
void run_periods(int mode) {
  PeriodRun run = begin_period_run(mode);
  for (std::size_t k = run.first_file; k < analysis.log_files.size(); ++k) {
    open_selected_file(k);
    while (read_next_record() > 0) {
      note_stretch();
      if (period_step(run, k)) analyse_record();
    }
    close_log_file();
    end_period_file(run, k);
  }
}

}  // namespace

void run_months() { run_periods(kModeMonths); }

void run_years() { run_periods(kModeYears); }

std::size_t first_file_index(int mode) { return start_index(results.start_file[mode]); }

void run_mode(int mode) {
  if (mode == kModeWeeks) {
    run_weeks();
  } else if (mode == kModeMonths) {
    run_months();
  } else {
    run_years();
  }
}

}  // namespace sorvik
