#include "workers/mode_worker.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "workers/counting_child.h"
#include "workers/file_claims.h"
#include "workers/mode_child.h"
#include "workers/piece_plan.h"
#include "workers/script_playback.h"
#include "workers/stretch_playback.h"

namespace sorvik {

WorkerTuning worker_tuning;

void reset_worker_tuning() { worker_tuning = WorkerTuning{}; }

namespace {

// Whether every mode can be made from counted stretches: the weeks run
// comes first and reads every file the others read, and few enough files.
bool modes_from_stretches(const std::vector<int>& modes) {
  const std::size_t files = analysis.log_files.size();
  const std::size_t weeks_start = std::min(first_file_index(kModeWeeks), files);
  bool stretches =
      modes.size() > 1 && modes.front() == kModeWeeks && files - weeks_start <= kStretchFileLimit;
  for (std::size_t i = 1; i < modes.size(); ++i) {
    stretches = stretches && first_file_index(modes[i]) >= weeks_start;
  }
  return stretches;
}

// The counting children take the files (or their pieces) one after the
// other (see file_claims.h), so that the weeks run can be shown file after
// file while they go on. A file that no child sends whole is read by the
// weeks run itself.
void start_counting(ModeWorkers& started, const std::vector<int>& modes,
                    const WorkerTuning& tuning) {
  started.counted = std::make_unique<CountedStretches>();
  CountedStretches& counted = *started.counted;
  counted.store.stretch_memory = tuning.stretch_memory;
  counted.merge_beside_writing = tuning.merge_beside_writing;
  const std::size_t weeks_start = std::min(first_file_index(kModeWeeks), analysis.log_files.size());
  counted.claims =
      make_file_claims(plan_pieces(shapes_of_files(weeks_start), weeks_start, kCountingAtOnce));
  const std::size_t at_once =
      counted.claims ? std::min<std::size_t>(kCountingAtOnce, counted.claims->pieces) : 0;
  for (std::size_t c = 0; c < at_once; ++c) {
    std::unique_ptr<ModeWorker> counter = fork_worker(
        kModeWeeks, WorkerRole::kCounting, static_cast<int>(c), false, at_once, &counted,
        run_counting_child);
    if (!counter) continue;
    counted.counter_number[c] = counter.get();
    counted.counters.push_back(std::move(counter));
  }
  for (const int mode : modes) {
    if (mode != kModeWeeks) counted.later_modes.push_back(mode);
    auto worker = std::make_unique<ModeWorker>();
    worker->mode = mode;
    worker->role = WorkerRole::kFromStretches;
    worker->stretches = &counted;
    started.list.push_back(std::move(worker));
  }
}

// A child for each mode, each beyond the first few waiting for its start:
// it begins when the child kCountingAtOnce places before it has finished;
// one whose predecessor has no child begins at once.
void start_mode_children(ModeWorkers& started, const std::vector<int>& modes) {
  std::vector<std::unique_ptr<ModeWorker>>& workers = started.list;
  for (const int mode : modes) {
    workers.push_back(fork_worker(mode, WorkerRole::kWhole, -1, workers.size() >= kCountingAtOnce,
                                  std::min(kCountingAtOnce, modes.size()), nullptr,
                                  run_mode_child));
  }
  for (std::size_t i = kCountingAtOnce; i < workers.size(); ++i) {
    if (!workers[i] || workers[i]->pid < 0) continue;
    ModeWorker* before = workers[i - kCountingAtOnce].get();
    if (before != nullptr) {
      before->next = workers[i].get();
    } else {
      release(*workers[i]);
    }
  }
}

}  // namespace

ModeWorkers start_mode_workers(const std::vector<int>& modes, const WorkerTuning& tuning) {
  ModeWorkers started;
  if (modes_from_stretches(modes)) {
    start_counting(started, modes, tuning);
  } else {
    start_mode_children(started, modes);
  }
  // Threads only now, so that no child is forked while a thread of the
  // parent holds a lock.
  for (std::unique_ptr<ModeWorker>& worker : started.list) {
    if (worker) start_draining(*worker);
  }
  if (started.counted) {
    for (std::unique_ptr<ModeWorker>& counter : started.counted->counters) start_draining(*counter);
  }
  return started;
}

bool play_mode_worker(ModeWorker& worker) {
  if (worker.role != WorkerRole::kFromStretches) return play_script(worker);
  if (worker.stretches == nullptr) return false;
  if (worker.mode == kModeWeeks) {
    worker.played = true;
    run_weeks_from_stretches(*worker.stretches);
    return true;
  }
  // Where the weeks run read a file itself, or a byte sum could come out
  // otherwise, the mode reads the files itself.
  if (!can_run_from_stretches(*worker.stretches, worker.mode)) return false;
  worker.played = true;
  run_from_stretches(*worker.stretches, worker.mode);
  return true;
}

}  // namespace sorvik
