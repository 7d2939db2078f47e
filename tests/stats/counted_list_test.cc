#include "stats/counted_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/message_table.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

PackedTime packed(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<PackedTime>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 |
                                 minute << 5 | second / 2);
}

PackedTime at(int hour, int minute, int second = 0) {
  return packed(2026, 12, 7, hour, minute, second);
}

class CountedListTest : public SorvikTest {
 protected:
  // Stages one request and adds it to `slot`.
  bool add(int slot, const std::string& key, uint64_t hits = 1, PackedTime time = 0,
           int64_t kbytes = 0, uint64_t visits = 1, const std::string& extra = "") {
    EntryValues& e = lists.current_entry;
    e.key = key;
    e.hits = hits;
    e.time = time;
    e.kbytes = kbytes;
    e.visits = visits;
    e.extra = extra;
    return list_add(slot);
  }
};

using Keys = std::vector<std::string>;

TEST_F(CountedListTest, NewEntryCopiesTheStagedValuesAndRepeatsAddUp) {
  EXPECT_TRUE(add(4, "/docs/", 3, at(9, 0), -7, 5, "/docs/a.html"));
  const ListEntry* e = list_entry_at(4, 1);
  EXPECT_EQ(*e, (ListEntry{"/docs/", "/docs/a.html", 3, at(9, 0), 5, -7}));
  EXPECT_EQ(list_snapshot(4).count, 1);
  EXPECT_EQ(list_snapshot(4).total_kbytes, -7);

  // A repeat counts one visit at most, whatever visits are staged.
  EXPECT_FALSE(add(4, "/docs/", 2, at(11, 0), 4, 9));
  EXPECT_FALSE(add(4, "/docs/", 3, at(11, 1), 5, 9));
  EXPECT_TRUE(add(4, "/img/", 1, at(11, 2), 1, 4));
  EXPECT_EQ(*list_entry_at(4, 1), (ListEntry{"/docs/", "/docs/a.html", 8, at(11, 1), 6, 2}));
  const CountedList& list = list_snapshot(4);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.total_hits, 9u);
  EXPECT_EQ(list.total_kbytes, 3);
  EXPECT_EQ(list.total_visits, 10u);
}

TEST_F(CountedListTest, VisitRuleComparesPackedTimes) {
  struct Case {
    PackedTime first, second;
    uint64_t visits;
  };
  const Case cases[] = {
      {at(10, 0), at(10, 20), 1},   // 640 units
      {at(10, 0), at(10, 30), 2},   // 960 units
      {at(10, 45), at(11, 10), 1},  // 2048 - 35 * 32 = 928 units
      {at(10, 40), at(11, 10), 2},  // 1088 units
      {at(10, 50), at(11, 25), 2},  // 35 minutes, yet only 1248 units
      {at(10, 20), at(10, 10), 2},  // earlier: wraps to a large value
      {at(23, 59, 58), packed(2026, 12, 8, 0, 0, 0), 2},
  };
  for (const Case& c : cases) {
    list_clear(1);
    add(1, "a", 1, c.first);
    EXPECT_FALSE(add(1, "a", 1, c.second));
    const ListEntry* e = list_entry_at(1, 1);
    EXPECT_EQ(e->hits, 2u);
    EXPECT_EQ(e->visits, c.visits) << c.first << " " << c.second;
    EXPECT_EQ(list_snapshot(1).total_visits, c.visits);
    EXPECT_EQ(e->time, c.second);  // also when it moves back
  }
  // The gap is measured from the latest request, not the first one.
  list_clear(1);
  add(1, "a", 1, at(10, 0));
  add(1, "a", 1, at(10, 20));
  add(1, "a", 1, at(10, 40));
  EXPECT_EQ(list_entry_at(1, 1)->visits, 1u);
}

TEST_F(CountedListTest, KeysMatchByExactBytes) {
  EXPECT_TRUE(add(5, "/Index.html"));
  EXPECT_TRUE(add(5, "/index.html"));
  EXPECT_TRUE(add(5, "/index.html "));
  EXPECT_TRUE(add(5, std::string("/index.html\0", 12)));
  EXPECT_FALSE(add(5, "/index.html"));
  EXPECT_EQ(list_keys(5),
            (Keys{"/Index.html", "/index.html", "/index.html ", std::string("/index.html\0", 12)}));
  EXPECT_EQ(list_entry_at(5, 2)->hits, 2u);
}

