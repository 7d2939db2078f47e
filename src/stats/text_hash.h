// A fast hash of a byte string, for the indexes by key of the counted lists
// and of the agent classes. Only the layout of those indexes depends on it,
// never an observable result.
#ifndef SORVIK_STATS_TEXT_HASH_H_
#define SORVIK_STATS_TEXT_HASH_H_

#include <cstdint>
#include <cstring>
#include <string_view>

namespace sorvik {

// A 64-bit multiply-and-mix hash over the bytes, eight at a time; the bytes
// after the last whole eight are taken with at most two loads.
inline uint64_t hash_text(std::string_view text) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  const char* data = text.data();
  const std::size_t size = text.size();
  uint64_t h = size * kMultiplier;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, data + i, 8);
    h = (h ^ chunk) * kMultiplier;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  if (size >= 8) {
    // The last eight bytes, overlapping the chunks before them.
    if (i < size) std::memcpy(&tail, data + size - 8, 8);
  } else if (size >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, data, 4);
    std::memcpy(&last, data + size - 4, 4);
    tail = (static_cast<uint64_t>(first) << 32) | last;
  } else if (size > 0) {
    tail = (static_cast<uint64_t>(static_cast<unsigned char>(data[0])) << 16) |
           (static_cast<uint64_t>(static_cast<unsigned char>(data[size / 2])) << 8) |
           static_cast<unsigned char>(data[size - 1]);
  }
  h = (h ^ tail) * kMultiplier;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ULL;
  h ^= h >> 32;
  return h;
}

}  // namespace sorvik

#endif  // SORVIK_STATS_TEXT_HASH_H_
