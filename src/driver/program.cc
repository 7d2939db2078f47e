#include "driver/program.h"

#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/block_writer.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "driver/configuration.h"
#include "driver/result_file.h"
#include "driver/run_lock.h"
#include "hosts/host_cache.h"
#include "logs/log_file_selection.h"
#include "logs/log_reader.h"
#include "report/index_pages.h"
#include "report/page_frame.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"
#include "stats/text_hash.h"
#include "workers/mode_worker.h"

namespace sorvik {

namespace {

const std::string kRule(50, '-');
const char kMakerNotice[] = " (c) 2026 The Sorvik developers";

int seconds_of_day(const LocalTime& t) { return (t.hour * 60 + t.minute) * 60 + t.second; }

// Asks whether to go on without name resolution. Returns normally on "J" or
// "Y"; ends the run with status 1 on "N" or at the end of input.
void ask_to_continue_without_dns() {
  error_log_entry("", "Warning! DNS not available");
  console_write(messages_line(MessageId::kAskWithoutDns) + " ");
  for (;;) {
    const int key = console_read_key();
    if (key < 0) {
      error_log_entry("", "Stopped: no answer at end of input");
      break;
    }
    const char answer = static_cast<char>(key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key);
    if (answer == 'J' || answer == 'Y') {
      console_line(messages_line(MessageId::kContinuingWithoutDns));
      return;
    }
    if (answer == 'N') {
      error_log_entry("", "Stopped by user action");
      break;
    }
  }
  console_line("stopped.");
  error_log_close();
  stop_run(kExitOperatorStop, false);
}

// After a run mode: check name resolution quietly and keep the cache only
// while it works.
void check_dns_and_save_cache() {
  dns_check(true);
  if (dns_available()) host_cache_save();
}

// Writes the period reports' text sections on a thread of its own while it
// lives (see block_writer.h).
struct ReportWriter {
  BlockWriter writer;
  ReportWriter() { report.block_writer = &writer; }
  ~ReportWriter() { report.block_writer = nullptr; }
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;
};

// Steps 6 to 19 of a run whose configuration was read.
void analyse_and_report() {
  LogFileSelection selection = select_log_files();
  analysis.log_files = std::move(selection.names);
  analysis.skipped_log_files = std::move(selection.skipped);
  if (analysis.log_files.empty()) return;
  error_log_open();
  report_skipped_log_files(analysis.skipped_log_files);
  dns_check(false);
  if (!dns_available()) ask_to_continue_without_dns();
  host_cache_load();
  read_results();

  // The run modes count in child processes, all at once; each mode's
  // output comes in its turn. A mode without a child reads the files then.
  std::vector<int> modes;
  if (worker_tuning.count_ahead) {
    modes = {kModeWeeks, kModeMonths};
    if (settings.analyse_years) modes.push_back(kModeYears);
  }
  const ModeWorkers workers = start_mode_workers(modes, worker_tuning);
  // Only now, when every child has been forked, may a thread start.
  const ReportWriter report_writer;
  const auto run_in_turn = [&](int mode, std::size_t index) {
    const bool played = index < workers.list.size() && workers.list[index] &&
                        play_mode_worker(*workers.list[index]);
    if (!played) run_mode(mode, RunSink{});
  };

  run_in_turn(kModeWeeks, 0);
  check_dns_and_save_cache();
  run_in_turn(kModeMonths, 1);
  check_dns_and_save_cache();
  if (settings.analyse_years) {
    run_in_turn(kModeYears, 2);
    check_dns_and_save_cache();
  } else {
    // Marks the current year as open from the first selected file, so that a
    // later run with years switched on starts the year there.
    record_result(kModeYears, analysis.year_text + "y", false, analysis.log_files.front());
  }

  write_overview_pages();
  write_index_page();
  write_unknown_lists();
  write_results();
  clear_period_lists();
  clear_run_lists();
}

}  // namespace

void reset_all_state() {
  reset_console();
  reset_clock();
  reset_settings();
  reset_message_table();
  reset_error_log();
  reset_lists();
  reset_agent_class_cache();
  reset_analysis();
  reset_worker_tuning();
  reset_log_reader();
  reset_results();
  reset_hosts();
  reset_report();
  seed_hash_keys();  // last: every index is empty and no reading thread runs
}

int run_program(const std::vector<std::string>& arguments) {
  try {
    const LocalTime start = clock_now();
    // The day number is fixed now, so that a run that passes midnight stamps
    // every host name with the day it started.
    today();
    console_line();
    console_line(kRule);
    console_line(std::string("Sorvik Version ") + kReportVersion + kMakerNotice);
    console_line(kRule);
    analysis.period_bytes = 0;
    analysis.current_log_path.clear();
    settings.host_file = "host.dat";
    settings.host_notfound = false;

    // Held from before the first file is touched until the error log is
    // closed; a stop releases it on the way out.
    RunLock run_lock;
    int exit_status = kExitNormal;
    if (load_configuration(arguments)) {
      acquire_run_lock(run_lock);
      // Under the lock no other run writes these files' temporaries.
      remove_stale_temporary_files(settings.results_file);
      remove_stale_temporary_files(settings.host_file);
      analyse_and_report();
    } else {
      // A configuration that leaves nothing to analyse is a failure the
      // caller (a scheduler, a script) must see; the run still ends as usual.
      exit_status = kExitFileNotCreated;
    }
    host_cache_free();
    error_log_close();
    release_run_lock(run_lock);

    const LocalTime end = clock_now();
    int elapsed_seconds = seconds_of_day(end) - seconds_of_day(start);
    if (elapsed_seconds < 0) elapsed_seconds += 86400;  // the run passed midnight
    console_line(messages_line(MessageId::kElapsedSeconds) + " " + std::to_string(elapsed_seconds));
    console_write(messages_line(MessageId::kPressKey));
    console_wait_key();
    console_line();
    return exit_status;
  } catch (const RunStop& stop) {
    if (!stop.console_line.empty()) {
      console_finish_line();
      console_line(stop.console_line);
    }
    if (stop.wait_for_key) console_wait_key();
    return stop.exit_status;
  } catch (const std::bad_alloc&) {
    console_finish_line();
    console_line("Out of memory: the run is stopped.");
    return kExitInternalError;
  } catch (const std::exception& failure) {
    console_finish_line();
    console_line(std::string("Internal error: ") + failure.what());
    return kExitInternalError;
  }
}

}  // namespace sorvik
