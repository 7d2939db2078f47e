#include "stats/text_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace sorvik {
namespace {

// Texts of every length around the word loads of the short ones, equal or
// differing in one byte at each place. Each text lies in a block of its own
// exact size, so that a read beyond its bytes shows under the sanitizers.
TEST(TextHashTest, SameTextLooksAtEveryByteAndNoMore) {
  for (std::size_t size = 0; size <= 40; ++size) {
    std::vector<char> a(size);
    for (std::size_t i = 0; i < size; ++i) a[i] = static_cast<char>('a' + i % 26);
    std::vector<char> b = a;
    const std::string_view text_a(a.data(), size);
    EXPECT_TRUE(same_text(text_a, std::string_view(b.data(), size))) << size;
    for (std::size_t at = 0; at < size; ++at) {
      b[at] = static_cast<char>(b[at] ^ 0x80);
      EXPECT_FALSE(same_text(text_a, std::string_view(b.data(), size)))
          << size << " bytes, differing at " << at;
      b[at] = a[at];
    }
    if (size > 0) {
      EXPECT_FALSE(same_text(text_a, text_a.substr(0, size - 1))) << size;
      EXPECT_FALSE(same_text(text_a.substr(1), text_a)) << size;
    }
  }
}

// The hash takes a text eight bytes at a time, then its last bytes with at
// most two loads: for every length across those steps, a change of any one
// byte changes the hash (no byte is skipped), and the hash reads no byte
// beyond the text (each lies in a block of its own size).
TEST(TextHashTest, HashLooksAtEveryByteOfTextsOfEveryLength) {
  for (std::size_t size = 0; size <= 140; ++size) {
    std::vector<char> a(size);
    for (std::size_t i = 0; i < size; ++i) a[i] = static_cast<char>('A' + i % 47);
    const uint64_t hash = hash_text(std::string_view(a.data(), size));
    std::vector<char> b = a;
    EXPECT_EQ(hash_text(std::string_view(b.data(), size)), hash) << size;
    for (std::size_t at = 0; at < size; ++at) {
      b[at] = static_cast<char>(b[at] ^ 0x01);
      EXPECT_NE(hash_text(std::string_view(b.data(), size)), hash)
          << size << " bytes, differing at " << at;
      b[at] = a[at];
    }
    if (size > 0) {
      EXPECT_NE(hash_text(std::string_view(a.data(), size - 1)), hash) << size;
    }
  }
}

}  // namespace
}  // namespace sorvik
