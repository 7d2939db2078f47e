#include "stats/counted_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/message_table.h"
#include "base/text.h"
#include "stats/radix_sort.h"
#include "stats/text_hash.h"

namespace sorvik {

ListState lists;

namespace {

// Two request times of one entry at least this far apart (in PackedTime units,
// 30 minutes within one hour) count as separate visits.
constexpr uint32_t kVisitGap = 960;

constexpr std::size_t kMinBuckets = 16;

// Returned for a slot number outside 1..26, so that readers never index past
// the slot array.
const CountedList kNoList;

CountedList* slot_list(int slot) {
  if (slot < 1 || slot > kListSlots) return nullptr;
  return &lists.list_slots[slot];
}

// Where `key` sits in the index (found) or the empty bucket where it would go.
struct Probe {
  std::size_t bucket;
  bool found;
};

// Needs a non-empty bucket array with at least one empty bucket. Made part
// of each caller: every add of every request searches the index, and as a
// call of its own the search made each add save and restore registers.
[[gnu::always_inline]] inline Probe probe(const CountedList& list, std::string_view key,
                                          uint32_t hash) {
  const std::vector<IndexBucket>& buckets = list.index.buckets;
  const std::size_t mask = buckets.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const IndexBucket& b = buckets[i];
    if (b.position == 0) return {i, false};
    if (b.hash == hash && same_text(list.entries[b.position - 1].key, key)) return {i, true};
  }
}

// Moves every bucket into a fresh array of `size` buckets. The mapped keys are
// distinct, so each bucket only needs the first empty place on its probe path.
void rehash(KeyIndex& index, std::size_t size) {
  std::vector<IndexBucket> fresh(size);
  const std::size_t mask = size - 1;
  for (const IndexBucket& b : index.buckets) {
    if (b.position == 0) continue;
    std::size_t i = b.hash & mask;
    while (fresh[i].position != 0) i = (i + 1) & mask;
    fresh[i] = b;
  }
  index.buckets.swap(fresh);
}

// Keeps the load at most 60 % so that one more key fits and probes stay short.
[[gnu::always_inline]] inline void reserve_one(KeyIndex& index) {
  const std::size_t size = index.buckets.size();
  if (size == 0) {
    index.buckets.assign(kMinBuckets, IndexBucket{});
  } else if ((static_cast<std::size_t>(index.used) + 1) * 5 > size * 3) {
    rehash(index, size * 2);
  }
}

void rebuild_index(CountedList& list) {
  KeyIndex& index = list.index;
  std::size_t size = kMinBuckets;
  while (size * 3 < list.entries.size() * 5 + 5) size *= 2;
  index.buckets.assign(size, IndexBucket{});
  index.used = 0;
  index.has_duplicates = false;
  // Entries are inserted in list order and a key already present keeps its
  // bucket, so every key maps to its first entry.
  for (std::size_t pos = 0; pos < list.entries.size(); ++pos) {
    const uint32_t hash = list_key_hash(list.entries[pos].key);
    const Probe p = probe(list, list.entries[pos].key, hash);
    if (p.found) {
      index.has_duplicates = true;
      continue;
    }
    index.buckets[p.bucket] = IndexBucket{static_cast<uint32_t>(pos + 1), hash};
    index.used += 1;
  }
  index.valid = true;
}

void ensure_index(CountedList& list) {
  if (!list.index.valid) rebuild_index(list);
}

// Empties bucket i by shifting later buckets of its probe run back, so that
// no lookup stops early at the hole.
void erase_bucket(KeyIndex& index, std::size_t i) {
  std::vector<IndexBucket>& buckets = index.buckets;
  const std::size_t mask = buckets.size() - 1;
  std::size_t j = i;
  for (;;) {
    j = (j + 1) & mask;
    if (buckets[j].position == 0) break;
    const std::size_t home = buckets[j].hash & mask;
    // A bucket whose home lies cyclically in (i, j] must stay where it is.
    const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    buckets[i] = buckets[j];
    i = j;
  }
  buckets[i] = IndexBucket{};
  index.used -= 1;
}

// Position (from 0) of the first entry with `key`, or -1.
int64_t find_entry(CountedList& list, std::string_view key) {
  if (list.entries.empty()) return -1;
  ensure_index(list);
  if (list.index.buckets.empty()) return -1;
  const Probe p = probe(list, key, list_key_hash(key));
  if (!p.found) return -1;
  return static_cast<int64_t>(list.index.buckets[p.bucket].position) - 1;
}

// Gives the entry at `pos` (from 0) the key `new_key` and keeps the index
// pointing at the first entry of each key.
void change_key(CountedList& list, std::size_t pos, std::string_view new_key) {
  ListText& key = list.entries[pos].key;
  TextArena* texts = list.texts.arena.get();
  KeyIndex& index = list.index;
  if (!index.valid || index.buckets.empty()) {
    key.assign(new_key, texts);
    index.valid = false;
    return;
  }
  if (std::string_view(key) == new_key) return;
  const uint32_t old_hash = list_key_hash(key);
  key.assign(new_key, texts);
  const uint32_t position = static_cast<uint32_t>(pos + 1);

  // The old key's bucket is found by hash and position, since no entry may
  // hold the old key any more.
  const std::size_t mask = index.buckets.size() - 1;
  for (std::size_t i = old_hash & mask; index.buckets[i].position != 0; i = (i + 1) & mask) {
    if (index.buckets[i].position == position) {
      erase_bucket(index, i);
      // A later entry may share the old key; only a rebuild finds it.
      if (index.has_duplicates) {
        index.valid = false;
        return;
      }
      break;
    }
  }

  reserve_one(index);
  const uint32_t hash = list_key_hash(key);
  const Probe p = probe(list, key, hash);
  if (!p.found) {
    index.buckets[p.bucket] = IndexBucket{position, hash};
    index.used += 1;
    return;
  }
  index.has_duplicates = true;
  if (position < index.buckets[p.bucket].position) index.buckets[p.bucket].position = position;
}

// Adds without signed overflow: counters wrap like the unsigned ones.
int64_t add_wrapping(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

// Counts a new entry's values into the list's count and totals: the first
// entry of an empty list sets them.
template <typename Values>
void count_new_entry(CountedList& list, bool was_empty, const Values& values) {
  if (was_empty) {
    list.count = 1;
    list.total_hits = values.hits;
    list.total_kbytes = values.kbytes;
    list.total_visits = values.visits;
  } else {
    list.count += 1;
    list.total_hits += values.hits;
    list.total_kbytes = add_wrapping(list.total_kbytes, values.kbytes);
    list.total_visits += values.visits;
  }
}

// Asks for both cache lines an entry may span.
void prefetch_entry(const ListEntry* entry) {
  __builtin_prefetch(entry);
  __builtin_prefetch(reinterpret_cast<const char*>(entry) + sizeof(ListEntry) - 1);
}

void mark_unsorted(CountedList& list) {
  list.sort_key = 0;
  list.sort_letter = 'u';
}

// Puts the entries into the stable order for `key` (a SortKey): equal values keep
// their present order, which is what the adjacent-swap order gives.
void reorder(CountedList& list, int key) {
  std::vector<ListEntry>& entries = list.entries;
  const std::size_t n = entries.size();
  std::vector<uint32_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);

  if (key == kByKey || key == kByKeyDescending) {
    // std::string compares bytes as unsigned values, a shorter prefix first.
    if (key == kByKey) {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return entries[a].key < entries[b].key; });
    } else {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return entries[b].key < entries[a].key; });
    }
  } else {
    // Numeric keys, largest first: the values are turned around (so that
    // ascending order is the wanted one) and the positions sorted by them
    // with a stable radix sort; equal values keep their present order.
    // kbytes compare signed, so they are shifted into the unsigned range first.
    std::vector<std::pair<uint64_t, uint32_t>> values(n);
    for (std::size_t i = 0; i < n; ++i) {
      const ListEntry& e = entries[i];
      uint64_t v = 0;
      if (key == kByHits) v = e.hits;
      if (key == kByKbytes) v = static_cast<uint64_t>(e.kbytes) ^ (uint64_t{1} << 63);
      if (key == kByVisits) v = e.visits;
      values[i] = {~v, static_cast<uint32_t>(i)};
    }
    radix_sort_by_value(values);
    for (std::size_t i = 0; i < n; ++i) order[i] = values[i].second;
  }

  // The entries go to their places in place, one cycle of the order at a
  // time, instead of into a second array as long as the list.
  for (std::size_t start = 0; start < n; ++start) {
    if (order[start] == start) continue;
    ListEntry held = std::move(entries[start]);
    std::size_t place = start;
    for (;;) {
      const std::size_t from = order[place];
      order[place] = static_cast<uint32_t>(place);  // placed
      if (from == start) break;
      // The entries of a cycle lie anywhere: the ones two and three steps on
      // are asked for now, so that their loads overlap this move.
      const std::size_t next = order[from];
      prefetch_entry(&entries[order[next]]);
      __builtin_prefetch(&entries[next]);
      entries[place] = std::move(entries[from]);
      place = from;
    }
    entries[place] = std::move(held);
  }
  list.index.valid = false;
}

}  // namespace

