// Fills one counted list with 200,000 distinct keys (each added again a few
// times, as busy clients and paths are) and sorts it by hits, kilobytes and
// key, printing the milliseconds each step took.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "stats/counted_list.h"

namespace {

using Clock = std::chrono::steady_clock;

double elapsed_ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void report(const char* step, double ms) {
  const std::string line = std::string(step) + ": " + std::to_string(ms) + " ms\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace

int main() {
  using namespace sorvik;
  constexpr int kDistinct = 200000;
  constexpr int kSlot = kFiles;
  reset_lists();

  // A cheap generator keeps the run repeatable.
  uint64_t state = 88172645463325252ULL;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };

  const Clock::time_point fill_start = Clock::now();
  EntryValues& entry = lists.current_entry;
  for (int i = 0; i < kDistinct; ++i) {
    entry.key =
        "/path/number/" + std::to_string(next() % 1000000) + "/" + std::to_string(i) + ".html";
    entry.hits = 1;
    entry.kbytes = static_cast<int64_t>(next() % 200);
    entry.visits = 1;
    entry.time = static_cast<PackedTime>(i);
    list_add(kSlot);
  }
  // Repeats: 400,000 adds to entries that exist already.
  for (int i = 0; i < 2 * kDistinct; ++i) {
    const ListEntry* existing = list_entry_at(kSlot, static_cast<int64_t>(next() % kDistinct) + 1);
    entry.key = existing->key;
    entry.kbytes = static_cast<int64_t>(next() % 200);
    entry.time += 1000;
    list_add(kSlot);
  }
  report("fill (200000 keys, 600000 adds)", elapsed_ms(fill_start));

  const int keys[] = {kByHits, kByKbytes, kByKey};
  for (int key : keys) {
    const Clock::time_point sort_start = Clock::now();
    list_sort(kSlot, key);
    report(("sort by key " + std::to_string(key)).c_str(), elapsed_ms(sort_start));
  }

  const Clock::time_point add_start = Clock::now();
  entry.key = list_entry_at(kSlot, 1)->key;
  list_add(kSlot);
  report("first add after sort (rebuilds the index)", elapsed_ms(add_start));

  const CountedList& list = list_snapshot(kSlot);
  const std::string summary =
      "entries " + std::to_string(list.count) + ", hits " + std::to_string(list.total_hits) + "\n";
  std::fwrite(summary.data(), 1, summary.size(), stdout);
  return list.count == kDistinct ? 0 : 1;
}
