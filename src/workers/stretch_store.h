// The stretches the counting children sent, kept until the last run mode
// made from them has been played: what the modes read of every stretch in
// their turn (its head and unknown agents) in memory, and its period lists,
// which only merging reads, in memory up to a given number of bytes and in
// a spill file beyond. Also the facts of each piece of a file: its record
// and line counts and what reading and parsing it showed.
#ifndef SORVIK_WORKERS_STRETCH_STORE_H_
#define SORVIK_WORKERS_STRETCH_STORE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workers/script_format.h"
#include "workers/spill_file.h"

namespace sorvik {

// A counted stretch as the store keeps it.
struct StoredStretch {
  std::string item;          // as sent, or up to its lists when they are spilled
  std::size_t lists_at = 0;  // where the lists begin in the item
  bool lists_spilled = false;
  SpilledBytes spilled;  // where they are then
  std::size_t size = 0;  // of the whole item
};

struct StretchStore {
  // By (file index, stretch number).
  std::map<StretchRef, StoredStretch> stretches;
  // The bytes of lists the stretches may hold in memory; those beyond go
  // to the spill file.
  std::size_t stretch_memory = std::size_t{16} << 20;
  // The bytes of lists the stretches hold in memory.
  std::size_t lists_held = 0;
  SpillFile spill;
  // By (file index, piece number): the kFileFacts item of the piece.
  std::map<std::pair<uint64_t, uint64_t>, std::string> files;
};

// A failed read of the spill file.
struct SpillReadError {
  int error_number = 0;
};

// Keeps a kStretch item (as put_stretch made it) under `ref`, replacing one
// kept before: its lists in memory while the store holds at most
// stretch_memory bytes of lists with them, else in the spill file (or in
// memory all the same when the file cannot take them).
void keep_stretch(StretchStore& store, const StretchRef& ref, std::string item);

// The period lists of a stored stretch (the part of its item after the
// unknown agents), read back into `spilled` when they are in the spill
// file. Throws SpillReadError.
std::string_view stretch_lists(const StretchStore& store, const StoredStretch& stored,
                               std::string& spilled);

// The stored stretches of file `k`, in their order, for a range-for.
struct FileStretches {
  std::map<StretchRef, StoredStretch>::const_iterator first;
  std::map<StretchRef, StoredStretch>::const_iterator last;
  auto begin() const { return first; }
  auto end() const { return last; }
};
FileStretches stretches_of(const StretchStore& store, uint64_t k);

// The head of a stored stretch.
StretchHead stored_head(const StoredStretch& stored);

// The byte sums of a mode's periods come out the same when its stretches'
// sums are added as when each request is added, while every sum stays an
// integer that the long double holds exactly. Whether they do for a mode
// that reads from `first_file` on, and for file `k` alone (a week).
bool byte_sums_exact(const StretchStore& store, uint64_t first_file);
bool file_bytes_exact(const StretchStore& store, uint64_t k);

// The facts of file `k` from those of its pieces (which must all be in the
// store): the records and lines of each piece follow those of the pieces
// before it. The events' texts lie in the store.
struct FileFacts {
  uint64_t records = 0;
  uint64_t lines = 0;
  std::vector<FactEvent> events;
};
FileFacts read_file_facts(const StretchStore& store, uint64_t k);

// The records of piece `number` of file `k`, whose facts are in the store.
uint64_t piece_records(const StretchStore& store, uint64_t k, uint64_t number);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_STRETCH_STORE_H_
