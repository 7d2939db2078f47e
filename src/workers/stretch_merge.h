// Merging counted stretches into the lists of a period, as counting their
// requests one by one into those lists would have made them.
#ifndef SORVIK_WORKERS_STRETCH_MERGE_H_
#define SORVIK_WORKERS_STRETCH_MERGE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "stats/counted_list.h"
#include "workers/script_format.h"
#include "workers/stretch_store.h"

namespace sorvik {

// The lists of one period, slots 1..kPeriodListSlots.
using PeriodLists = std::array<CountedList, kPeriodListSlots + 1>;

// Buffers a merge reuses from one list to the next.
struct MergeBuffers {
  std::vector<PackedTime> first_times;
  std::vector<bool> is_new;
  std::vector<EntryView> read;   // entries of one list, read in place
  std::vector<uint32_t> hashes;  // their hashes
};

// Merges the next list that put_counted_list sent into `list` (skips it when
// `list` is nullptr); afterwards buffers.is_new tells for each of the sent
// entries whether it was new to `list`. Only new entries are copied: a
// period's later stretches mostly repeat the keys of the first.
void merge_counted_list(ItemReader& reader, CountedList* list, MergeBuffers& buffers);

// The lists of one period merged from the stretches `refs` of the store, in
// order. A client new to the period whose first request was a page makes
// the entry page, as counting the requests one by one does. Reads nothing
// but the store, so that it can run beside the analyzer. Throws
// SpillReadError, and std::runtime_error for a stretch not in the store.
std::unique_ptr<PeriodLists> merged_lists(const StretchStore& store,
                                          const std::vector<StretchRef>& refs);

// Puts a period's lists into the list slots 1..kPeriodListSlots; titles and
// letters stay the slots'.
void install_period_lists(PeriodLists&& merged);

// Adds the unknown agents of a stretch (its item read up to them, by
// read_stretch_head) to the unknown-agent slots when `analysed`, as counting
// its requests would have; skips them otherwise.
void take_unknown_agents(ItemReader& reader, bool analysed);

// Adds the entries of `counted` to slot `slot`, each with its own totals, in
// the list's order. The unknown-agent lists are shown only as agent texts by
// hits, which this keeps exact.
void add_unknown_agents(int slot, const CountedList& counted);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_STRETCH_MERGE_H_
