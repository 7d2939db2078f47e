// Making a mode's run from the counted stretches and file facts: each file
// shown as reading it shows it, each period's lists merged from the
// stretches it analysed, its result entry and reports written as the run
// writes them.
#ifndef SORVIK_WORKERS_STRETCH_PLAYBACK_H_
#define SORVIK_WORKERS_STRETCH_PLAYBACK_H_

#include "workers/counted_stretches.h"

namespace sorvik {

// The weeks run. A file whose counting child did not send it whole, or
// whose byte sum could come out otherwise, is read here; the later modes
// then read the files themselves (counted.complete stays false).
void run_weeks_from_stretches(CountedStretches& counted);

// Whether `mode`'s run (a later mode) can be made from the stretches: the
// weeks run was made from them for every file, and the mode's byte sums
// are exact and its late stretches late as a whole.
bool can_run_from_stretches(const CountedStretches& counted, int mode);

// The months or years run: the steps of reading the files, with each
// stretch taken in one step, since only the first record of a stretch can
// change the period.
void run_from_stretches(CountedStretches& counted, int mode);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_STRETCH_PLAYBACK_H_
