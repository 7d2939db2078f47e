// The body of a counting child: it takes the pieces of the files one after
// the other as the shared claims have it, reads each as the weeks run reads
// a file, and sends each stretch's lists (kStretch) and then the piece's
// facts (kFileFacts); its script ends with kEnd once no piece is left, or
// with how its run was ended. It shows nothing itself: the facts keep what
// the modes show of a piece besides the stretches (the console text and
// error-log entries of the reading and of the parsing), each with the
// records of the piece read before it. A piece changed since it was cut,
// or with more than kStretchesPerFile stretches, ends the child's script
// without its facts, and the weeks run reads that file itself.
#ifndef SORVIK_WORKERS_COUNTING_CHILD_H_
#define SORVIK_WORKERS_COUNTING_CHILD_H_

#include "workers/worker_process.h"

namespace sorvik {

[[noreturn]] void run_counting_child(const ChildStart& start);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_COUNTING_CHILD_H_
