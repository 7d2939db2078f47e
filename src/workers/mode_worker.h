// The run modes counted ahead of their turn.
//
// Each run mode reads every log file again. Instead, child processes read
// and count the files on the processor's cores while the analyzer shows the
// run modes one after the other. Nothing a child does is visible: what it
// read and counted comes back to the parent through a pipe, and the parent
// makes each mode's run from it in the mode's turn, writing the result
// entries and the period reports with its own host cache and settings, so
// the console, the error log, every report and every state file are the same
// byte for byte as when each mode reads the files in its turn.
//
// Usually two counting children read the files (counting_child.h), each
// taking the next file (or piece of a long file) not taken yet when it is
// done with one, and send its stretches and facts, from which the parent
// makes every mode (stretch_playback.h). Otherwise a child per run mode runs
// the mode and sends it as a script (mode_child.h), which the parent plays
// in the mode's turn (script_playback.h).
#ifndef SORVIK_WORKERS_MODE_WORKER_H_
#define SORVIK_WORKERS_MODE_WORKER_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "workers/counted_stretches.h"
#include "workers/worker_process.h"

namespace sorvik {

// How a run counts its modes ahead. The output is the same whatever they are.
struct WorkerTuning {
  // Whether a whole run counts its run modes in child processes; off, each
  // run mode reads the files when its turn comes.
  bool count_ahead = true;
  // The bytes of counted lists that such a run holds in memory for its later
  // modes; the lists beyond go to a temporary file until they are merged.
  std::size_t stretch_memory = std::size_t{16} << 20;
  // A period of the later modes whose stretches took more bytes than this
  // as they were sent is merged ahead only while the analyzer writes no
  // period's reports (see MergeAhead).
  std::size_t merge_beside_writing = std::size_t{4} << 20;
};

// The tuning the driver's runs use.
extern WorkerTuning worker_tuning;
void reset_worker_tuning();

// The workers of one run, in the order of their modes. They are ended in
// that order: a worker's drain thread may still let the next child begin.
struct ModeWorkers {
  std::vector<std::unique_ptr<ModeWorker>> list;  // nullptr: no child for that mode
  // The modes made from counted stretches; nullptr when none is.
  std::unique_ptr<CountedStretches> counted;

  ModeWorkers() = default;
  ModeWorkers(ModeWorkers&&) = default;
  ModeWorkers& operator=(ModeWorkers&&) = delete;
  ~ModeWorkers() {
    for (std::unique_ptr<ModeWorker>& worker : list) worker.reset();
  }
};

// Starts the counting children, or else a child for each of `modes`
// (kModeWeeks, kModeMonths, kModeYears), all forked before any thread of the
// parent starts. The state the modes start from must be in place: settings,
// language, pattern lists, the selected files and the result file's start
// files and open periods. A mode whose child cannot be started gets nullptr
// and is run in its turn as usual.
ModeWorkers start_mode_workers(const std::vector<int>& modes, const WorkerTuning& tuning);

// Plays the worker's script, or makes the mode's run from the counted
// stretches: the mode's run as if it read the files now. Ends the run as
// the mode would (a RunStop, out of memory, an internal error). False when
// the child ended without sending anything, or the stretches cannot give
// the mode's run, so that the caller runs the mode itself; a child that
// ends after some of its script is an internal error. The weeks run made
// from stretches reads a file itself whose counting child did not send it.
bool play_mode_worker(ModeWorker& worker);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_MODE_WORKER_H_
