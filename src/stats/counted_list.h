// The 26 counted lists that hold every ranked quantity of the reports, and the
// operations on them. Entries keep first-insertion order until a sort; keys
// are unique byte strings, found through an index instead of a list walk.
#ifndef SORVIK_STATS_COUNTED_LIST_H_
#define SORVIK_STATS_COUNTED_LIST_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "stats/text_arena.h"
#include "stats/text_hash.h"

namespace sorvik {

// Time of a request: bits 0-4 second div 2, 5-10 minute, 11-15 hour, 16-20 day,
// 21-24 month, 25-31 year minus 1980. Differences are unsigned 32-bit.
using PackedTime = uint32_t;

// The lists by slot, and what their entries' keys are. Slots 1 to 20 are the
// period lists: filled while a period's records are read (or made from the
// client list at its end) and emptied once its reports are written. Slots 21
// to 26 live for the whole run. Slot 22 is not used.
enum ListSlot : int {
  kClients = 1,             // client addresses, at the period's end "address=host name";
                            // the extra is the client's latest page
  kRepeatClients = 2,       // clients with more than one visit (from kClients)
  kDomains = 3,             // the clients' top-level domains (from kClients)
  kDirectories = 4,         // request paths up to and including their last "/"
  kFiles = 5,               // every request path
  kPages = 6,               // paths of pages
  kJpegImages = 7,          // paths with an extension beginning ".JP"
  kGifImages = 8,           // paths with the extension ".GIF"
  kEntryPages = 9,          // a client's first request of the period, when it is a page
  kExitPages = 10,          // each client's latest page (from kClients)
  kStatusCodes = 11,        // status codes, at the period's end their "Return codes" texts
  kNotFound = 12,           // paths of requests answered with 404
  kInternalReferrers = 13,  // the path part of referrers on the own site
  kExternalReferrers = 14,  // other referrers that are no search query
  kSearchEngines = 15,      // scheme and host of search-query referrers
  kSearchPhrases = 16,      // the phrases of search queries
  kAgentNames = 17,         // agent names
  kBrowsers = 18,           // browser classes of the agents
  kOperatingSystems = 19,   // operating-system classes of the agents
  kHours = 20,              // the two hour digits of the requests' time stamps
  kPeriodPages = 21,        // period pages found in the HTML directory
  kBrowserPatterns = 23,    // the browser list file's patterns
  kOpsysPatterns = 24,      // the operating-system list file's patterns
  kUnknownBrowsers = 25,    // agents that match no browser pattern
  kUnknownOpsys = 26,       // agents that match no operating-system pattern
};
inline constexpr int kListSlots = 26;
inline constexpr int kPeriodListSlots = kHours;

// The values of one list entry, its texts held as `Text`.
template <typename Text>
struct BasicEntry {
  Text key;
  Text extra;
  uint64_t hits = 0;
  PackedTime time = 0;
  uint64_t visits = 0;
  int64_t kbytes = 0;

