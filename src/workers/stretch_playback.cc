#include "workers/stretch_playback.h"

#include <cstdint>
#include <vector>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/text.h"
#include "logs/log_reader.h"
#include "stats/result_lists.h"

namespace sorvik {

namespace {

// Shows an event as a mode reading the file would; the parsing's events
// only when the mode analyses their record, whose number in the file is
// `before` + `first_number` (the weeks run counts from 0, the others from 1).
void show_fact(const FactEvent& fact, bool analysed, int first_number) {
  switch (fact.event) {
    case FileEvent::kReadConsole:
      console_write(fact.text);
      break;
    case FileEvent::kReadEntry:
      error_log_entry(fact.source, fact.text);
      break;
    case FileEvent::kMalformedLine:
      error_log_entry(fact.source, malformed_line_text(fact.malformed));
      break;
    case FileEvent::kParseConsole:
      if (analysed) console_write(fact.text);
      break;
    case FileEvent::kUnknownCommand:
      if (analysed) {
        const auto line = static_cast<int32_t>(fact.before + static_cast<uint64_t>(first_number));
        error_log_entry(fact.source, unknown_command_text(line, fact.text));
      }
      break;
  }
}

// The period ends of a mode made from stretches are carried out in the
// parent: the period's stretches merged, its result entry and reports.
struct HeldEnds {
  const StretchStore& store;
  MergeAhead* ahead;
  std::vector<StretchRef> refs;  // the stretches of the period being made
};

void end_merged_period(void* context, const PeriodEnd& end) {
  HeldEnds& held = *static_cast<HeldEnds*>(context);
  // Only the periods of the later modes are ever merged ahead, so a weeks
  // period is always merged now and leaves the plan alone.
  merge_stretches(held.store, end.mode != kModeWeeks ? held.ahead : nullptr, held.refs);
  held.refs.clear();
  const WritingReports writing(held.ahead);
  end_period_directly(nullptr, end);
}

// The sink of a mode made from stretches: direct but for its period ends.
RunSink merging_sink(HeldEnds& held) {
  RunSink sink;
  sink.context = &held;
  sink.period_end = end_merged_period;
  return sink;
}

// Shows file `k` of the weeks run from its facts and stretches.
void play_week_file(CountedStretches& counted, std::size_t k) {
  const StretchStore& store = counted.store;
  announce_log_file(analysis.log_files[k], RunSink{});
  const FileFacts facts = read_file_facts(store, k);
  HeldEnds held{store, counted.merge_ahead.get(), {}};
  for (const auto& [ref, stored] : stretches_of(store, k)) {
    ItemReader reader;
    reader.start(stored.item);
    const StretchHead head = read_stretch_head(reader);
    analysis.year_text.assign(chars_at(head.fields[4], 9, 12));
    analysis.period_bytes += head.bytes;
    take_unknown_agents(reader, true);
    held.refs.push_back(ref);
  }
  ErrorLogBatch batch;
  for (const FactEvent& fact : facts.events) show_fact(fact, true, 0);
  batch.finish();
  // Weeks number their records from 0 and show the count minus one.
  analysis.record_number = static_cast<int32_t>(facts.records) - 1;
  report_log_file_end(RunSink{});
  end_week_file(k, merging_sink(held));
}

// Shows file `k` of a months or years run from its facts and stretches.
void play_period_file(const StretchStore& store, PeriodRun& run, HeldEnds& held, std::size_t k) {
  const RunSink sink = merging_sink(held);
  announce_log_file(analysis.log_files[k], sink);
  analysis.record_number = 0;
  const FileFacts facts = read_file_facts(store, k);
  ErrorLogBatch batch;
  std::size_t next = 0;  // the next event to show
  for (const auto& [ref, stored] : stretches_of(store, k)) {
    ItemReader reader;
    reader.start(stored.item);
    const StretchHead head = read_stretch_head(reader);
    // What the reading of the stretch's first record showed comes before it.
    while (next < facts.events.size() && facts.events[next].before == head.first &&
           is_reading_event(facts.events[next].event)) {
      show_fact(facts.events[next++], false, 1);
    }
    for (int i = 1; i <= 4; ++i) analysis.record.field[i] = head.fields[i];
    analysis.record_number = static_cast<int32_t>(head.first);
    const bool analysed = period_step(run, k, sink);
    take_unknown_agents(reader, analysed);
    if (analysed) {
      held.refs.push_back(ref);
      analysis.period_bytes += head.bytes;
    }
    const uint64_t end = head.first + head.records;
    while (next < facts.events.size() && facts.events[next].before < end) {
      show_fact(facts.events[next++], analysed, 1);
    }
    analysis.record_number = static_cast<int32_t>(end);
  }
  // What the reading showed after the last record.
  while (next < facts.events.size()) show_fact(facts.events[next++], false, 1);
  batch.finish();
  analysis.record_number = static_cast<int32_t>(facts.records);
  analysis.record = LogRecord{};
  report_log_file_end(sink);
  end_period_file(run, k, sink);
}

}  // namespace

void run_weeks_from_stretches(CountedStretches& counted) {
  bool complete = true;
  bool planned = false;
  for (std::size_t k = begin_weeks_run(RunSink{}); k < analysis.log_files.size(); ++k) {
    if (!take_counted_file(counted, k) || !file_bytes_exact(counted.store, k)) {
      complete = false;
      read_week_file(k, RunSink{});
      continue;
    }
    if (complete && !planned) planned = plan_once_counted(counted, k);
    play_week_file(counted, k);
  }
  counted.complete = complete;
}

bool can_run_from_stretches(const CountedStretches& counted, int mode) {
  return counted.complete && byte_sums_exact(counted.store, first_file_index(mode)) &&
         late_stretches_whole(counted.store, mode);
}

void run_from_stretches(CountedStretches& counted, int mode) {
  PeriodRun run = begin_period_run(mode, RunSink{});
  HeldEnds held{counted.store, counted.merge_ahead.get(), {}};
  for (std::size_t k = run.first_file; k < analysis.log_files.size(); ++k) {
    play_period_file(counted.store, run, held, k);
  }
}

}  // namespace sorvik
