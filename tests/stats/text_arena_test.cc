#include "stats/text_arena.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// A key too long to be held inside its entry, so that it lies in the arena.
std::string long_key(int i) {
  return "/a/path/long/enough/to/leave/the/entry/" + std::to_string(i);
}

// Appends `n` entries with long keys and extras to `list`: enough texts to
// fill several of the arena's blocks.
void fill(CountedList& list, int n) {
  for (int i = 0; i < n; ++i) {
    const std::string key = long_key(i);
    const std::string extra = key + "/extra";
    list_append_view(list, EntryView{key, extra, static_cast<uint64_t>(i + 1), 0, 1, 0}, 0);
  }
}

void expect_filled(const CountedList& list, int n) {
  ASSERT_EQ(list.entries.size(), static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(list.entries[i].key, long_key(i));
    EXPECT_EQ(list.entries[i].extra, long_key(i) + "/extra");
  }
}

class TextArenaTest : public SorvikTest {};

TEST_F(TextArenaTest, TextsStayValidThroughMovesCopiesAndAssignments) {
  CountedList made;
  fill(made, 5000);

  // A moved list takes its arena along; the list moved from has none, and
  // what it is given then lives on the heap.
  CountedList moved = std::move(made);
  expect_filled(moved, 5000);
  fill(made, 3);
  expect_filled(made, 3);

  // A copy's texts are its own: the original may go.
  CountedList copied = moved;
  moved = CountedList{};
  expect_filled(copied, 5000);

  // A list assigned to copies the texts into its own arena.
  CountedList assigned;
  fill(assigned, 10);
  assigned = copied;
  copied = CountedList{};
  expect_filled(assigned, 5000);
  list_merge_view(assigned, EntryView{long_key(7), "/new/extra/of/some/length", 1, 0, 1, 0}, 0,
                  list_key_hash(long_key(7)));
  EXPECT_EQ(assigned.entries[7].extra, "/new/extra/of/some/length");
}

TEST_F(TextArenaTest, ClearedAndEmptiedListsCountAgain) {
  const auto count = [](int slot, int n) {
    for (int i = 0; i < n; ++i) {
      lists.current_entry = EntryValues{};
      lists.current_entry.key = long_key(i);
      lists.current_entry.extra = "/extra/of/the/request/" + std::to_string(i);
      lists.current_entry.hits = 1;
      list_add(slot);
    }
  };
  const auto expect_counted = [](int slot, std::size_t n) {
    const CountedList& list = list_snapshot(slot);
    ASSERT_EQ(list.entries.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(list.entries[i].key, long_key(static_cast<int>(i)));
      EXPECT_EQ(list.entries[i].hits, 1u);
    }
  };
  count(6, 4000);
  list_clear(6);
  count(6, 3000);
  expect_counted(6, 3000);
  count(7, 4000);
  empty_period_lists();
  count(7, 2000);
  expect_counted(7, 2000);
}

TEST_F(TextArenaTest, TakesLargerThanABlockGetABlockOfTheirOwn) {
  ArenaHandle handle;
  TextArena& arena = *handle.arena;
  std::vector<char*> small;
  for (int i = 0; i < 100; ++i) {
    small.push_back(arena_take(arena, 100));
    std::memset(small.back(), 'a' + i % 26, 100);
  }
  constexpr std::size_t kLarge = std::size_t{3} << 20;
  char* large = arena_take(arena, kLarge);
  std::memset(large, 'L', kLarge);
  char* after = arena_take(arena, 255);
  std::memset(after, 'z', 255);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(small[i][99], 'a' + i % 26);
  EXPECT_EQ(large[kLarge - 1], 'L');
  EXPECT_EQ(after[0], 'z');

  arena_release(handle);
  EXPECT_TRUE(arena.blocks.empty());
  std::memset(arena_take(arena, 10), 'x', 10);
}

// A text holds up to 15 bytes in itself and a longer one in the arena it is
// given (or on the heap without one); it reuses its room, may be set from
// its own bytes, and a copy or a moved text keeps its bytes when the arena
// goes.
TEST_F(TextArenaTest, ListTextsHoldTheirBytesInsideInTheArenaOrOnTheHeap) {
  ArenaHandle handle;
  TextArena* arena = handle.arena.get();
  const std::string fifteen(15, 'f');
  const std::string sixteen(16, 's');
  ListText text;
  EXPECT_TRUE(text.empty());
  text.assign(fifteen, arena);
  EXPECT_EQ(text, fifteen);
  EXPECT_TRUE(arena->blocks.empty());
  text.assign(sixteen, arena);
  EXPECT_EQ(text, sixteen);
  ASSERT_EQ(arena->blocks.size(), 1u);
  const char* bytes = text.data();
  text.assign("a shorter text!!", arena);
  EXPECT_EQ(text.data(), bytes);  // the room is reused
  text.assign(text.substr(2), arena);
  EXPECT_EQ(text, "shorter text!!");
  text.assign(std::string_view(), arena);
  EXPECT_TRUE(text.empty());

  const std::string long_text = long_key(1);
  text.assign(long_text, arena);
  ListText copy = text;
  ListText moved = std::move(text);
  EXPECT_TRUE(text.empty());
  ListText assigned("short");
  assigned = moved;
  ListText on_heap(long_text);
  on_heap.assign(long_text + long_text, nullptr);
  arena_release(handle);
  for (const ListText* kept : {&copy, &assigned}) EXPECT_EQ(*kept, long_text);
  EXPECT_EQ(on_heap, long_text + long_text);
  EXPECT_LT(ListText("abc"), ListText("abd"));
  EXPECT_LT(ListText(fifteen), ListText(sixteen));
}

}  // namespace
}  // namespace sorvik
