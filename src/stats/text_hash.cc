#include "stats/text_hash.h"

#include <sys/auxv.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string_view>

#include "base/random_bytes.h"

namespace sorvik {

namespace {

// The step of the SplitMix64 generator: spreads a counter's every bit over
// the whole word.
constexpr uint64_t split_mix(uint64_t& state) {
  state += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr HashKeys keys_from(uint64_t seed) {
  HashKeys keys{};
  for (uint64_t& word : keys.text) word = split_mix(seed);
  for (uint64_t& word : keys.address) word = split_mix(seed);
  return keys;
}

int64_t clock_nanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// What is left when the system gives no random bytes: the 16 random bytes
// the kernel hands every process at its start, the clocks, the process id
// and where the stack and the code were placed, spread over all words.
HashKeys unpredictable_keys() {
  uint64_t seed = 0;
  const auto take = [&seed](uint64_t value) {
    uint64_t state = seed ^ value;
    seed = split_mix(state);
  };
  if (const auto* start_bytes = reinterpret_cast<const unsigned char*>(getauxval(AT_RANDOM))) {
    for (int i = 0; i < 16; i += 8) {
      uint64_t word;
      std::memcpy(&word, start_bytes + i, 8);
      take(word);
    }
  }
  take(static_cast<uint64_t>(clock_nanoseconds(CLOCK_REALTIME)));
  take(static_cast<uint64_t>(clock_nanoseconds(CLOCK_MONOTONIC)));
  take(static_cast<uint64_t>(getpid()));
  take(reinterpret_cast<uintptr_t>(&seed));
  take(reinterpret_cast<uintptr_t>(&unpredictable_keys));
  return keys_from(seed);
}

}  // namespace

// Made as the program is loaded, before any code runs that could hash.
constinit HashKeys hash_keys = keys_from(0x5EED0F50A7F1E1D5ULL);

void seed_hash_keys() {
  HashKeys keys;
  auto* bytes = reinterpret_cast<unsigned char*>(&keys);
  if (!read_random_bytes(bytes, sizeof keys)) {
    keys = unpredictable_keys();
  }
  hash_keys = keys;
}

void seed_hash_keys(uint64_t seed) { hash_keys = keys_from(seed); }

uint64_t hash_long_text(std::string_view text) {
  using text_hash_internal::finish_pair_sum;
  using text_hash_internal::pair_sum;
  const uint64_t* key = hash_keys.text;
  const char* data = text.data();
  std::size_t size = text.size();
  // Each whole block but the last is chained into the next, with the
  // length of the whole text first.
  uint64_t chain = size;
  while (size > kTextHashBlock) {
    chain = finish_pair_sum(pair_sum(data, kTextHashBlock, key), chain, key);
    data += kTextHashBlock;
    size -= kTextHashBlock;
  }
  return finish_pair_sum(pair_sum(data, size, key), chain, key);
}

}  // namespace sorvik