TEST_F(CountedListTest, EmptyExtraKeepsTheStoredOne) {
  add(1, "a", 1, 0, 0, 1, "");
  EXPECT_EQ(list_entry_at(1, 1)->extra, "");
  add(1, "a", 1, 0, 0, 1, "/first.html");
  add(1, "a", 1, 0, 0, 1, "");
  EXPECT_EQ(list_entry_at(1, 1)->extra, "/first.html");
  add(1, "a", 1, 0, 0, 1, "/second.html");
  EXPECT_EQ(list_entry_at(1, 1)->extra, "/second.html");
}

TEST_F(CountedListTest, LongTextsAreHeldCutAt255Bytes) {
  const std::string long_key(300, 'k');
  add(5, long_key, 1, 0, 0, 1, std::string(300, 'x'));
  EXPECT_EQ(list_entry_at(5, 1)->key, std::string(255, 'k'));
  EXPECT_EQ(list_entry_at(5, 1)->extra, std::string(255, 'x'));
  // Any key with the same first 255 bytes is the same entry.
  EXPECT_FALSE(add(5, std::string(255, 'k') + "other"));
  EXPECT_EQ(list_snapshot(5).count, 1);

  list_set_title(5, std::string(256, 't'));
  EXPECT_EQ(list_snapshot(5).title, std::string(255, 't'));
  EXPECT_TRUE(list_rename(5, long_key, std::string(400, 'n')));
  EXPECT_EQ(list_entry_at(5, 1)->key, std::string(255, 'n'));
}

TEST_F(CountedListTest, EntryAtAndFetchOutOfRange) {
  EXPECT_EQ(list_entry_at(6, 1), nullptr);
  add(6, "a", 1, 5, 6, 1, "x");
  add(6, "b", 2, 7, 8, 3, "y");
  EXPECT_EQ(list_entry_at(6, 0), nullptr);
  EXPECT_EQ(list_entry_at(6, -1), nullptr);
  EXPECT_EQ(list_entry_at(6, 3), nullptr);
  EXPECT_EQ(list_entry_at(6, 2)->key, "b");

  lists.current_entry = EntryValues{"staged", "extra", 11, 12, 13, 14};
  EXPECT_FALSE(list_fetch(6, 0));
  EXPECT_FALSE(list_fetch(6, 3));
  EXPECT_EQ(lists.current_entry.key, "staged");
  EXPECT_EQ(lists.current_entry.hits, 11u);

  ASSERT_TRUE(list_fetch(6, 2));
  const EntryValues& e = lists.current_entry;
  EXPECT_EQ(e.key, "b");
  EXPECT_EQ(e.extra, "y");
  EXPECT_EQ(e.hits, 2u);
  EXPECT_EQ(e.time, 7u);
  EXPECT_EQ(e.kbytes, 8);
  EXPECT_EQ(e.visits, 3u);
}

TEST_F(CountedListTest, SlotsOutsideTheTableAreIgnored) {
  for (int slot : {-1, 0, 27, 1000}) {
    EXPECT_FALSE(add(slot, "a"));
    EXPECT_EQ(list_entry_at(slot, 1), nullptr);
    EXPECT_FALSE(list_fetch(slot, 1));
    EXPECT_EQ(list_snapshot(slot).count, 0);
    EXPECT_FALSE(list_rename(slot, "a", "b"));
    list_set_key_at(slot, 1, "b");
    list_set_title(slot, "t");
    list_set_letter(slot, 'x');
    list_sort(slot, 2);
    list_clear(slot);
    EXPECT_TRUE(list_snapshot(slot).title.empty());
  }
}

TEST_F(CountedListTest, AnyAddPutsTheListBackToUnsorted) {
  message_table.sort_letters = "abcdef";
  add(2, "a");
  list_sort(2, 2);
  EXPECT_EQ(list_snapshot(2).sort_key, 2);
  EXPECT_EQ(list_snapshot(2).sort_letter, 'c');
  add(2, "a");  // repeat
  EXPECT_EQ(list_snapshot(2).sort_key, 0);
  EXPECT_EQ(list_snapshot(2).sort_letter, 'u');
  list_sort(2, 4);
  add(2, "b");  // new
  EXPECT_EQ(list_snapshot(2).sort_key, 0);
  EXPECT_EQ(list_snapshot(2).sort_letter, 'u');
}