void reset_lists() { lists = ListState{}; }

namespace {

// The first entry that the bucket run of `hash` names for it, or nullptr.
const ListEntry* entry_for_hash(const CountedList& list, uint32_t hash) {
  if (!list.index.valid || list.index.buckets.empty()) return nullptr;
  const std::vector<IndexBucket>& buckets = list.index.buckets;
  const std::size_t mask = buckets.size() - 1;
  for (std::size_t i = hash & mask; buckets[i].position != 0; i = (i + 1) & mask) {
    if (buckets[i].hash == hash) return &list.entries[buckets[i].position - 1];
  }
  return nullptr;
}

const IndexBucket* bucket_for_hash(const CountedList& list, uint32_t hash) {
  if (!list.index.valid || list.index.buckets.empty()) return nullptr;
  const std::vector<IndexBucket>& buckets = list.index.buckets;
  return &buckets[hash & (buckets.size() - 1)];
}

}  // namespace

void list_prefetch_bucket(const CountedList& list, uint32_t hash) {
  if (const IndexBucket* bucket = bucket_for_hash(list, hash)) __builtin_prefetch(bucket);
}

void list_prefetch_entry(const CountedList& list, uint32_t hash) {
  const ListEntry* entry = entry_for_hash(list, hash);
  if (entry == nullptr) return;
  // An entry may span two cache lines.
  prefetch_entry(entry);
}

