#include "workers/mode_child.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "logs/log_reporter.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

// What a mode child keeps while it runs its mode.
struct ModeChild {
  ScriptWriter writer;
  // The months and years runs begin with the year text the runs before
  // them leave, which the parent knows only when their turn comes.
  bool inherits_year = false;
  // Console text not yet sent: the run's own, and what is written to the
  // console directly (the report of a record that stops the run).
  std::string console_text;
  // Error-log entries made directly, not yet sent.
  std::vector<HeldEntry> entries;
};

ModeChild& child_of(void* context) { return *static_cast<ModeChild*>(context); }

// Waits for the parent's go; a parent gone ends the child.
void wait_for_start(int start_fd) {
  if (start_fd < 0) return;
  char go = 0;
  ssize_t got = 0;
  while ((got = read(start_fd, &go, 1)) < 0 && errno == EINTR) {
  }
  if (got != 1) _exit(1);
  close(start_fd);
}

void put_entry(ScriptWriter& writer, std::string_view source, std::string_view text) {
  writer.begin(Step::kErrorEntry);
  writer.put_text(source);
  writer.put_text(text);
  writer.finish();
}

// Sends the console text and the entries made so far, in that order, as
// they were made: the direct writers make their entries after their
// console text.
void send_shown(ModeChild& child) {
  if (!child.console_text.empty()) {
    child.writer.begin(Step::kConsole);
    child.writer.put_text(child.console_text);
    child.writer.finish();
    child.console_text.clear();
  }
  for (const HeldEntry& entry : child.entries) put_entry(child.writer, entry.source, entry.text);
  child.entries.clear();
}

void send_entry(ModeChild& child, std::string_view source, std::string_view text) {
  send_shown(child);
  put_entry(child.writer, source, text);
}

// The sink of the mode's run: every step is sent, in the order made.
void hold_console(void* context, std::string_view text) {
  child_of(context).console_text.append(text);
}

void send_malformed_line(void* context, std::string_view log_path, const MalformedLine& line) {
  ModeChild& child = child_of(context);
  child.console_text.append("!");
  send_entry(child, log_path, malformed_line_text(line));
}

void send_damaged_data(void* context, std::string_view log_path, std::string_view damage) {
  ModeChild& child = child_of(context);
  child.console_text.append("!");
  send_entry(child, log_path, damaged_data_text(damage));
}

void send_unknown_method(void* context, const RecordPlace& place, std::string_view method) {
  ModeChild& child = child_of(context);
  send_entry(child, place.log_path, unknown_command_text(place.record_number, method));
  child.console_text.append("!");
}

void send_period_end(void* context, const PeriodEnd& end) {
  ModeChild& child = child_of(context);
  send_shown(child);
  PeriodEndItem item;
  item.end = end;
  // A year text is never empty once a record was read, so an empty one
  // tells the parent to use its own.
  item.year_known = !(child.inherits_year && analysis.year_text.empty());
  item.record_number = analysis.record_number;
  item.log_path = analysis.current_log_path;
  item.period_bytes = analysis.period_bytes;
  put_period_end(child.writer, item);
  // What the period's reports leave behind for the next period.
  clear_period_lists();
  analysis.period_bytes = 0;
}

void send_dns_check(void* context) {
  ModeChild& child = child_of(context);
  send_shown(child);
  child.writer.begin(Step::kDnsCheck);
  child.writer.finish();
}

RunSink mode_sink(ModeChild& child) {
  RunSink sink;
  sink.context = &child;
  sink.console = hold_console;
  sink.reporter = LogReporter{&child, send_malformed_line, send_damaged_data, send_unknown_method};
  sink.period_end = send_period_end;
  sink.dns_check = send_dns_check;
  return sink;
}

void send_mode_end(ModeChild& child) {
  send_shown(child);
  ModeEndItem item;
  item.year_text = analysis.year_text;
  item.opened = !analysis.current_log_path.empty();
  item.record_number = analysis.record_number;
  item.log_path = analysis.current_log_path;
  put_mode_end(child.writer, item);
}

}  // namespace

void run_mode_child(const ChildStart& start) {
  wait_for_start(start.start_fd);
  ModeChild child;
  child.writer.fd = start.fd;
  const std::string no_keys;
  console.capture = &child.console_text;
  console.keys = &no_keys;
  // The error log's file is the parent's, never written here.
  error_log.held = &child.entries;
  // The weeks run comes first and begins with the year text the child was
  // given.
  child.inherits_year = start.mode != kModeWeeks;
  if (child.inherits_year) analysis.year_text.clear();
  analysis.current_log_path.clear();
  // Only this mode's unknown agents are sent; the parent adds them to its own.
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);
  try {
    run_mode(start.mode, mode_sink(child));
    send_mode_end(child);
  } catch (...) {
    send_shown(child);
    put_ending(child.writer);
  }
  exit_child(child.writer);
}

}  // namespace sorvik
