// The body of a child that runs a whole run mode ahead of its turn and sends
// every visible step of it as its script: its console text (kConsole),
// error-log entries (kErrorEntry), the ends of its periods with their
// counted lists (kPeriodEnd), the years run's quiet name-server checks
// between files (kDnsCheck), and at the end the state later steps read and
// the unknown agents it counted (kEnd), or how its run was ended. A child
// given a start descriptor waits on it before it begins; the descriptor's
// end without a byte means the parent is gone.
#ifndef SORVIK_WORKERS_MODE_CHILD_H_
#define SORVIK_WORKERS_MODE_CHILD_H_

#include "workers/worker_process.h"

namespace sorvik {

[[noreturn]] void run_mode_child(const ChildStart& start);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_MODE_CHILD_H_