void list_prefetch_key(int slot, uint32_t hash) {
  const CountedList* list = slot_list(slot);
  if (list == nullptr) return;
  const ListEntry* entry = entry_for_hash(*list, hash);
  if (entry == nullptr) return;
  __builtin_prefetch(entry->key.data());
}

void list_prefetch_bucket(int slot, uint32_t hash) {
  const CountedList* list = slot_list(slot);
  if (list == nullptr) return;
  if (const IndexBucket* bucket = bucket_for_hash(*list, hash)) __builtin_prefetch(bucket);
}

void list_prefetch_entry(int slot, uint32_t hash) {
  const CountedList* list = slot_list(slot);
  if (list == nullptr) return;
  const ListEntry* entry = entry_for_hash(*list, hash);
  if (entry == nullptr) return;
  prefetch_entry(entry);
}

bool list_add(int slot) {
  const std::string& key = lists.current_entry.key;
  return list_add_key(slot, key, list_key_hash(key));
}

namespace {

// Merges lists.current_entry into `entry` of `list`, which has its key.
[[gnu::always_inline]] inline void merge_current(CountedList& list, ListEntry& entry) {
  const EntryValues& current = lists.current_entry;
  // Unsigned 32-bit difference: an earlier time wraps to a large value and
  // so counts as a new visit.
  const uint32_t gap = static_cast<uint32_t>(current.time - entry.time);
  const bool new_visit = gap >= kVisitGap;
  list.total_hits += current.hits;
  list.total_kbytes = add_wrapping(list.total_kbytes, current.kbytes);
  if (new_visit) list.total_visits += 1;
  if (!current.extra.empty()) entry.extra.assign(cut_view(current.extra), list.texts.arena.get());
  entry.hits += current.hits;
  entry.kbytes = add_wrapping(entry.kbytes, current.kbytes);
  if (new_visit) entry.visits += 1;
  entry.time = current.time;
}

// The add of both forms of list_add_key, made part of each: most adds of a
// request take the form without the position.
[[gnu::always_inline]] inline bool add_to_list(CountedList* list, std::string_view whole_key,
                                               uint32_t hash, std::size_t& position) {
  if (list == nullptr) return false;
  const EntryValues& current = lists.current_entry;
  // Held keys are at most 255 bytes; a longer key stands for its cut.
  const std::string_view key = cut_view(whole_key);

  ensure_index(*list);
  reserve_one(list->index);
  const Probe p = probe(*list, key, hash);
  mark_unsorted(*list);

  if (p.found) {
    position = list->index.buckets[p.bucket].position - 1;
    merge_current(*list, list->entries[position]);
    return false;
  }

  const bool was_empty = list->entries.empty();
  ListEntry& entry = list_new_entry(*list);
  TextArena* texts = list->texts.arena.get();
  entry.key.assign(key, texts);
  entry.extra.assign(cut_view(current.extra), texts);
  entry.hits = current.hits;
  entry.time = current.time;
  entry.visits = current.visits;
  entry.kbytes = current.kbytes;
  position = list->entries.size() - 1;
  list->index.buckets[p.bucket] = IndexBucket{static_cast<uint32_t>(list->entries.size()), hash};
  list->index.used += 1;
  if (list->keep_first_times) list->first_times.push_back(current.time);
  count_new_entry(*list, was_empty, current);
  return true;
}

}  // namespace