  bool operator==(const BasicEntry&) const = default;
};

// The staging record of list_add and the result of list_fetch.
using EntryValues = BasicEntry<std::string>;
// An entry as a list holds it: its long texts take their bytes from the
// list's arena (or from the heap, for an entry made outside a list). It is
// 64 bytes, so that looking at it costs at most two cache lines. (Aligned to
// a line, as the heap gives such a block, the lists' arrays took more memory
// than they saved lines.)
using ListEntry = BasicEntry<ListText>;
static_assert(sizeof(ListEntry) == 64);

// An entry read in place, from a list sent by a counting process: its texts
// point into the bytes it was read from.
using EntryView = BasicEntry<std::string_view>;

// Sets an entry to the values of another (one read in place, or one a list
// holds), reusing the memory of its texts. An entry of a list is given the
// list's arena as `texts`, from which its long texts take their bytes.
template <typename Text, typename From, typename... Arena>
void assign_entry(BasicEntry<Text>& entry, const BasicEntry<From>& view, Arena*... texts) {
  entry.key.assign(view.key, texts...);
  entry.extra.assign(view.extra, texts...);
  entry.hits = view.hits;
  entry.time = view.time;
  entry.visits = view.visits;
  entry.kbytes = view.kbytes;
}

// One bucket of a KeyIndex: the position (from 1) of the first entry with a
// key, 0 for an empty bucket, and the key's hash so that probing and growing
// rarely touch the keys themselves.
struct IndexBucket {
  uint32_t position = 0;
  uint32_t hash = 0;
};

// Finds the position of the first entry (in list order) with a given key:
// open addressing with linear probing over a power-of-two bucket array. Kept
// up to date by adds and key changes; marked invalid when positions change
// (sort) and rebuilt from the entries at the next lookup.
struct KeyIndex {
  std::vector<IndexBucket> buckets;
  uint32_t used = 0;
  bool valid = true;
  // Some key is held by more than one entry (a rename can cause that), so
  // dropping a key's bucket may hide a later entry with the same key.
  bool has_duplicates = false;
};

struct CountedList {
  std::string title;
  uint8_t sort_key = 0;
  char list_letter = '_';
  char sort_letter = 'u';
  int32_t count = 0;
  uint64_t total_hits = 0;
  int64_t total_kbytes = 0;
  uint64_t total_visits = 0;
  std::vector<ListEntry> entries;  // in list order; count == entries.size()
  // Where the entries' texts take their bytes; held apart so that its
  // address, which every text keeps, stays when the list is moved.
  ArenaHandle texts;
  KeyIndex index;
  // While set, each new entry's time of first add goes to `first_times`, in
  // list order (merging needs them); a sort does not keep them in step.
  bool keep_first_times = false;
  std::vector<PackedTime> first_times;
  // Where list_add_repeating last added: only a hint, checked by its key.
  std::size_t last_added = 0;
};

// The time of the first add of entry `i` (from 0) of `list`, as its
// first_times keep it, or the entry's latest time where they do not.
inline PackedTime list_first_time(const CountedList& list, std::size_t i) {
  return i < list.first_times.size() ? list.first_times[i] : list.entries[i].time;
}

struct ListState {
  std::array<CountedList, kListSlots + 1> list_slots;  // slot 0 unused
  EntryValues current_entry;
};

extern ListState lists;

// Puts all 26 lists and current_entry back to the start-up defaults.
void reset_lists();

// Adds lists.current_entry to the list: merges it into the first entry with
// the same key (30-minute visit rule) or appends a new entry. True when a new
// entry was created. Any add puts the list back into the unsorted state. Keys
// and extras are held cut at 255 bytes. Slots outside 1..26 are ignored.
bool list_add(int slot);

// The index hash of a key as list_add computes it for lists.current_entry.key
// (the key cut at 255 bytes). Inline: a request's keys are hashed a dozen
// times over.
inline uint32_t list_key_hash(std::string_view key) {
  return static_cast<uint32_t>(hash_text(cut_view(key)));
}

// list_add with the key given here, with its list_key_hash, instead of
// staged in lists.current_entry.key, whose other values are added: the key
// is hashed once for all the lists it goes to and never copied into the
// staging record.
bool list_add_key(int slot, std::string_view key, uint32_t hash);
// list_add_key that also tells where the add went: `position` becomes the
// position (from 0) of the entry merged into or appended; left alone for a
// slot outside 1..26.
bool list_add_key(int slot, std::string_view key, uint32_t hash, std::size_t& position);

// list_add_key for lists whose requests mostly repeat the key added before
// (hours, status codes): the entry of the list's last add of this kind is
// tried first, and the key is hashed and looked up only when that entry has
// another key. Gives what list_add_key gives.
bool list_add_repeating(int slot, std::string_view key);
// list_add_repeating into a list of the caller's own, not one of the slots.
bool list_add_repeating(CountedList& list, std::string_view key);

// Hints for a coming add of a key with this hash. The large lists outgrow
// the processor caches, and each add waits first for its index bucket, then
// for its entry; asking for those of several lists ahead lets the waits
// overlap. list_prefetch_bucket starts loading the bucket where the search
// begins; list_prefetch_entry, some time later, the entry that bucket run
// names for the hash; list_prefetch_key, later still, the bytes of that
// entry's key, which a key of more than 15 bytes keeps apart from the entry.
// None of them changes anything.
void list_prefetch_bucket(int slot, uint32_t hash);
void list_prefetch_entry(int slot, uint32_t hash);
void list_prefetch_key(int slot, uint32_t hash);
// The same for a list outside the slots (one being merged).
void list_prefetch_bucket(const CountedList& list, uint32_t hash);
void list_prefetch_entry(const CountedList& list, uint32_t hash);

// Makes room for `more` entries beyond those the list holds, so that adding
// them moves no entry and grows no index. Changes nothing else.
void list_reserve(int slot, std::size_t more);

// The n-th entry in list order (from 1), or nullptr.
const ListEntry* list_entry_at(int slot, int64_t n);

// Copies the n-th entry's values into lists.current_entry; false (and
// current_entry untouched) when there is no such entry.
bool list_fetch(int slot, int64_t n);

// A reference to the slot's record, to read title, letters, count and totals
// and to walk the entries read-only.
const CountedList& list_snapshot(int slot);

void list_set_title(int slot, const std::string& title);
void list_set_letter(int slot, char letter);

// Gives the first entry whose key equals `key` the key `new_key` (cut at 255
// bytes); false when no entry has that key. Counters and sort state stay.
bool list_rename(int slot, const std::string& key, const std::string& new_key);

// Replaces the key of the entry at position n (from 1) by `new_key` (cut at
// 255 bytes); the host naming of the client list uses it.
void list_set_key_at(int slot, int64_t n, const std::string& new_key);

// Lets the index go until the next lookup, which makes it again from the
// entries: cheaper than keeping it up to date through a run of key changes.
void list_drop_index(int slot);

// Adds to `list` an entry of a list counted from requests that all came
// after those of `list`, as if those requests were added one by one now:
// same order of first insertion, counters, visits (by `first_time`, the time
// of the entry's first request), extra and totals. Merging a later list's
// entries in their order merges the whole list (a list holds at most one
// entry per key). True when the entry was new in `list`.
template <typename Text>
bool list_merge_entry(CountedList& list, const BasicEntry<Text>& later, PackedTime first_time);
// list_merge_entry for an entry read in place, whose key has the index hash
// `hash` (list_key_hash): nothing is copied but what a new entry keeps.
bool list_merge_view(CountedList& list, const EntryView& later, PackedTime first_time,
                     uint32_t hash);

// list_merge_view for an entry whose key `list` does not hold (the entries
// of a list that holds no key twice, merged into an empty list): appended
// without a lookup. The index is let go and made again from the entries
// when a lookup needs it.
void list_append_view(CountedList& list, const EntryView& later, PackedTime first_time);

// Appends to the list an entry with empty texts that take their bytes from
// the list's arena, and nothing else: counters, totals and index stay.
ListEntry& list_new_entry(CountedList& list);

// Frees every entry and resets the counters and sort state; title and letter stay.
void list_clear(int slot);
// list_clear for each of slots 1..20 that holds an entry.
void clear_period_lists();
// The same, but each list keeps the memory of its entries and index for
// those to come (its texts' arena goes back): for a process that counts one
// stretch of a log after the other into the same lists, which would
// otherwise give the memory back and grow it again for each.
void empty_period_lists();
// Empties a list as empty_period_lists empties each: its entries' and its
// index's memory stay for the entries to come.
void empty_list(CountedList& list);
// list_clear for slots 21..26.
void clear_run_lists();

// The orders of list_sort. Any other key (0 as well) leaves the order.
enum SortKey : int {
  kByKey = 1,            // key ascending
  kByHits = 2,           // hits descending
  kByKbytes = 3,         // kilobytes descending
  kByVisits = 4,         // visits descending
  kByKeyDescending = 5,  // key descending
};

// Sorts the list stably by `key` (SortKey; any other key no reordering).
// Records the key and its sort letter: character key + 1 of the sort
// letters, or the character with code 0 when the sort letters are shorter
// than that.
void list_sort(int slot, int key);

template <typename Text>
bool list_merge_entry(CountedList& list, const BasicEntry<Text>& later, PackedTime first_time) {
  const EntryView view{later.key, later.extra, later.hits, later.time, later.visits, later.kbytes};
  return list_merge_view(list, view, first_time, list_key_hash(later.key));
}

}  // namespace sorvik

#endif  // SORVIK_STATS_COUNTED_LIST_H_
