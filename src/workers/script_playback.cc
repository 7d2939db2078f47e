#include "workers/script_playback.h"

#include <new>
#include <stdexcept>
#include <string>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "hosts/host_cache.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"
#include "workers/stretch_merge.h"

namespace sorvik {

namespace {

void play_period_end(ItemReader& reader) {
  PeriodEndItem item = read_period_end(reader);
  PeriodEnd& end = item.end;
  if (!item.year_known) {
    end.year = analysis.year_text;
    end.period = period_name(end.mode, end.year, end.number);
  }
  analysis.record_number = item.record_number;
  analysis.current_log_path = item.log_path;
  analysis.period_bytes = item.period_bytes;
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) get_list(reader, lists.list_slots[slot]);
  record_result(end.mode, end.period, end.complete, end.log);
  flush_period(end.period, end.number, end.year, end.mode);
}

void play_end(ItemReader& reader) {
  ModeEndItem item = read_mode_end(reader);
  if (!item.year_text.empty()) analysis.year_text = item.year_text;
  if (item.opened) {
    analysis.record_number = item.record_number;
    analysis.current_log_path = std::move(item.log_path);
  }
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    CountedList counted;
    get_list(reader, counted);
    add_unknown_agents(slot, counted);
  }
}

const char* mode_name(int mode) {
  return mode == kModeWeeks ? "weeks" : mode == kModeMonths ? "months" : "years";
}

// Carries out one item; true when it was the script's last.
bool play_item(ModeWorker& worker, ItemReader& reader) {
  switch (static_cast<Step>(reader.get_u8())) {
    case Step::kConsole:
      console_write(reader.get_view());
      return false;
    case Step::kErrorEntry: {
      const std::string_view source = reader.get_view();
      error_log_entry(source, reader.get_view());
      return false;
    }
    case Step::kPeriodEnd:
      play_period_end(reader);
      // A period's lists are by far the largest items; their bytes go now.
      std::string().swap(reader.bytes);
      return false;
    case Step::kDnsCheck:
      dns_check(true);
      return false;
    case Step::kStop:
      worker.played = true;
      throw read_stop(reader);
    case Step::kOutOfMemory:
      worker.played = true;
      throw std::bad_alloc();
    case Step::kFailure:
      worker.played = true;
      throw std::runtime_error(reader.get_text());
    case Step::kEnd:
      play_end(reader);
      worker.played = true;
      return true;
    default:
      throw std::runtime_error("a run mode's script holds an unknown step");
  }
}

}  // namespace

bool play_script(ModeWorker& worker) {
  ItemReader reader;
  for (bool first = true;; first = false) {
    if (!next_item(worker, reader)) {
      // A child that sent nothing at all has shown nothing yet: the mode
      // can still read the files itself.
      if (first) return false;
      throw std::runtime_error(std::string("the counting process of the ") +
                               mode_name(worker.mode) + " run ended early");
    }
    if (play_item(worker, reader)) return true;
  }
}

}  // namespace sorvik
