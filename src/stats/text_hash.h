// Fast hashes of a byte string and of an address and a fast comparison, for
// the indexes by key of the counted lists, the agent classes and the host
// cache. Only the layout of those indexes depends on the hashes, never an
// observable result.
//
// The keys of those indexes come from logs that strangers write. A hash that
// anyone can compute lets them send keys that all land in one bucket, and
// every add then walks all the keys before it. So the hash is keyed with
// secret words drawn anew for each run: which texts share a bucket depends
// on words that nobody outside the run knows.
#ifndef SORVIK_STATS_TEXT_HASH_H_
#define SORVIK_STATS_TEXT_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace sorvik {

// Bytes of a text that hash_text takes with key words of their own; a
// longer text is taken in blocks of this size, chained.
inline constexpr std::size_t kTextHashBlock = 256;

// The secret of the index hashes: for hash_text a key word for each eight
// bytes of a block, then two for the final mix; two for hash_address.
struct HashKeys {
  uint64_t text[kTextHashBlock / 8 + 2];
  uint64_t address[2];
};

// Fixed words until seed_hash_keys first runs, so that a hash made before
// that still works; the run's start-up replaces them.
extern HashKeys hash_keys;

// Fills hash_keys with bytes from the operating system's random source
// (getrandom; /dev/urandom where that fails; failing both, the process's
// start-up random bytes mixed with the clocks, the process id and
// addresses). Never blocks. An index built with the words before is invalid
// after it: it belongs to the start-up, before any index is filled, any
// thread starts or any process is forked (children keep the words they were
// forked with, so that a run hashes alike everywhere).
void seed_hash_keys();
// The same with words derived from `seed` alone, for tests and benchmarks
// that want the same words every time.
void seed_hash_keys(uint64_t seed);

// hash_text of a text longer than one block.
uint64_t hash_long_text(std::string_view text);

namespace text_hash_internal {

using Wide = unsigned __int128;

inline uint64_t load64(const char* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  return word;
}

inline uint64_t load32(const char* at) {
  uint32_t word;
  std::memcpy(&word, at, 4);
  return word;
}

// Both halves of the full product, xored together.
inline uint64_t fold_product(uint64_t a, uint64_t b) {
  const Wide product = static_cast<Wide>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

// The sum of the full products (m[2i] + key[2i]) * (m[2i+1] + key[2i+1]),
// additions modulo 2^64 and the sum modulo 2^128, over the words m of the
// text's at most one block of bytes. For two different word sequences of
// one length the sums are equal for at most one key in 2^64, so texts cannot
// be chosen to meet without the key. The words cover every byte and depend
// only on the bytes given the length: the last ones are loaded overlapping
// those before them (never beyond the text), a shorter word sequence pairs
// its last word with 0.
inline Wide pair_sum(const char* data, std::size_t size, const uint64_t* key) {
  if (size <= 16) {
    uint64_t a = 0;
    uint64_t b = 0;
    if (size >= 8) {
      a = load64(data);
      b = load64(data + size - 8);
    } else if (size >= 4) {
      a = load32(data);
      b = load32(data + size - 4);
    } else if (size > 0) {
      a = static_cast<uint64_t>(static_cast<unsigned char>(data[0])) << 16 |
          static_cast<uint64_t>(static_cast<unsigned char>(data[size / 2])) << 8 |
          static_cast<unsigned char>(data[size - 1]);
    }
    return static_cast<Wide>(a + key[0]) * (b + key[1]);
  }
  // The products do not wait for one another, unlike the steps of a chain.
  Wide sum = 0;
  std::size_t i = 0;
  for (; i + 16 <= size; i += 16, key += 2) {
    sum += static_cast<Wide>(load64(data + i) + key[0]) * (load64(data + i + 8) + key[1]);
  }
  const std::size_t rest = size - i;
  if (rest > 8) {
    sum += static_cast<Wide>(load64(data + i) + key[0]) * (load64(data + size - 8) + key[1]);
  } else if (rest > 0) {
    sum += static_cast<Wide>(load64(data + size - 8) + key[0]) * key[1];
  }
  return sum;
}

// The 64-bit hash of a pair sum, mixed with `chain` (the length of the
// whole text, and the blocks before for a long one).
inline uint64_t finish_pair_sum(Wide sum, uint64_t chain, const uint64_t* key) {
  constexpr std::size_t kMix = kTextHashBlock / 8;
  return fold_product(static_cast<uint64_t>(sum) ^ chain ^ key[kMix],
                      static_cast<uint64_t>(sum >> 64) ^ key[kMix + 1]);
}

}  // namespace text_hash_internal

// A 64-bit hash of the bytes, keyed with the run's hash_keys: a sum of
// products of key-shifted word pairs, folded with the length.
inline uint64_t hash_text(std::string_view text) {
  const std::size_t size = text.size();
  if (size > kTextHashBlock) return hash_long_text(text);
  const uint64_t* key = hash_keys.text;
  return text_hash_internal::finish_pair_sum(text_hash_internal::pair_sum(text.data(), size, key),
                                             size, key);
}

// A 32-bit hash of an IPv4 address, keyed with the run's hash_keys: the high
// half of a * address + b modulo 2^64. For two different addresses its
// values, and any of their bits, are independent and uniform over the keys.
inline uint32_t hash_address(uint32_t address) {
  return static_cast<uint32_t>((address * hash_keys.address[0] + hash_keys.address[1]) >> 32);
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
