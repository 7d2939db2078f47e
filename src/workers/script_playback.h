// Playing a mode child's script in the mode's turn: every step it sent is
// carried out here as the mode's run would have, with the analyzer's own
// console, error log, result lists, host cache and reports.
#ifndef SORVIK_WORKERS_SCRIPT_PLAYBACK_H_
#define SORVIK_WORKERS_SCRIPT_PLAYBACK_H_

#include "workers/worker_process.h"

namespace sorvik {

// Plays the worker's script to its end. Ends the run as the mode would (a
// RunStop, out of memory, an internal error). False when the child ended
// without sending anything, so that the caller runs the mode itself; a
// child that ends after some of its script is an internal error.
bool play_script(ModeWorker& worker);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_SCRIPT_PLAYBACK_H_