bool list_add_key(int slot, std::string_view key, uint32_t hash) {
  std::size_t position = 0;
  return add_to_list(slot_list(slot), key, hash, position);
}

bool list_add_key(int slot, std::string_view key, uint32_t hash, std::size_t& position) {
  return add_to_list(slot_list(slot), key, hash, position);
}

namespace {

// Both forms of list_add_repeating, made part of each.
[[gnu::always_inline]] inline bool add_repeating(CountedList& list, std::string_view key) {
  // With a valid index that knows no key held twice, an entry with the key
  // is the first (the only) one: the one the index would find.
  const KeyIndex& index = list.index;
  if (index.valid && !index.has_duplicates && list.last_added < list.entries.size()) {
    ListEntry& entry = list.entries[list.last_added];
    if (same_text(entry.key, cut_view(key))) {
      mark_unsorted(list);
      merge_current(list, entry);
      return false;
    }
  }
  return add_to_list(&list, key, list_key_hash(key), list.last_added);
}

}  // namespace

bool list_add_repeating(int slot, std::string_view key) {
  CountedList* list = slot_list(slot);
  if (list == nullptr) return false;
  return add_repeating(*list, key);
}

bool list_add_repeating(CountedList& list, std::string_view key) {
  return add_repeating(list, key);
}

void list_reserve(int slot, std::size_t more) {
  CountedList* list = slot_list(slot);
  if (list == nullptr || more == 0) return;
  list->entries.reserve(list->entries.size() + more);
  if (!list->index.valid) return;
  // The load stays at most 60 % with all of them in.
  const std::size_t keys = static_cast<std::size_t>(list->index.used) + more;
  std::size_t size = std::max(list->index.buckets.size(), kMinBuckets);
  while (keys * 5 > size * 3) size *= 2;
  if (size != list->index.buckets.size()) rehash(list->index, size);
}

const ListEntry* list_entry_at(int slot, int64_t n) {
  const CountedList* list = slot_list(slot);
  if (list == nullptr || n < 1 || n > static_cast<int64_t>(list->entries.size())) return nullptr;
  return &list->entries[static_cast<std::size_t>(n - 1)];
}

bool list_fetch(int slot, int64_t n) {
  const ListEntry* entry = list_entry_at(slot, n);
  if (entry == nullptr) return false;
  assign_entry(lists.current_entry, *entry);
  return true;
}

const CountedList& list_snapshot(int slot) {
  const CountedList* list = slot_list(slot);
  return list == nullptr ? kNoList : *list;
}

void list_set_title(int slot, const std::string& title) {
  CountedList* list = slot_list(slot);
  if (list != nullptr) list->title = cut_text(title);
}

void list_set_letter(int slot, char letter) {
  CountedList* list = slot_list(slot);
  if (list != nullptr) list->list_letter = letter;
}

bool list_rename(int slot, const std::string& key, const std::string& new_key) {
  CountedList* list = slot_list(slot);
  if (list == nullptr) return false;
  const int64_t pos = find_entry(*list, cut_view(key));
  if (pos < 0) return false;
  change_key(*list, static_cast<std::size_t>(pos), cut_view(new_key));
  return true;
}

void list_drop_index(int slot) {
  CountedList* list = slot_list(slot);
  if (list != nullptr) list->index.valid = false;
}

