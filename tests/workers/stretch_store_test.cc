// Counted stretches kept, merged into periods, and merged ahead: the lists
// a period gets are those of its stretches merged in order, wherever the
// stretches' lists were kept and whatever was planned.
#include "workers/stretch_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/log_record.h"
#include "logs/request_parser.h"
#include "support/test_support.h"
#include "workers/merge_ahead.h"
#include "workers/stretch_merge.h"

namespace sorvik {
namespace {

// The lists counted for a stretch: each client asks for `path` once, with
// a visit's times a minute apart; the clients and files lists are counted.
void count_stretch(const std::vector<std::string>& clients, const std::string& path, int day) {
  for (const std::string& client : clients) {
    EntryValues& entry = lists.current_entry;
    entry = EntryValues{"", "", 1, pack_time(TimeStamp{2026, 11, static_cast<uint16_t>(day), 10,
                                                       static_cast<uint16_t>(client.size()), 0}),
                        1, 2};
    list_add_key(kClients, client, list_key_hash(client));
    list_add_key(kFiles, path, list_key_hash(path));
  }
}

// A kStretch item whose first record is stamped on `day` of `month`.
std::string stretch_item(const StretchRef& ref, const std::vector<std::string>& clients,
                         const std::string& path, int day, const std::string& month = "Nov") {
  clear_period_lists();
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    lists.list_slots[slot].keep_first_times = true;
  }
  count_stretch(clients, path, day);
  StretchHead head;
  head.records = clients.size();
  head.fields[4] = "[" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "/" + month +
                   "/2026:10:00:00";
  head.bytes = head.magnitude = 2048.0L * static_cast<long double>(clients.size());
  ScriptWriter writer;
  put_stretch(writer, ref, head, {});
  return writer.pending.substr(sizeof(uint64_t));
}

// The lists of the period slots as they stand, as (key, hits) pairs.
std::vector<KeyHits> period_hits() {
  std::vector<KeyHits> hits;
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) hits.push_back(list_hits(slot));
  return hits;
}

TEST_F(SorvikTest, KeptStretchesGiveTheirListsBackWhetherSpilledOrHeld) {
  const std::string first = stretch_item({0, 0}, {"192.0.2.1", "192.0.2.2"}, "/a.html", 30);
  const std::string second = stretch_item({0, 1}, {"192.0.2.3"}, "/b.html", 1, "Dec");
  for (const char* folder : {".", "no-such-folder"}) {
    const TemporaryFolder spill_folder(folder);
    for (const std::size_t memory : {std::size_t{0}, std::size_t{1} << 20}) {
      StretchStore store;
      store.stretch_memory = memory;
      keep_stretch(store, {0, 0}, first);
      keep_stretch(store, {0, 1}, first);
      keep_stretch(store, {0, 1}, second);  // replaced, as a child's resent stretch is
      const bool spilled = memory == 0 && folder[0] == '.';
      std::size_t held = 0;
      for (const auto& [ref, stored] : store.stretches) {
        const std::string& item = ref.second == 0 ? first : second;
        std::string read_back;
        const std::string_view lists = stretch_lists(store, stored, read_back);
        EXPECT_EQ(lists, std::string_view(item).substr(item.size() - lists.size()));
        EXPECT_EQ(stored.lists_spilled, spilled);
        EXPECT_EQ(stored_head(stored).fields[4], ref.second == 0 ? "[30/Nov/2026:10:00:00"
                                                                 : "[01/Dec/2026:10:00:00");
        held += lists.size();
      }
      EXPECT_EQ(store.lists_held, spilled ? 0u : held) << folder << " " << memory;
    }
  }
}

TEST_F(SorvikTest, StretchesMergeIntoTheListsOfCountingTheirRequestsInOrder) {
  StretchStore store;
  keep_stretch(store, {0, 0}, stretch_item({0, 0}, {"192.0.2.1", "192.0.2.22"}, "/a.html", 29));
  keep_stretch(store, {1, 0}, stretch_item({1, 0}, {"192.0.2.22", "192.0.2.3"}, "/b.html", 30));
  clear_period_lists();
  count_stretch({"192.0.2.1", "192.0.2.22"}, "/a.html", 29);
  count_stretch({"192.0.2.22", "192.0.2.3"}, "/b.html", 30);
  const std::vector<KeyHits> counted = period_hits();
  const std::vector<ListEntry> clients = list_snapshot(kClients).entries;
  clear_period_lists();
  install_period_lists(std::move(*merged_lists(store, {{0, 0}, {1, 0}})));
  EXPECT_EQ(period_hits(), counted);
  EXPECT_EQ(list_snapshot(kClients).entries, clients);
  EXPECT_THROW(merged_lists(store, {{2, 0}}), std::runtime_error);
}

// November in two files, December after it: the months run's periods are
// planned from the stretches' first records and merged ahead; a period
// that ends otherwise than planned gets its own lists all the same.
TEST_F(SorvikTest, PeriodsMergedAheadOrNotGetTheListsOfTheirStretches) {
  analysis.log_files = {"access.1", "access.2"};
  StretchStore store;
  keep_stretch(store, {0, 0}, stretch_item({0, 0}, {"192.0.2.1"}, "/a.html", 29));
  keep_stretch(store, {1, 0}, stretch_item({1, 0}, {"192.0.2.1", "192.0.2.2"}, "/b.html", 30));
  keep_stretch(store, {1, 1}, stretch_item({1, 1}, {"192.0.2.3"}, "/c.html", 1, "Dec"));
  const std::vector<std::vector<StretchRef>> november_december = {{{0, 0}, {1, 0}}, {{1, 1}}};
  ASSERT_EQ(plan_mode_periods(store, kModeMonths), november_december);
  EXPECT_EQ(plan_mode_periods(store, kModeYears),
            (std::vector<std::vector<StretchRef>>{{{0, 0}, {1, 0}, {1, 1}}}));
  EXPECT_TRUE(late_stretches_whole(store, kModeMonths));

  const auto merged_now = [&store](const std::vector<StretchRef>& refs) {
    install_period_lists(std::move(*merged_lists(store, refs)));
    return period_hits();
  };
  for (const bool as_planned : {true, false}) {
    std::unique_ptr<MergeAhead> ahead = start_merge_ahead(store, {kModeMonths}, 0);
    ASSERT_TRUE(ahead);
    // A week's merge leaves the plan alone.
    merge_stretches(store, nullptr, {{0, 0}});
    EXPECT_EQ(period_hits(), merged_now({{0, 0}}));
    std::vector<std::vector<StretchRef>> periods = november_december;
    if (!as_planned) periods = {{{0, 0}}, {{1, 0}, {1, 1}}};
    for (const std::vector<StretchRef>& refs : periods) {
      merge_stretches(store, ahead.get(), refs);
      const std::vector<KeyHits> installed = period_hits();
      // The next period waits until this one's reports are written.
      const WritingReports writing(ahead.get());
      EXPECT_EQ(installed, merged_now(refs)) << as_planned;
    }
  }
}

}  // namespace
}  // namespace sorvik
