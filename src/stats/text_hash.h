// A fast hash of a byte string and a fast comparison, for the indexes by key
// of the counted lists and of the agent classes. Only the layout of those
// indexes depends on the hash, never an observable result.
#ifndef SORVIK_STATS_TEXT_HASH_H_
#define SORVIK_STATS_TEXT_HASH_H_

#include <cstdint>
#include <cstring>
#include <string>
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

// Whether two byte strings are equal. The keys that index lookups compare
// are mostly short (clients, status codes, hours, agent names); those are
// compared with a few loads of their own bytes instead of a library call.
inline bool same_text(std::string_view a, std::string_view b) {
  const std::size_t size = a.size();
  if (b.size() != size) return false;
  if (size > 16) return std::memcmp(a.data(), b.data(), size) == 0;
  // The first and the last bytes, overlapping when fewer than twice a load.
  const auto same_ends = [&](auto word) {
    using Word = decltype(word);
    Word a_first, a_last, b_first, b_last;
    std::memcpy(&a_first, a.data(), sizeof(Word));
    std::memcpy(&b_first, b.data(), sizeof(Word));
    std::memcpy(&a_last, a.data() + size - sizeof(Word), sizeof(Word));
    std::memcpy(&b_last, b.data() + size - sizeof(Word), sizeof(Word));
    return ((a_first ^ b_first) | (a_last ^ b_last)) == 0;
  };
  if (size >= 8) return same_ends(uint64_t{});
  if (size >= 4) return same_ends(uint32_t{});
  if (size >= 2) return same_ends(uint16_t{});
  return size == 0 || a[0] == b[0];
}

// Sets `out` to `text` unless it holds that already: for values that mostly
// repeat from one request to the next (method, extension, year), which then
// cost a comparison instead of a copy.
inline void assign_if_changed(std::string& out, std::string_view text) {
  if (!same_text(out, text)) out.assign(text);
}

}  // namespace sorvik

#endif  // SORVIK_STATS_TEXT_HASH_H_
