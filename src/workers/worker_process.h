// The child processes of a run and the analyzer's end of their pipes:
// forking a child, letting a waiting child begin, draining its pipe on a
// thread of the analyzer's so that the child never waits for the analyzer,
// handing the script's items out one by one, and ending and reaping it.
#ifndef SORVIK_WORKERS_WORKER_PROCESS_H_
#define SORVIK_WORKERS_WORKER_PROCESS_H_

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "workers/script_format.h"

namespace sorvik {

// How a mode is counted ahead.
//
// Every run mode counts the same records, so where the later modes read only
// files that the weeks run reads too, each line is read and counted once:
// counting children (two, so that both cores count) read the files (see
// file_claims.h for which child reads which) and count each stretch of a
// file (its records between two changes of month or year) into lists of
// their own, which they send with what reading and parsing the file showed.
// Every period of every mode is a run of whole stretches; the parent makes
// each mode's run from them in its turn, merging a period's stretches into
// the period's lists.
enum class WorkerRole : uint8_t {
  kWhole,          // a child that runs its mode and counts its periods itself
  kCounting,       // a child that counts the stretches of its files
  kFromStretches,  // no child: the mode is made from the counted stretches
};

// Children that count at the same time (a child per mode beyond these
// waits for an earlier one to finish). Two keep both cores busy while the
// parent writes the reports, and a third would only add its memory.
inline constexpr std::size_t kCountingAtOnce = 2;

// The nice value a counting child takes (the analyzer keeps its own): the
// children use what processor time the analyzer leaves.
inline constexpr int kCountingChildNice = 10;

struct CountedStretches;

// One child process counting one run mode or some files, and the script it
// has sent so far; or, for a mode made from stretches, no child at all.
struct ModeWorker {
  int mode = 0;
  WorkerRole role = WorkerRole::kWhole;
  CountedStretches* stretches = nullptr;  // where stretches go or come from
  pid_t pid = -1;
  int fd = -1;  // the parent's end of the pipe from the child
  // Where the parent lets a waiting child begin (-1: it began at once).
  int start_fd = -1;
  // The worker whose child may begin once this child's script is complete.
  ModeWorker* next = nullptr;
  // Moves the pipe's bytes into `script` while the parent works.
  std::thread drain;
  std::mutex mutex;
  std::condition_variable arrived;
  // Bytes received and not yet played, in the blocks the pipe gave them:
  // no block is ever copied to make room for more.
  std::deque<std::string> script;
  std::size_t script_head = 0;  // bytes of script.front() already played
  std::size_t script_size = 0;  // bytes not yet played
  bool finished = false;        // the pipe reached its end (or failed)
  int read_error = 0;           // errno of a failed pipe read, 0 otherwise
  bool played = false;          // the whole script has been played

  ModeWorker() = default;
  ModeWorker(const ModeWorker&) = delete;
  ModeWorker& operator=(const ModeWorker&) = delete;
  // Ends the child (unless its script was played to the end) and reaps it.
  ~ModeWorker();
};

// What a forked child is given: its pipe to the parent (descriptor 3), the
// descriptor it waits on for its start (4, or -1), and what it counts.
struct ChildStart {
  int mode = 0;
  int number = -1;  // a counting child's number, from 0
  int fd = -1;
  int start_fd = -1;
  CountedStretches* stretches = nullptr;
};

// The body of a child; it never returns.
using ChildBody = void (*)(const ChildStart& start);

// Forks a child that runs `body` as `role` for `mode` (counting child
// `number`), waiting for its start when `waits`, one of `at_once` children
// counting at a time; nullptr when it cannot be started. The child dies
// with the parent and keeps no other descriptor of the parent's.
std::unique_ptr<ModeWorker> fork_worker(int mode, WorkerRole role, int number, bool waits,
                                        std::size_t at_once, CountedStretches* stretches,
                                        ChildBody body);

// Lets the worker's waiting child begin (nothing when it began at once).
void release(ModeWorker& worker);

// Starts the thread that drains the worker's pipe. Call only once every
// child is forked.
void start_draining(ModeWorker& worker);

// The next item of the worker's script into `reader`, waited for; false when
// the script ended before it (the child ended, or its pipe failed).
bool next_item(ModeWorker& worker, ItemReader& reader);

// Whether the worker's script has ended: its child is gone or sent all.
bool script_ended(ModeWorker& worker);

// Waits until some bytes of the worker's script have arrived or it ended;
// true when bytes are there.
bool wait_for_script(ModeWorker& worker);

// In a child, inside a catch: puts how its run was ended (a RunStop, no
// memory, another failure) as the last item of its script.
void put_ending(ScriptWriter& writer);

// Sends what the child has pending and ends it.
[[noreturn]] void exit_child(ScriptWriter& writer);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_WORKER_PROCESS_H_
