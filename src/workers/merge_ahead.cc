#include "workers/merge_ahead.h"

#include <algorithm>
#include <utility>

#include "analysis/run_modes.h"
#include "base/run_stop.h"

namespace sorvik {

namespace {

// A period merged ahead holds its lists beside those of the period whose
// reports are being written, and its lists take several times the bytes of
// its largest stretch as sent. The plan ends before a period with a stretch
// of more than this, so that a period of very many keys does not double the
// peak memory: it and those after it are merged in their turn.
constexpr std::size_t kMergeAheadStretchBytes = std::size_t{8} << 20;

// The bytes of the stretches `refs` as they were sent.
std::size_t stretch_bytes(const StretchStore& store, const std::vector<StretchRef>& refs) {
  std::size_t bytes = 0;
  for (const StretchRef& ref : refs) bytes += store.stretches.at(ref).size;
  return bytes;
}

// The bytes of the largest of the stretches `refs` as sent.
std::size_t largest_stretch(const StretchStore& store, const std::vector<StretchRef>& refs) {
  std::size_t largest = 0;
  for (const StretchRef& ref : refs) largest = std::max(largest, store.stretches.at(ref).size);
  return largest;
}

// Merges the planned periods one after the other, each once the one before
// it has been taken.
void merge_periods_ahead(const StretchStore& store, MergeAhead& ahead) {
  std::unique_lock<std::mutex> lock(ahead.mutex);
  for (;;) {
    ahead.changed.wait(lock, [&] {
      return ahead.stopping ||
             (!ahead.planned.empty() && ahead.merged_refs.empty() &&
              !(ahead.writing_reports &&
                stretch_bytes(store, ahead.planned.front()) > ahead.beside_writing));
    });
    if (ahead.stopping) return;
    std::vector<StretchRef> refs = std::move(ahead.planned.front());
    ahead.planned.pop_front();
    ahead.merging = true;
    lock.unlock();
    std::unique_ptr<PeriodLists> merged;
    try {
      merged = merged_lists(store, refs);
    } catch (...) {
      // The period is merged again when it ends, where a failure ends the
      // run as it always did.
      merged.reset();
    }
    lock.lock();
    ahead.merging = false;
    ahead.merged_refs = std::move(refs);
    ahead.merged = std::move(merged);
    ahead.changed.notify_all();
  }
}

// The lists merged ahead for the period of the stretches `refs`, or nullptr.
std::unique_ptr<PeriodLists> take_merged_ahead(MergeAhead* ahead,
                                               const std::vector<StretchRef>& refs) {
  if (ahead == nullptr || refs.empty()) return nullptr;
  std::unique_lock<std::mutex> lock(ahead->mutex);
  ahead->changed.wait(lock, [&] {
    return !ahead->merging && (!ahead->merged_refs.empty() || ahead->planned.empty());
  });
  std::unique_ptr<PeriodLists> merged;
  if (ahead->merged_refs == refs) {
    merged = std::move(ahead->merged);
  } else {
    ahead->planned.clear();
    ahead->merged.reset();
  }
  ahead->merged_refs.clear();
  ahead->changed.notify_all();
  return merged;
}

}  // namespace

MergeAhead::~MergeAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

bool late_stretches_whole(const StretchStore& store, int mode) {
  PeriodRun run = new_period_run(mode);
  const uint64_t first_file = first_file_index(mode);
  for (const auto& [ref, stored] : store.stretches) {
    if (ref.first < first_file) continue;
    const StretchHead head = stored_head(stored);
    // None of its records may be earlier than kLateRecordSeconds before the
    // period's first record.
    if (advance_period(run, head.fields[4], head.first == 0).late &&
        head.earliest < run.first_seconds - kLateRecordSeconds) {
      return false;
    }
  }
  return true;
}

std::vector<std::vector<StretchRef>> plan_mode_periods(const StretchStore& store, int mode) {
  // A period is a run of stretches with the same month (the year is not
  // compared) or the same year; only those from the mode's open period on
  // are analysed, which a file's first record decides anew.
  std::vector<std::vector<StretchRef>> periods;
  const uint64_t first_file = first_file_index(mode);
  PeriodRun run = new_period_run(mode);
  std::vector<StretchRef> period;
  for (const auto& [ref, stored] : store.stretches) {
    if (ref.first < first_file) continue;
    const StretchHead head = stored_head(stored);
    if (advance_period(run, head.fields[4], head.first == 0).ended && !period.empty()) {
      periods.push_back(std::move(period));
      period.clear();
    }
    if (run.active) period.push_back(ref);
  }
  if (!period.empty()) periods.push_back(std::move(period));
  return periods;
}

std::unique_ptr<MergeAhead> start_merge_ahead(const StretchStore& store,
                                              const std::vector<int>& later_modes,
                                              std::size_t beside_writing) {
  auto ahead = std::make_unique<MergeAhead>();
  ahead->beside_writing = beside_writing;
  for (const int mode : later_modes) {
    // Such a mode reads the files itself.
    if (!byte_sums_exact(store, first_file_index(mode)) || !late_stretches_whole(store, mode)) {
      continue;
    }
    bool planning = true;
    for (std::vector<StretchRef>& period : plan_mode_periods(store, mode)) {
      planning = largest_stretch(store, period) <= kMergeAheadStretchBytes;
      if (!planning) break;
      ahead->planned.push_back(std::move(period));
    }
    if (!planning) break;
  }
  if (ahead->planned.empty()) return nullptr;
  MergeAhead& started = *ahead;
  ahead->thread = std::thread([&started, &store] { merge_periods_ahead(store, started); });
  return ahead;
}

void merge_stretches(const StretchStore& store, MergeAhead* ahead,
                     const std::vector<StretchRef>& refs) {
  std::unique_ptr<PeriodLists> merged = take_merged_ahead(ahead, refs);
  try {
    if (!merged) merged = merged_lists(store, refs);
  } catch (const SpillReadError& failure) {
    stop_on_io_error("read", store.spill.path, failure.error_number);
  }
  install_period_lists(std::move(*merged));
}

WritingReports::WritingReports(MergeAhead* merge_ahead) : ahead(merge_ahead) {
  if (ahead == nullptr) return;
  const std::lock_guard<std::mutex> lock(ahead->mutex);
  ahead->writing_reports = true;
}

WritingReports::~WritingReports() {
  if (ahead == nullptr) return;
  {
    const std::lock_guard<std::mutex> lock(ahead->mutex);
    ahead->writing_reports = false;
  }
  ahead->changed.notify_all();
}

}  // namespace sorvik