TEST_F(CountedListTest, ClearKeepsTitleAndLetter) {
  list_set_title(7, "Images");
  list_set_letter(7, 'g');
  add(7, "/a.jpg", 4, 0, 9);
  list_sort(7, 2);
  list_clear(7);
  const CountedList& list = list_snapshot(7);
  EXPECT_EQ(list.title, "Images");
  EXPECT_EQ(list.list_letter, 'g');
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.total_hits, 0u);
  EXPECT_EQ(list.total_kbytes, 0);
  EXPECT_EQ(list.total_visits, 0u);
  EXPECT_EQ(list.sort_key, 0);
  EXPECT_EQ(list.sort_letter, 'u');
  EXPECT_TRUE(list.entries.empty());
  EXPECT_TRUE(add(7, "/a.jpg"));
  EXPECT_EQ(list_snapshot(7).count, 1);
}

TEST_F(CountedListTest, ClearPeriodListsSparesEmptyListsAndRunLists) {
  message_table.sort_letters = "abcdef";
  add(1, "a");
  list_sort(1, 2);
  list_sort(3, 4);  // empty, but sorted
  add(20, "10");
  add(21, "2026w01.html");
  add(25, "agent");
  clear_period_lists();
  EXPECT_EQ(list_snapshot(1).count, 0);
  EXPECT_EQ(list_snapshot(1).sort_letter, 'u');
  EXPECT_EQ(list_snapshot(20).count, 0);
  EXPECT_EQ(list_snapshot(3).sort_key, 4);
  EXPECT_EQ(list_snapshot(3).sort_letter, 'e');
  EXPECT_EQ(list_snapshot(21).count, 1);
  EXPECT_EQ(list_snapshot(25).count, 1);

  add(1, "a");
  clear_run_lists();
  EXPECT_EQ(list_snapshot(21).count, 0);
  EXPECT_EQ(list_snapshot(25).count, 0);
  EXPECT_EQ(list_snapshot(1).count, 1);
}

TEST_F(CountedListTest, RenameChangesOnlyTheFirstMatchingKey) {
  message_table.sort_letters = "abcdef";
  add(11, "404", 2, 0, 3);
  add(11, "200", 5, 0, 7);
  list_sort(11, 2);
  EXPECT_FALSE(list_rename(11, "500", "500 Error"));
  EXPECT_TRUE(list_rename(11, "404", "404 Not Found"));
  EXPECT_EQ(list_keys(11), (Keys{"200", "404 Not Found"}));
  const CountedList& list = list_snapshot(11);
  EXPECT_EQ(list.sort_key, 2);
  EXPECT_EQ(list.sort_letter, 'c');
  EXPECT_EQ(list.total_hits, 7u);
  EXPECT_EQ(list_entry_at(11, 2)->hits, 2u);
  EXPECT_TRUE(add(11, "404"));
  EXPECT_FALSE(add(11, "404 Not Found"));
  EXPECT_EQ(list_entry_at(11, 2)->hits, 3u);
}

TEST_F(CountedListTest, RenameToAnExistingKeyLeavesTwoAndTheFirstWins) {
  add(11, "200");
  add(11, "304");
  add(11, "999");
  // Both unknown codes get line 0's text: two entries share one key.
  EXPECT_TRUE(list_rename(11, "999", "Other"));
  EXPECT_TRUE(list_rename(11, "304", "Other"));
  EXPECT_EQ(list_keys(11), (Keys{"200", "Other", "Other"}));
  EXPECT_FALSE(add(11, "Other", 10));
  EXPECT_EQ(list_entry_at(11, 2)->hits, 11u);
  EXPECT_EQ(list_entry_at(11, 3)->hits, 1u);

  // Renaming takes the first of the two; the second then answers to the key.
  EXPECT_TRUE(list_rename(11, "Other", "Moved"));
  EXPECT_FALSE(add(11, "Other", 100));
  EXPECT_EQ(list_entry_at(11, 3)->hits, 101u);
  EXPECT_EQ(list_keys(11), (Keys{"200", "Moved", "Other"}));
  EXPECT_FALSE(add(11, "Moved"));
  EXPECT_EQ(list_entry_at(11, 2)->hits, 12u);
}