void list_set_key_at(int slot, int64_t n, const std::string& new_key) {
  CountedList* list = slot_list(slot);
  if (list == nullptr || n < 1 || n > static_cast<int64_t>(list->entries.size())) return;
  change_key(*list, static_cast<std::size_t>(n - 1), cut_view(new_key));
}

bool list_merge_view(CountedList& list, const EntryView& later, PackedTime first_time,
                     uint32_t hash) {
  ensure_index(list);
  reserve_one(list.index);
  const Probe p = probe(list, later.key, hash);
  mark_unsorted(list);

  if (p.found) {
    ListEntry& entry = list.entries[list.index.buckets[p.bucket].position - 1];
    // The later entry's first request is an add to this entry: a new visit
    // by the gap to this entry's last request, as list_add decides it; its
    // own first visit is then not counted again.
    const uint32_t gap = static_cast<uint32_t>(first_time - entry.time);
    const uint64_t visits = later.visits - 1 + (gap >= kVisitGap ? 1 : 0);
    list.total_hits += later.hits;
    list.total_kbytes = add_wrapping(list.total_kbytes, later.kbytes);
    list.total_visits += visits;
    if (!later.extra.empty()) entry.extra.assign(later.extra, list.texts.arena.get());
    entry.hits += later.hits;
    entry.kbytes = add_wrapping(entry.kbytes, later.kbytes);
    entry.visits += visits;
    entry.time = later.time;
    return false;
  }

  const bool was_empty = list.entries.empty();
  assign_entry(list_new_entry(list), later, list.texts.arena.get());
  list.index.buckets[p.bucket] = IndexBucket{static_cast<uint32_t>(list.entries.size()), hash};
  list.index.used += 1;
  if (list.keep_first_times) list.first_times.push_back(first_time);
  count_new_entry(list, was_empty, later);
  return true;
}

void list_append_view(CountedList& list, const EntryView& later, PackedTime first_time) {
  list.index.valid = false;
  mark_unsorted(list);
  const bool was_empty = list.entries.empty();
  assign_entry(list_new_entry(list), later, list.texts.arena.get());
  if (list.keep_first_times) list.first_times.push_back(first_time);
  count_new_entry(list, was_empty, later);
}

namespace {

// The counters and sort state of a list without entries.
void reset_totals(CountedList& list) {
  mark_unsorted(list);
  list.count = 0;
  list.total_hits = 0;
  list.total_kbytes = 0;
  list.total_visits = 0;
}

}  // namespace

ListEntry& list_new_entry(CountedList& list) { return list.entries.emplace_back(); }

void list_clear(int slot) {
  CountedList* list = slot_list(slot);
  if (list == nullptr) return;
  // Swapping with empty containers gives the memory back, not just the size.
  std::vector<ListEntry>().swap(list->entries);
  arena_release(list->texts);
  std::vector<PackedTime>().swap(list->first_times);
  list->index = KeyIndex{};
  reset_totals(*list);
}

void clear_period_lists() {
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    if (!lists.list_slots[slot].entries.empty()) list_clear(slot);
  }
}

void empty_period_lists() {
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) empty_list(lists.list_slots[slot]);
}

void empty_list(CountedList& list) {
  if (list.entries.empty()) return;
  list.entries.clear();
  arena_release(list.texts);
  list.first_times.clear();
  std::fill(list.index.buckets.begin(), list.index.buckets.end(), IndexBucket{});
  list.index.used = 0;
  list.index.valid = true;
  list.index.has_duplicates = false;
  reset_totals(list);
}

void clear_run_lists() {
  for (int slot = kPeriodListSlots + 1; slot <= kListSlots; ++slot) list_clear(slot);
}

void list_sort(int slot, int key) {
  CountedList* list = slot_list(slot);
  if (list == nullptr) return;
  if (key >= kByKey && key <= kByKeyDescending && list->entries.size() > 1) reorder(*list, key);
  list->sort_key = static_cast<uint8_t>(key);
  // Character key + 1 of the sort letters; a key beyond their end (or below
  // 0) records the character with code 0, which no letter line supplies.
  const std::string& letters = message_table.sort_letters;
  list->sort_letter =
      key >= 0 && static_cast<std::size_t>(key) < letters.size() ? letters[key] : '\0';
}

}  // namespace sorvik
