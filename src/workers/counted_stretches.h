// A run whose modes are made from counted stretches: the counting children,
// the pieces they share, what they sent, and the merges ahead; and the
// analyzer's intake of the children's items into the store, file by file in
// the order the weeks run shows the files.
#ifndef SORVIK_WORKERS_COUNTED_STRETCHES_H_
#define SORVIK_WORKERS_COUNTED_STRETCHES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "workers/file_claims.h"
#include "workers/merge_ahead.h"
#include "workers/stretch_store.h"
#include "workers/worker_process.h"

namespace sorvik {

// A counting child gives up on a piece of a file with more stretches than
// this; a weekly file has one or two (three at a year's end). The stretches
// of piece p of a file are numbered from p times this.
inline constexpr uint64_t kStretchesPerFile = 32;

struct CountedStretches {
  StretchStore store;
  // Shared with the counting children; nullptr when there are none.
  SharedFileClaims claims;
  std::vector<std::unique_ptr<ModeWorker>> counters;
  // The counting child of each number, nullptr where it could not start.
  std::array<ModeWorker*, kCountingAtOnce> counter_number{};
  // The modes made from the stretches after the weeks run, in their order.
  std::vector<int> later_modes;
  std::size_t merge_beside_writing = std::size_t{4} << 20;  // see MergeAhead
  // The weeks run was made from stretches for every file it read, so the
  // later modes can be made from them too.
  bool complete = false;
  // Declared last, so that its thread ends before the stretches it reads go.
  std::unique_ptr<MergeAhead> merge_ahead;
};

// Whether every counting child has ended its script (or never started).
bool counters_ended(const CountedStretches& counted);

// The counting child that took piece `i` of the claims, waited for until
// one has taken it; nullptr when none will (the children ended first). A
// child takes the next piece when it has sent the one before, so the wait
// is short unless both children are busy with earlier pieces, whose items
// the analyzer needs first anyway.
ModeWorker* counter_of_piece(const CountedStretches& counted, std::size_t i);

// Takes the items of every piece of file `k` into the store, in the order
// of the pieces, each piece's records numbered after those of the pieces
// before it; false when a piece's child did not send it whole (it stopped,
// failed or died first), or no child counts the file.
bool take_counted_file(CountedStretches& counted, uint64_t k);

// Once every counting child has ended, or at the weeks run's last file,
// the stretches of the files from file `k` of the weeks run on are all at
// hand (those before it must be in the store): takes those not taken yet
// into the store and plans the later modes' periods, so that those are
// merged on the other core while the weeks run still shows its last files.
// False while a child still counts a file after `k`; true once tried or
// planned, whether or not a plan was made (a file not sent whole is then
// read by the weeks run, which makes no plan after it).
bool plan_once_counted(CountedStretches& counted, std::size_t k);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_COUNTED_STRETCHES_H_