TEST_F(CountedListTest, SetKeyAtGivesAnEarlierEntryTheKey) {
  add(1, "10.0.0.1");
  add(1, "10.0.0.2");
  list_set_key_at(1, 2, "10.0.0.2=host.example");
  list_set_key_at(1, 0, "ignored");
  list_set_key_at(1, 3, "ignored");
  EXPECT_EQ(list_keys(1), (Keys{"10.0.0.1", "10.0.0.2=host.example"}));
  list_set_key_at(1, 1, "10.0.0.2=host.example");
  EXPECT_FALSE(add(1, "10.0.0.2=host.example"));
  EXPECT_EQ(list_entry_at(1, 1)->hits, 2u);
  EXPECT_EQ(list_entry_at(1, 2)->hits, 1u);
  EXPECT_TRUE(add(1, "10.0.0.1"));
  EXPECT_EQ(list_snapshot(1).count, 3);
}

TEST_F(CountedListTest, SortRecordsKeyAndLetterWhateverItReorders) {
  message_table.sort_letters = "uhkvbzq";
  list_sort(9, 3);  // empty list
  EXPECT_EQ(list_snapshot(9).sort_key, 3);
  EXPECT_EQ(list_snapshot(9).sort_letter, 'v');

  add(8, "b", 1);
  add(8, "a", 9);
  list_sort(8, 0);
  EXPECT_EQ(list_keys(8), (Keys{"b", "a"}));
  EXPECT_EQ(list_snapshot(8).sort_key, 0);
  EXPECT_EQ(list_snapshot(8).sort_letter, 'u');
  list_sort(8, 6);
  EXPECT_EQ(list_keys(8), (Keys{"b", "a"}));
  EXPECT_EQ(list_snapshot(8).sort_key, 6);
  EXPECT_EQ(list_snapshot(8).sort_letter, 'q');

  // Beyond the end of the sort letters: the character with code 0.
  message_table.sort_letters = "uhk";
  list_sort(8, 3);
  EXPECT_EQ(list_snapshot(8).sort_key, 3);
  EXPECT_EQ(list_snapshot(8).sort_letter, '\0');
}

TEST_F(CountedListTest, NumericKeysSortDescendingAndStably) {
  add(5, "a", 2, 0, 10, 1);
  add(5, "b", 5, 0, -3, 4);
  add(5, "c", 2, 0, 10, 4);
  add(5, "d", 5, 0, 30, 1);
  add(5, "e", 1, 0, -1, 2);
  list_sort(5, 2);
  EXPECT_EQ(list_keys(5), (Keys{"b", "d", "a", "c", "e"}));
  list_sort(5, 3);  // equal kbytes keep their hit order
  EXPECT_EQ(list_keys(5), (Keys{"d", "a", "c", "e", "b"}));
  list_sort(5, 4);
  EXPECT_EQ(list_keys(5), (Keys{"c", "b", "e", "d", "a"}));
  EXPECT_EQ(list_snapshot(5).sort_key, 4);
}

TEST_F(CountedListTest, KeySortsCompareUnsignedBytes) {
  for (const char* key : {"a", "9", "\xE4", "Z", "10", "", "ab", "A"}) add(20, key);
  list_sort(20, 1);
  EXPECT_EQ(list_keys(20), (Keys{"", "10", "9", "A", "Z", "a", "ab", "\xE4"}));
  list_sort(20, 5);
  EXPECT_EQ(list_keys(20), (Keys{"\xE4", "ab", "a", "Z", "A", "9", "10", ""}));
}

TEST_F(CountedListTest, AddAfterSortFindsTheMovedEntries) {
  for (int i = 0; i < 100; ++i) add(6, "/p" + std::to_string(i), i % 7);
  list_sort(6, 2);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(add(6, "/p" + std::to_string(i), 1));
  EXPECT_EQ(list_snapshot(6).count, 100);
  for (const ListEntry& e : list_snapshot(6).entries) {
    EXPECT_EQ(e.hits, static_cast<uint64_t>(std::stoi(std::string(e.key.substr(2))) % 7 + 1))
        << e.key;
  }
}

