// Merging the periods of the months and years runs from their stretches on
// a thread of its own while the analyzer writes the reports of the period
// before, one period ahead. The periods are planned from the stretches'
// first records once the weeks run has taken them all in; a period that
// ends with exactly the stretches planned for it takes the lists merged
// here, any other is merged when it ends, as if nothing had been planned.
#ifndef SORVIK_WORKERS_MERGE_AHEAD_H_
#define SORVIK_WORKERS_MERGE_AHEAD_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "workers/stretch_merge.h"
#include "workers/stretch_store.h"

namespace sorvik {

// A period whose stretches took more than `beside_writing` bytes as they
// were sent is not begun while the analyzer writes a period's reports, but
// once it has written them. Merged beside the writing, a large period and
// the one being written share the heap's lock so often that each is slowed
// more than the overlap gains, and both periods' lists are held at once.
// The many small periods of long logs still overlap, where that pays.
struct MergeAhead {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<StretchRef>> planned;  // in the order they will end
  bool merging = false;                         // a planned period is being merged
  bool writing_reports = false;                 // the analyzer writes a period's reports
  std::size_t beside_writing = 0;
  std::vector<StretchRef> merged_refs;  // of `merged`, empty when none waits
  std::unique_ptr<PeriodLists> merged;  // nullptr when its merge failed
  bool stopping = false;
  std::thread thread;

  MergeAhead() = default;
  MergeAhead(const MergeAhead&) = delete;
  MergeAhead& operator=(const MergeAhead&) = delete;
  // Waits for a merge under way, which cannot be broken off.
  ~MergeAhead();
};

// Whether each stretch of `mode`'s run is late or not as a whole. A
// stretch is taken in one step of the run by its first record, so where
// that one is late for the period in progress, its other records must be
// too. Where one is not, the mode reads the files itself.
bool late_stretches_whole(const StretchStore& store, int mode);

// The periods of `mode`'s run that it analyses, each as its stretches in
// the store, in the order the run ends them.
std::vector<std::vector<StretchRef>> plan_mode_periods(const StretchStore& store, int mode);

// Plans the periods of `later_modes` (made from the stretches after the
// weeks run) as their runs will meet them, and starts merging them; nullptr
// when nothing is planned. A mode whose sums are not exact, or whose
// stretches are not late as a whole, plans nothing, nor does any after it
// once a period has a stretch too large to be held twice.
std::unique_ptr<MergeAhead> start_merge_ahead(const StretchStore& store,
                                              const std::vector<int>& later_modes,
                                              std::size_t beside_writing);

// Puts the lists of the period of the stretches `refs` into the slots:
// those merged ahead for it (when `ahead` is set; nullptr: no plan), or
// else merged now. A period other than the one merged ahead drops the plan,
// and every later period is merged when it ends. A spill file that cannot
// be read ends the run with the I/O report.
void merge_stretches(const StretchStore& store, MergeAhead* ahead,
                     const std::vector<StretchRef>& refs);

// Tells the merging thread, while it lives, that the analyzer writes a
// period's reports (see MergeAhead); nothing with no plan.
struct WritingReports {
  MergeAhead* ahead;
  explicit WritingReports(MergeAhead* merge_ahead);
  ~WritingReports();
  WritingReports(const WritingReports&) = delete;
  WritingReports& operator=(const WritingReports&) = delete;
};

}  // namespace sorvik

#endif  // SORVIK_WORKERS_MERGE_AHEAD_H_
