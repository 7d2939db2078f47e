// The run modes counted in child processes.
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
// Usually (see WorkerRole) two counting children read the files, each taking
// the next file (or piece of a long file) not taken yet when it is done with
// one, and send its stretches and facts. Otherwise a child per run mode
// runs the mode and sends it as a script: its console text, error-log
// entries, the ends of its periods with their counted lists, the years run's
// name-server checks and a stop, which the parent plays in the mode's turn.
#ifndef SORVIK_WORKERS_MODE_WORKER_H_
#define SORVIK_WORKERS_MODE_WORKER_H_

#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logs/log_reader.h"
#include "stats/counted_list.h"
#include "workers/spill_file.h"

namespace sorvik {

// How a child counts.
//
// Every run mode counts the same records, so where the later modes read only
// files that the weeks run reads too, each line is read and counted once:
// counting children (two, so that both cores count) read the files (see
// FileClaims for which child reads which) and count each stretch of a file
// (its records between two changes of month or year) into lists of their
// own, which they send with what reading and parsing the file showed. Every
// period of every mode is a run of whole stretches; the parent makes each
// mode's run from them in its turn, merging a period's stretches into the
// period's lists.
enum class WorkerRole : uint8_t {
  kWhole,          // a child that runs its mode and counts its periods itself
  kCounting,       // a child that counts the stretches of its files
  kFromStretches,  // no child: the mode is made from the counted stretches
};

struct StretchStore;

// One child process counting one run mode or some files, and the script it
// has sent so far; or, for a mode made from stretches, no child at all.
struct ModeWorker {
  int mode = 0;
  WorkerRole role = WorkerRole::kWhole;
  StretchStore* store = nullptr;  // where stretches go or come from
  pid_t pid = -1;
  int fd = -1;  // the parent's end of the pipe from the child
  // Where the parent lets a waiting child begin (-1: it began at once). At
  // most as many children count at a time as the machine has cores for, so
  // a later one waits until an earlier one has sent its whole script.
  int start_fd = -1;
  // The worker whose child may begin once this child's script is complete.
  ModeWorker* next = nullptr;
  // Moves the pipe's bytes into `script` while the parent works, so that the
  // child never waits for the parent.
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

// A counted stretch: its file's index and its number in the file.
using StretchRef = std::pair<uint64_t, uint64_t>;

// The lists of one period, slots 1..20.
using PeriodLists = std::array<CountedList, kPeriodListSlots + 1>;

// Merges the periods of the months and years runs from their stretches on a
// thread of its own while the analyzer writes the reports of the period
// before, one period ahead. The periods are planned from the stretches'
// first records once the weeks run has taken them all in; a period that
// ends with exactly the stretches planned for it takes the lists merged
// here, any other is merged when it ends, as if nothing had been planned.
//
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
  std::size_t beside_writing = 0;               // analysis.merge_beside_writing
  std::vector<StretchRef> merged_refs;          // of `merged`, empty when none waits
  std::unique_ptr<PeriodLists> merged;          // nullptr when its merge failed
  bool stopping = false;
  std::thread thread;