TEST_F(CountedListTest, EveryRenamedKeyStaysFindable) {
  // As when every client address gets its host name: no key is shared.
  const int n = 5000;
  for (int i = 0; i < n; ++i) add(1, std::to_string(i));
  for (int i = 1; i <= n; i += 2) list_set_key_at(1, i, std::to_string(i - 1) + "=host");
  for (int i = 0; i < n; i += 2)
    EXPECT_TRUE(list_rename(1, std::to_string(i + 1), "x" + std::to_string(i)));
  for (int i = 0; i < n; i += 2) {
    ASSERT_FALSE(add(1, std::to_string(i) + "=host")) << i;
    ASSERT_FALSE(add(1, "x" + std::to_string(i))) << i;
  }
  EXPECT_EQ(list_snapshot(1).count, n);
  EXPECT_TRUE(add(1, "0"));
  EXPECT_TRUE(add(1, "1"));
}

// Keys that all begin their search at the index's last bucket (under the
// words of one seed) make one long run of buckets that wraps around the end:
// adds, renames out of the middle of the run and a sort that makes the index
// again still find every key's entry.
TEST_F(CountedListTest, KeysCrowdingOneBucketStayApart) {
  seed_hash_keys(3);
  Keys keys;
  for (int i = 0; keys.size() < 200; ++i) {
    std::string key = "/k" + std::to_string(i);
    if ((list_key_hash(key) & 0xFFF) == 0xFFF) keys.push_back(key);
  }
  for (const std::string& key : keys) ASSERT_TRUE(add(17, key)) << key;
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) ASSERT_FALSE(add(17, *key)) << *key;
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    ASSERT_TRUE(list_rename(17, keys[i], keys[i] + "r")) << keys[i];
    keys[i] += "r";
  }
  list_sort(17, 1);
  for (const std::string& key : keys) ASSERT_FALSE(add(17, key)) << key;
  Keys held;
  for (const ListEntry& entry : list_snapshot(17).entries) {
    EXPECT_EQ(entry.hits, 3u) << entry.key;
    held.emplace_back(entry.key);
  }
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(held, keys);
}

// The adjacent-swap sort on a plain vector: the order list_sort must produce.
void adjacent_swap_sort(std::vector<ListEntry>& v, int key) {
  auto before = [key](const ListEntry& q, const ListEntry& p) {
    switch (key) {
      case 1:
        return q.key < p.key;
      case 2:
        return q.hits > p.hits;
      case 3:
        return q.kbytes > p.kbytes;
      case 4:
        return q.visits > p.visits;
      case 5:
        return q.key > p.key;
      default:
        return false;
    }
  };
  std::size_t p = 0;
  while (p + 1 < v.size()) {
    const std::size_t q = p + 1;
    if (before(v[q], v[p])) {
      std::swap(v[p], v[q]);
      p = p > 0 ? p - 1 : 0;
    } else {
      p = q;
    }
  }
}

TEST_F(CountedListTest, SortMatchesTheAdjacentSwapOrderOnRandomLists) {
  std::mt19937 random(20261207);
  const std::vector<std::string> alphabet = {"a", "B", "b", "\xFC", "1", "10", "ab", ""};
  for (int round = 0; round < 400; ++round) {
    list_clear(14);
    const int size = static_cast<int>(random() % 40);
    std::vector<ListEntry> expected;
    // Every other round also values that differ in high bytes, far apart
    // and negative, so that the sort meets every byte of them.
    const auto value = [&](uint64_t small) {
      if (round % 2 == 0 || random() % 3 != 0) return small;
      return (uint64_t{random()} << 32 | random()) >> (random() % 64);
    };
    for (int i = 0; i < size; ++i) {
      std::string key = alphabet[random() % alphabet.size()] + alphabet[random() % alphabet.size()];
      // Small ones from -2 to 2, large ones of either sign.
      const int64_t kbytes = static_cast<int64_t>(value(random() % 5) - 2);
      add(14, key + "#" + std::to_string(i), value(random() % 4), 0, kbytes, value(random() % 3));
    }
    // Some duplicate keys, as renames leave them.
    for (int i = 0; i < size / 4; ++i) {
      list_set_key_at(14, random() % size + 1, alphabet[random() % alphabet.size()]);
    }
    expected = list_snapshot(14).entries;
    for (int step = 0; step < 3; ++step) {
      const int key = static_cast<int>(random() % 7);
      adjacent_swap_sort(expected, key);
      list_sort(14, key);
      const std::vector<ListEntry>& got = list_snapshot(14).entries;
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].key, expected[i].key) << "round " << round << " key " << key;
        ASSERT_EQ(got[i].hits, expected[i].hits);
        ASSERT_EQ(got[i].kbytes, expected[i].kbytes);
        ASSERT_EQ(got[i].visits, expected[i].visits);
      }
    }
  }
}

