#include "stats/text_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "stats/counted_list.h"

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

// The hash takes a text sixteen bytes at a time, then its last bytes with
// at most two loads, and a text beyond 256 bytes in blocks of 256: for every
// length across those steps, a change of any one byte changes the hash (no
// byte is skipped), and the hash reads no byte beyond the text (each lies in
// a block of its own size).
TEST(TextHashTest, HashLooksAtEveryByteOfTextsOfEveryLength) {
  seed_hash_keys(1);
  for (std::size_t size = 0; size <= 540; ++size) {
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

TEST(TextHashTest, TheSeedDecidesTheHashes) {
  const std::string long_text(300, 'x');
  const std::vector<std::string_view> texts = {"", "a", "/index.html", long_text};
  std::vector<uint64_t> first;
  seed_hash_keys(1);
  for (std::string_view text : texts) first.push_back(hash_text(text));
  const uint32_t first_address = hash_address(0xC0A80001);
  seed_hash_keys(2);
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_NE(hash_text(texts[i]), first[i]) << i;
  EXPECT_NE(hash_address(0xC0A80001), first_address);
  seed_hash_keys(1);
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(hash_text(texts[i]), first[i]) << i;

  // Each run draws its own words from the system.
  seed_hash_keys();
  const uint64_t drawn = hash_text("/index.html");
  seed_hash_keys();
  EXPECT_NE(hash_text("/index.html"), drawn);
}

// Paths made to have one hash under an unkeyed hash that took eight bytes
// at a time through a multiply and shift that anyone can undo (each 16-byte
// block was chosen to bring that chain to the same state): under the keyed
// hash they fall apart.
TEST(TextHashTest, PathsMadeForAnUnkeyedChainDoNotCollide) {
  const std::vector<std::string_view> paths = {
      "/static/jj5qw0oaG5VfaaweMQNyK-r0gWhsmAlOf_gVnupiyBcd8gpZU8IqsO3oliTztuhh",
      "/static/1eUxRgjcrFpkmDVLnoz62gnVtpX6fUK7KrLA4_UW3ZYtt7nuFLLABvDdfjKKK-M8",
      "/static/8uyb16xLtSggU0wCDD2VQ8PMBPae1c5MlitvPCn94IeY7F2CknTApiroG3r9zF-W",
      "/static/HU9EkVeKI71FPIgPnoz62gnVtpX6fUK7TzaRV8VqyYLsijZQwjwHO5Gk8G72-UDz",
      "/static/CssYzt7nzq2tBdMfpZU4rmTB4FVHKwUCxmm2SOLpfh2USvz8wjwHO5Gk8G72-UDz",
      "/static/zy38Zht85Gr69qGfMQNyK-r0gWhsmAlOq2POwT0mQGkXNcKra2m4FxaRAF_Dqkxh"};
  for (uint64_t seed : {1, 2, 3}) {
    seed_hash_keys(seed);
    std::vector<uint32_t> hashes;
    for (std::string_view path : paths) hashes.push_back(list_key_hash(path));
    std::sort(hashes.begin(), hashes.end());
    EXPECT_EQ(std::adjacent_find(hashes.begin(), hashes.end()), hashes.end()) << seed;
  }
}

// Which texts share a bucket depends on the words: 32 keys that share one
// of 1024 buckets under one seed spread over the buckets under another.
TEST(TextHashTest, KeysSharingABucketUnderOneSeedSpreadUnderAnother) {
  seed_hash_keys(1);
  std::vector<std::string> crowded;
  for (int i = 0; crowded.size() < 32; ++i) {
    const std::string key = "/p" + std::to_string(i);
    if ((list_key_hash(key) & 1023) == 0) crowded.push_back(key);
  }
  seed_hash_keys(2);
  std::map<uint32_t, int> buckets;
  int fullest = 0;
  for (const std::string& key : crowded) {
    fullest = std::max(fullest, ++buckets[list_key_hash(key) & 1023]);
  }
  EXPECT_LE(fullest, 3);
}

}  // namespace
}  // namespace sorvik
