#include "base/error_log.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/clock.h"
#include "base/console.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"

namespace sorvik {

ErrorLog error_log;

namespace {

// `value` in decimal, with leading zeros to `width` digits.
std::string zero_padded(int value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// Appends zero_padded(value, 2), without making a string for the clock's
// values 0 to 99.
void append_two_digits(std::string& out, int value) {
  if (value < 0 || value > 99) {
    out += zero_padded(value, 2);
    return;
  }
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

// Appends the entry time: hhnnss.
void append_entry_time(std::string& out, const LocalTime& t) {
  append_two_digits(out, t.hour);
  append_two_digits(out, t.minute);
  append_two_digits(out, t.second);
}

// The session stamp: "yyyymmdd - hhnnss", or "yyyymmdd -" at exactly midnight.
std::string session_stamp(const LocalTime& t) {
  std::string stamp = zero_padded(t.year, 4);
  stamp += zero_padded(t.month, 2);
  stamp += zero_padded(t.day, 2);
  stamp += " -";
  if (t.hour != 0 || t.minute != 0 || t.second != 0) {
    stamp += ' ';
    append_entry_time(stamp, t);
  }
  return stamp;
}

// Every entry reaches the disk at once: a run that stops through a fatal
// error of another part still leaves its entries in the log.
void flush_log() {
  if (std::fflush(error_log.file.handle) != 0) {
    stop_on_io_error("write", error_log.file.path, errno);
  }
}

}  // namespace

void reset_error_log() { error_log = ErrorLog{}; }

void error_log_open() {
  console_write("Errorlog " + settings.errlog_file + " ... ");
  error_log.file = append_output(settings.errlog_file);
  write_line(error_log.file, "**** Starting session " + session_stamp(clock_now()) + " ****");
  flush_log();
  error_log.open = true;
  console_line("ok.");
}

void error_log_entry(std::string_view source, std::string_view text) {
  if (error_log.held != nullptr) {
    error_log.held->push_back(HeldEntry{std::string(source), std::string(text)});
    return;
  }
  if (!error_log.open) return;
  // Composed whole and written at once: a run that replays the counting
  // processes' entries writes many of them in a row.
  std::string& entry = error_log.entry;
  entry.clear();
  append_entry_time(entry, clock_now());
  if (source.empty()) {
    entry.append(": ").append(cut_view(text)).append("!\n");
  } else {
    entry.append(": Error in file ").append(cut_view(source)).append("!\n");
    entry.append("        ").append(cut_view(text)).append("!\n");
  }
  write_text(error_log.file, entry);
  if (!error_log.batched) flush_log();
}

ErrorLogBatch::ErrorLogBatch() { error_log.batched = true; }

ErrorLogBatch::~ErrorLogBatch() { error_log.batched = false; }

void ErrorLogBatch::finish() {
  error_log.batched = false;
  if (error_log.open) flush_log();
}

void error_log_close() {
  if (!error_log.open) return;
  // Closed from here on, also when a write below fails and ends the run.
  error_log.open = false;
  console_write("Errorlog " + settings.errlog_file + " ... ");
  write_line(error_log.file, "***** Ending session " + session_stamp(clock_now()) + " *****");
  write_line(error_log.file);
  close_output(error_log.file);
  console_line("ok.");
}

}  // namespace sorvik