// Adds, renames and key changes against a list walked from the front: the
// index must always find the first entry with a key.
TEST_F(CountedListTest, IndexAgreesWithAListWalkUnderRandomChanges) {
  std::mt19937 random(7);
  std::vector<std::string> model;
  std::vector<uint64_t> hits;
  auto walk = [&](const std::string& key) -> int {
    for (std::size_t i = 0; i < model.size(); ++i) {
      if (model[i] == key) return static_cast<int>(i);
    }
    return -1;
  };
  for (int op = 0; op < 20000; ++op) {
    const std::string key = "k" + std::to_string(random() % 300);
    const unsigned choice = random() % 10;
    if (choice < 7) {
      const int pos = walk(key);
      ASSERT_EQ(add(17, key), pos < 0);
      if (pos < 0) {
        model.push_back(key);
        hits.push_back(1);
      } else {
        hits[pos] += 1;
      }
    } else if (choice < 9) {
      const std::string new_key = "k" + std::to_string(random() % 300);
      const int pos = walk(key);
      ASSERT_EQ(list_rename(17, key, new_key), pos >= 0);
      if (pos >= 0) model[pos] = new_key;
    } else if (!model.empty()) {
      const std::size_t pos = random() % model.size();
      list_set_key_at(17, static_cast<int64_t>(pos + 1), key);
      model[pos] = key;
    }
  }
  ASSERT_EQ(list_snapshot(17).entries.size(), model.size());
  for (std::size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(list_entry_at(17, static_cast<int64_t>(i + 1))->key, model[i]);
    EXPECT_EQ(list_entry_at(17, static_cast<int64_t>(i + 1))->hits, hits[i]);
  }
}

// Adds that try the entry of the last add first give what adds through the
// index give, whatever happened to the list in between: sorts (which move
// that entry), renames (which may leave a key held twice), a dropped index,
// clears and emptyings that keep the memory, keys longer than a key is held.
TEST_F(CountedListTest, RepeatingAddsGiveWhatAddsThroughTheIndexGive) {
  std::mt19937 random(11);
  const std::string long_key(300, 'h');
  const auto pick = [&] {
    const unsigned n = random() % 12;
    return n == 11 ? long_key + std::to_string(random() % 2) : "h" + std::to_string(n);
  };
  std::string key = pick();
  for (int op = 0; op < 20000; ++op) {
    const unsigned choice = random() % 100;
    if (choice < 80) {
      // Mostly the key before, as hours and status codes come.
      if (random() % 3 == 0) key = pick();
      EntryValues& e = lists.current_entry;
      e.key = key;
      e.hits = 1 + random() % 3;
      e.time = at(static_cast<int>(random() % 24), static_cast<int>(random() % 60));
      e.kbytes = static_cast<int64_t>(random() % 50) - 10;
      e.visits = 1;
      e.extra.clear();
      const bool by_index = list_add_key(17, key, list_key_hash(key));
      ASSERT_EQ(list_add_repeating(18, key), by_index) << op;
    } else if (choice < 88) {
      // Renames to the key being added make it held twice most often.
      const std::string from = pick();
      const std::string to = random() % 2 == 0 ? key : pick();
      ASSERT_EQ(list_rename(18, from, to), list_rename(17, from, to));
    } else if (choice < 92 && list_snapshot(17).count > 0) {
      const int64_t n = 1 + static_cast<int64_t>(random() % list_snapshot(17).entries.size());
      const std::string to = random() % 2 == 0 ? key : pick();
      list_set_key_at(17, n, to);
      list_set_key_at(18, n, to);
    } else if (choice < 97) {
      const int sort_key = 1 + static_cast<int>(random() % 5);
      list_sort(17, sort_key);
      list_sort(18, sort_key);
    } else if (choice < 99) {
      list_drop_index(18);
    } else if (random() % 2 == 0) {
      list_clear(17);
      list_clear(18);
    } else {
      // Emptied keeping its memory, the list goes on as a cleared one does.
      list_clear(17);
      empty_period_lists();
    }
    const CountedList& a = list_snapshot(17);
    const CountedList& b = list_snapshot(18);
    ASSERT_EQ(b.entries, a.entries) << op;
    ASSERT_EQ(std::make_tuple(b.count, b.total_hits, b.total_kbytes, b.total_visits, b.sort_key),
              std::make_tuple(a.count, a.total_hits, a.total_kbytes, a.total_visits, a.sort_key));
  }
}

}  // namespace
}  // namespace sorvik

