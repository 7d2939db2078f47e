#include "workers/mode_child.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

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

void send_console(ScriptWriter& writer, std::string_view text) {
  writer.begin(Step::kConsole);
  writer.put_text(text);
  writer.finish();
}

void send_error_entry(ScriptWriter& writer, std::string_view source, std::string_view text) {
  writer.begin(Step::kErrorEntry);
  writer.put_text(source);
  writer.put_text(text);
  writer.finish();
}

void send_period_end(ScriptWriter& writer, const PeriodEnd& end, bool inherits_year) {
  PeriodEndItem item;
  item.end = end;
  item.year_known = !(inherits_year && analysis.year_text.empty());
  item.record_number = analysis.record_number;
  item.log_path = analysis.current_log_path;
  item.period_bytes = analysis.period_bytes;
  put_period_end(writer, item);
  // What the period's reports leave behind for the next period.
  clear_period_lists();
  analysis.period_bytes = 0;
}

void send_mode_end(ScriptWriter& writer) {
  ModeEndItem item;
  item.year_text = analysis.year_text;
  item.opened = !analysis.current_log_path.empty();
  item.record_number = analysis.record_number;
  item.log_path = analysis.current_log_path;
  put_mode_end(writer, item);
}

}  // namespace

void run_mode_child(const ChildStart& start) {
  wait_for_start(start.start_fd);
  ScriptWriter writer;
  writer.fd = start.fd;
  console.sink = [&writer](std::string_view text) { send_console(writer, text); };
  console.key_source = [] { return -1; };
  error_log.divert = [&writer](std::string_view source, std::string_view text) {
    send_error_entry(writer, source, text);
  };
  analysis.held_dns_check = [&writer] {
    writer.begin(Step::kDnsCheck);
    writer.finish();
  };
  // The months and years runs begin with the year text the runs before
  // them leave, which the parent knows only when their turn comes. A year
  // text is never empty once a record was read, so an empty one tells the
  // parent to use its own. The weeks run comes first and begins with the
  // year text the child was given.
  const bool inherits_year = start.mode != kModeWeeks;
  if (inherits_year) analysis.year_text.clear();
  analysis.current_log_path.clear();
  analysis.held_period_end = [&writer, inherits_year](const PeriodEnd& end) {
    send_period_end(writer, end, inherits_year);
  };
  // Only this mode's unknown agents are sent; the parent adds them to its own.
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);
  try {
    run_mode(start.mode);
    send_mode_end(writer);
  } catch (...) {
    put_ending(writer);
  }
  exit_child(writer);
}

}  // namespace sorvik
