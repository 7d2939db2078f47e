// A stable radix sort of (value, position) pairs by their value.
#ifndef SORVIK_STATS_RADIX_SORT_H_
#define SORVIK_STATS_RADIX_SORT_H_

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

namespace sorvik {

// Sorts `items` by their unsigned integer `first` in rising order, a byte at
// a time from the lowest; items of equal value keep their order. A byte in
// which all values agree is passed over.
template <typename Value, typename Position>
void radix_sort_by_value(std::vector<std::pair<Value, Position>>& items) {
  Value differing = 0;  // the bits in which some value differs from the first
  for (const auto& item : items) differing |= item.first ^ items.front().first;
  std::vector<std::pair<Value, Position>> sorted(items.size());
  for (std::size_t shift = 0; shift < sizeof(Value) * 8; shift += 8) {
    if (((differing >> shift) & 0xFF) == 0) continue;
    std::array<std::size_t, 257> starts{};
    for (const auto& item : items) starts[((item.first >> shift) & 0xFF) + 1] += 1;
    for (std::size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
    for (const auto& item : items) sorted[starts[(item.first >> shift) & 0xFF]++] = item;
    items.swap(sorted);
  }
}

}  // namespace sorvik

#endif  // SORVIK_STATS_RADIX_SORT_H_