namespace sorvik {
namespace {

// Random requests added one by one give the same list as the requests of a
// first part added one by one (or their list appended to an empty list)
// with the list of the rest merged into it:
// order, counters, visits (gaps around 30 minutes, times that go back),
// extras and totals.
TEST_F(CountedListTest, MergingALaterListEqualsAddingItsRequests) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    struct Request {
      std::string key;
      std::string extra;
      PackedTime time;
      int64_t kbytes;
    };
    std::vector<Request> requests;
    PackedTime time = 1000;
    const int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      const uint32_t step = random() % 4 == 0 ? 5000 : random() % 1200;
      time = random() % 10 == 0 ? time - step : time + step;
      requests.push_back(Request{"k" + std::to_string(random() % 6),
                                 random() % 3 == 0 ? "" : "x" + std::to_string(random() % 4), time,
                                 static_cast<int64_t>(random() % 9) - 2});
    }
    const auto add_all = [&](std::size_t from, std::size_t to, bool keep_first_times) {
      reset_lists();
      lists.list_slots[7].keep_first_times = keep_first_times;
      for (std::size_t i = from; i < to; ++i) {
        lists.current_entry.key = requests[i].key;
        lists.current_entry.extra = requests[i].extra;
        lists.current_entry.hits = 1;
        lists.current_entry.visits = 1;
        lists.current_entry.time = requests[i].time;
        lists.current_entry.kbytes = requests[i].kbytes;
        list_add(7);
      }
      return lists.list_slots[7];
    };
    const std::size_t cut = random() % (requests.size() + 1);
    const CountedList whole = add_all(0, requests.size(), false);
    CountedList merged = add_all(0, cut, false);
    const CountedList later = add_all(cut, requests.size(), true);
    std::vector<bool> is_new;
    for (std::size_t i = 0; i < later.entries.size(); ++i) {
      is_new.push_back(list_merge_entry(merged, later.entries[i], later.first_times[i]));
    }

    ASSERT_EQ(merged.entries, whole.entries) << "round " << round << ", cut " << cut;
    EXPECT_EQ(merged.count, whole.count);
    EXPECT_EQ(merged.total_hits, whole.total_hits);
    EXPECT_EQ(merged.total_kbytes, whole.total_kbytes);
    EXPECT_EQ(merged.total_visits, whole.total_visits);
    for (std::size_t i = 0; i < later.entries.size(); ++i) {
      bool earlier = false;
      for (std::size_t j = 0; j < cut; ++j)
        earlier = earlier || requests[j].key == later.entries[i].key;
      EXPECT_EQ(is_new[i], !earlier);
    }

    // The same with the first part's list appended to an empty list instead
    // of its requests added: the later merge finds the appended keys.
    const CountedList first = add_all(0, cut, true);
    CountedList appended;
    for (std::size_t i = 0; i < first.entries.size(); ++i) {
      const ListEntry& e = first.entries[i];
      list_append_view(appended, EntryView{e.key, e.extra, e.hits, e.time, e.visits, e.kbytes},
                       first.first_times[i]);
    }
    for (std::size_t i = 0; i < later.entries.size(); ++i) {
      list_merge_entry(appended, later.entries[i], later.first_times[i]);
    }
    ASSERT_EQ(appended.entries, whole.entries) << "round " << round << ", cut " << cut;
    EXPECT_EQ(appended.count, whole.count);
    EXPECT_EQ(appended.total_hits, whole.total_hits);
    EXPECT_EQ(appended.total_kbytes, whole.total_kbytes);
    EXPECT_EQ(appended.total_visits, whole.total_visits);
  }
}

}  // namespace
}  // namespace sorvik
