#include "workers/stretch_merge.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace sorvik {

namespace {

// Entries of a sent list are merged this many entries after their index
// buckets are asked for, and half as many after their entries: the entries
// of a large list are found in an order of their own, so each would wait
// for the memory otherwise.
constexpr std::size_t kMergeAhead = 8;
constexpr uint64_t kMergeBlock = 4096;

// The time of the first request of entry `i` of the block read, which
// begins with entry `start` of the sent list.
PackedTime first_time_of(const MergeBuffers& buffers, uint64_t start, std::size_t i) {
  const uint64_t at = start + i;
  return at < buffers.first_times.size() ? buffers.first_times[at] : buffers.read[i].time;
}

// Merges a block of entries read into buffers.read, the first of which is
// entry `start` of the sent list, into a list that held entries before.
void merge_block(CountedList& list, MergeBuffers& buffers, uint64_t start) {
  const std::size_t block = buffers.read.size();
  buffers.hashes.resize(block);
  for (std::size_t i = 0; i < block; ++i) buffers.hashes[i] = list_key_hash(buffers.read[i].key);
  for (std::size_t i = 0; i < block; ++i) {
    if (i + kMergeAhead < block) list_prefetch_bucket(list, buffers.hashes[i + kMergeAhead]);
    if (i + kMergeAhead / 2 < block) list_prefetch_entry(list, buffers.hashes[i + kMergeAhead / 2]);
    buffers.is_new[start + i] =
        list_merge_view(list, buffers.read[i], first_time_of(buffers, start, i), buffers.hashes[i]);
  }
}

}  // namespace

void merge_counted_list(ItemReader& reader, CountedList* list, MergeBuffers& buffers) {
  get_first_times(reader, buffers.first_times);
  const uint64_t size = skip_list_counters(reader);  // the merge makes the counters again
  // Into an empty list every entry is new (a child's list holds no key
  // twice): the entries are appended as they are, without a lookup.
  const bool fresh = list != nullptr && list->entries.empty();
  buffers.is_new.assign(size, fresh);
  if (fresh) list->entries.reserve(size);
  // The entries are read a block at a time, so that the memory for them
  // stays small whatever the list's length.
  for (uint64_t start = 0; start < size; start += kMergeBlock) {
    const std::size_t block = static_cast<std::size_t>(std::min(kMergeBlock, size - start));
    buffers.read.resize(block);
    for (EntryView& entry : buffers.read) get_entry_view(reader, entry);
    if (list == nullptr) continue;
    if (!fresh) {
      merge_block(*list, buffers, start);
      continue;
    }
    for (std::size_t i = 0; i < block; ++i) {
      list_append_view(*list, buffers.read[i], first_time_of(buffers, start, i));
    }
  }
}

std::unique_ptr<PeriodLists> merged_lists(const StretchStore& store,
                                          const std::vector<StretchRef>& refs) {
  auto made = std::make_unique<PeriodLists>();
  PeriodLists& merged = *made;
  MergeBuffers buffers;
  std::vector<bool> new_clients;
  EntryValues entry;    // each first request read, its texts' memory reused
  std::string spilled;  // lists read back from the spill file
  for (const StretchRef& ref : refs) {
    const auto found = store.stretches.find(ref);
    if (found == store.stretches.end()) {
      throw std::runtime_error("a stretch counted by the weeks run is missing");
    }
    // The unknown agents, which come before the lists, are taken elsewhere.
    ItemReader reader;
    reader.start(stretch_lists(store, found->second, spilled));
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      merge_counted_list(reader, slot == kEntryPages ? nullptr : &merged[slot], buffers);
      if (slot == kClients) new_clients = buffers.is_new;
    }
    const uint64_t clients = reader.get_u64();
    for (uint64_t i = 0; i < clients; ++i) {
      bool is_page = false;
      get_first_request(reader, is_page, entry);
      if (is_page && i < new_clients.size() && new_clients[i]) {
        list_merge_entry(merged[kEntryPages], entry, entry.time);
      }
    }
  }
  for (CountedList& list : merged) {
    // Entries were appended one by one, so a list may hold up to twice the
    // memory it needs for the whole time its reports are written. The index
    // goes as well: the slots make it again when they need it.
    list.entries.shrink_to_fit();
    list.index = KeyIndex{};
    list.index.valid = list.entries.empty();
  }
  return made;
}

void install_period_lists(PeriodLists&& merged) {
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    CountedList& counted = merged[slot];
    CountedList& list = lists.list_slots[slot];
    list.entries = std::move(counted.entries);
    // The entries' texts lie in the merged list's arena, which goes with them.
    list.texts = std::move(counted.texts);
    list.count = counted.count;
    list.total_hits = counted.total_hits;
    list.total_kbytes = counted.total_kbytes;
    list.total_visits = counted.total_visits;
    list.sort_key = counted.sort_key;
    list.sort_letter = counted.sort_letter;
    list.index = KeyIndex{};
    list.index.valid = list.entries.empty();
  }
}

void add_unknown_agents(int slot, const CountedList& counted) {
  const EntryValues staged = lists.current_entry;
  for (const ListEntry& entry : counted.entries) {
    assign_entry(lists.current_entry, entry);
    list_add(slot);
  }
  lists.current_entry = staged;
}

void take_unknown_agents(ItemReader& reader, bool analysed) {
  std::vector<PackedTime> first_times;
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    CountedList counted;
    get_counted_list(reader, counted, first_times);
    if (analysed) add_unknown_agents(slot, counted);
  }
}

}  // namespace sorvik