  MergeAhead() = default;
  MergeAhead(const MergeAhead&) = delete;
  MergeAhead& operator=(const MergeAhead&) = delete;
  // Waits for a merge under way, which cannot be broken off.
  ~MergeAhead();
};

// The run modes are made from counted stretches only while the weeks run
// reads at most this many files (three years of daily logs), the size of
// the table of pieces the children share. The stretches are kept until the
// last mode is played: past analysis.stretch_memory bytes, their lists in a
// spill file.
inline constexpr std::size_t kStretchFileLimit = 1024;

// The nice value a counting child takes (the analyzer keeps its own): the
// children use what processor time the analyzer leaves.
inline constexpr int kCountingChildNice = 10;

// Children that count at the same time (a child per mode beyond these
// waits for an earlier one to finish). Two keep both cores busy while the
// parent writes the reports, and a third would only add its memory.
inline constexpr std::size_t kCountingAtOnce = 2;

// A plain file of at least this many bytes can be counted in two pieces,
// which the children take one after the other like files: where that lets
// them end sooner (a single long log above all, which would keep one child
// busy while the other has nothing to do), it is cut.
inline constexpr uint64_t kPieceMinBytes = uint64_t{1} << 20;
inline constexpr std::size_t kPieceLimit = 2 * kStretchFileLimit;

// A file, or a piece of one, as the counting children take them.
struct CountedPiece {
  uint32_t file = 0;    // its index among the selected files
  uint32_t number = 0;  // its number within the file, from 0
  LogPiece bytes;
};

// Whether a piece still begins and ends at the borders of lines, as it did
// when its file was cut: in a file replaced or cut short since, the bytes
// before its borders may no longer be line feeds. A whole file always is.
bool piece_still_cut(const CountedPiece& piece);

// Which counting child reads which piece of which file. The pieces are
// planned before the children are forked, in the order of the files. Each
// child takes the next piece not taken yet whenever it has sent the one
// before, so a child held up by a long file leaves the following ones to
// the other, and the files arrive in about the order the weeks run shows
// them. It lives in memory shared with the children.
struct FileClaims {
  std::atomic<uint32_t> next{0};
  uint32_t pieces = 0;
  std::array<CountedPiece, kPieceLimit> piece{};
  // The number of the child that took each piece, -1 while none has.
  std::array<std::atomic<int32_t>, kPieceLimit> taker{};

  FileClaims() {
    for (std::atomic<int32_t>& child : taker) child.store(-1);
  }
};

// Gives the shared memory of FileClaims back.
struct FileClaimsUnmap {
  void operator()(FileClaims* claims) const;
};

// A counted stretch as the store keeps it: what the modes read of every
// stretch in their turn (its head and unknown agents) in memory, and the
// period lists, which only merging reads, in memory or in the spill file.
struct StoredStretch {
  std::string item;          // as sent, or up to its lists when they are spilled
  std::size_t lists_at = 0;  // where the lists begin in the item
  bool lists_spilled = false;
  SpilledBytes spilled;  // where they are then
  std::size_t size = 0;  // of the whole item
};

// The stretches the counting children sent, kept until the last mode that
// is made from them has been played.
struct StretchStore {
  // By (file index, stretch number).
  std::map<std::pair<uint64_t, uint64_t>, StoredStretch> stretches;
  // The bytes of lists the stretches hold in memory.
  std::size_t lists_held = 0;
  SpillFile spill;
  // By (file index, piece number): the piece's records and lines and what
  // reading and parsing them showed, each with its place among the records.
  std::map<std::pair<uint64_t, uint64_t>, std::string> files;
  // The weeks run was made from stretches for every file it read, so the
  // later modes can be made from them too.
  bool complete = false;
  std::vector<std::unique_ptr<ModeWorker>> counters;
  // Shared with the counting children; nullptr when there are none.
  std::unique_ptr<FileClaims, FileClaimsUnmap> claims;
  // The counting child of each number, nullptr where it could not start.
  std::array<ModeWorker*, kCountingAtOnce> counter_number{};
  // The modes made from the stretches after the weeks run, in their order.
  std::vector<int> later_modes;
  // Declared last, so that its thread ends before the stretches it reads go.
  std::unique_ptr<MergeAhead> merge_ahead;
};

// Once every counting child has ended, or at the weeks run's last file,
// the stretches of the files from file `k` of the weeks run on are all at
// hand (those before it must be in the store): takes those not taken yet
// into the store and plans the later modes' periods, so that those are
// merged on the other core while the weeks run still shows its last files.
// False while a child still counts a file after `k`; true once tried or
// planned, whether or not a plan was made (a file not sent whole is then
// read by the weeks run, which makes no plan after it).
bool plan_once_counted(StretchStore& store, std::size_t k);

// The workers of one run, in the order of their modes. They are ended in
// that order: a worker's drain thread may still let the next child begin.
struct ModeWorkers {
  std::vector<std::unique_ptr<ModeWorker>> list;  // nullptr: no child for that mode
  std::unique_ptr<StretchStore> store = std::make_unique<StretchStore>();

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
ModeWorkers start_mode_workers(const std::vector<int>& modes);

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
