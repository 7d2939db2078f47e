// What a child writes into its script reads back as it was written: lists
// with their entries and first times, a stretch with its head, unknown
// agents, period lists and first requests, the facts of a piece, and the
// state items of a mode child.
#include "workers/script_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sorvik {
namespace {

// Entries at the edges of what a list holds: texts of 0, a few and 255
// bytes (those in the arena) with bytes of every kind, and counters of
// either sign and of the widest widths.
void fill_list(CountedList& list, int seed) {
  const std::vector<EntryValues> entries = {
      {"192.0.2.1", "/index.html", 3, 0x12345678u, 2, -7},
      {std::string(255, static_cast<char>('a' + seed)), "", UINT64_MAX, 0, 1, INT64_MIN},
      {std::string("a\0b\n\xff", 5), std::string(200, 'e'), 1, UINT32_MAX, UINT64_MAX, INT64_MAX},
  };
  list.keep_first_times = true;
  for (const EntryValues& entry : entries) {
    assign_entry(list_new_entry(list), entry, list.texts.arena.get());
    list.first_times.push_back(entry.time ^ 0x5555u);
  }
  list.count = static_cast<int32_t>(list.entries.size()) + seed;
  list.total_hits = 12345678901234ull + static_cast<uint64_t>(seed);
  list.total_kbytes = -987654321012 - seed;
  list.total_visits = 42;
  list.sort_key = 3;
  list.sort_letter = 'h';
}

void expect_same_list(const CountedList& read, const CountedList& sent) {
  EXPECT_EQ(read.entries, sent.entries);
  EXPECT_EQ(read.count, sent.count);
  EXPECT_EQ(read.total_hits, sent.total_hits);
  EXPECT_EQ(read.total_kbytes, sent.total_kbytes);
  EXPECT_EQ(read.total_visits, sent.total_visits);
  EXPECT_EQ(read.sort_key, sent.sort_key);
  EXPECT_EQ(read.sort_letter, sent.sort_letter);
}

// The one item `writer` holds, without its length.
std::string only_item(const ScriptWriter& writer) {
  uint64_t size = 0;
  EXPECT_GE(writer.pending.size(), sizeof size);
  std::memcpy(&size, writer.pending.data(), sizeof size);
  EXPECT_EQ(writer.pending.size(), sizeof size + size);
  return writer.pending.substr(sizeof size);
}

TEST_F(SorvikTest, ListsReadBackAsSentWithTheirFirstTimes) {
  CountedList sent;
  fill_list(sent, 1);
  ScriptWriter writer;
  writer.begin(Step::kConsole);
  put_counted_list(writer, sent);
  put_list(writer, CountedList{});
  writer.finish();
  const std::string item = only_item(writer);
  ItemReader reader;
  reader.start(item);
  EXPECT_EQ(static_cast<Step>(reader.get_u8()), Step::kConsole);
  CountedList read;
  std::vector<PackedTime> first_times;
  get_counted_list(reader, read, first_times);
  expect_same_list(read, sent);
  EXPECT_EQ(first_times, sent.first_times);
  CountedList empty;
  fill_list(empty, 2);  // entries read before are replaced
  get_list(reader, empty);
  EXPECT_TRUE(empty.entries.empty());
  EXPECT_TRUE(reader.at_end());
}

TEST_F(SorvikTest, AStretchReadsBackWithItsHeadListsAndFirstRequests) {
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys, kClients, kHours}) {
    fill_list(lists.list_slots[slot], slot);
  }
  StretchHead head;
  head.first = 1234567;
  head.records = 89;
  head.fields = {"", "192.0.2.1", "-", "user", "[30/Nov/2026:23:59:59"};
  head.bytes = -1.5e18L;
  head.magnitude = 4.25e18L;
  head.earliest = -3600;
  const std::vector<FirstRequest> firsts = {{true, "/a.html", -2, 77}, {false, "", 5, 0}};
  ScriptWriter writer;
  put_stretch(writer, StretchRef{7, 65}, head, firsts);
  const std::string item = only_item(writer);

  ItemReader reader;
  reader.start(item);
  const StretchHead read = read_stretch_head(reader);
  EXPECT_EQ(read.first, head.first);
  EXPECT_EQ(read.records, head.records);
  EXPECT_EQ(read.fields, head.fields);
  EXPECT_EQ(read.bytes, head.bytes);
  EXPECT_EQ(read.magnitude, head.magnitude);
  EXPECT_EQ(read.earliest, head.earliest);
  std::vector<PackedTime> first_times;
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    CountedList list;
    get_counted_list(reader, list, first_times);
    expect_same_list(list, lists.list_slots[slot]);
  }
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    CountedList list;
    get_counted_list(reader, list, first_times);
    expect_same_list(list, lists.list_slots[slot]);
    EXPECT_EQ(first_times, lists.list_slots[slot].first_times) << slot;
  }
  EXPECT_EQ(reader.get_u64(), firsts.size());
  for (const FirstRequest& first : firsts) {
    bool is_page = false;
    EntryValues entry;
    get_first_request(reader, is_page, entry);
    EXPECT_EQ(is_page, first.is_page);
    EXPECT_EQ(entry.key, first.path);
    EXPECT_EQ(entry.kbytes, first.kbytes);
    EXPECT_EQ(entry.time, first.time);
  }
  EXPECT_TRUE(reader.at_end());

  // Moved on behind 1000 records of the pieces before, it is the same
  // stretch but for where it begins.
  reader.start(item);
  reader.get_u8();
  const StretchRef ref = read_item_place(reader);
  EXPECT_EQ(ref, (StretchRef{7, 65}));
  const std::string moved = stretch_moved_on(reader, ref, 1000);
  reader.start(moved);
  EXPECT_EQ(read_stretch_head(reader).first, head.first + 1000);
  const std::string moved_rest = moved.substr(reader.at);
  reader.start(item);
  read_stretch_head(reader);
  EXPECT_EQ(moved_rest, item.substr(reader.at));
}

TEST_F(SorvikTest, PieceFactsReadBackCountedAfterThePiecesBefore) {
  FactsRecorder facts;
  facts.console(FileEvent::kReadConsole, 0, "!");
  facts.entry(FileEvent::kReadEntry, 3, "logs/a.1", "Compressed file damaged");
  facts.malformed(4, "logs/a.1", MalformedLine{17, 4, 5});
  facts.console(FileEvent::kParseConsole, 9, "!");
  facts.entry(FileEvent::kUnknownCommand, 9, "logs/a.1", "PUT");
  ScriptWriter writer;
  put_piece_facts(writer, 2, 1, 12, 20, facts);
  const std::string item = only_item(writer);

  ItemReader reader;
  const PieceCounts counts = start_piece_facts(reader, item);
  EXPECT_EQ(counts.records, 12u);
  EXPECT_EQ(counts.lines, 20u);
  ASSERT_EQ(counts.events, 5u);
  std::vector<FactEvent> events;
  for (uint64_t i = 0; i < counts.events; ++i) events.push_back(read_fact_event(reader, 100, 200));
  EXPECT_TRUE(reader.at_end());
  EXPECT_EQ(events[0].event, FileEvent::kReadConsole);
  EXPECT_EQ(events[0].before, 100u);
  EXPECT_EQ(events[0].text, "!");
  EXPECT_EQ(events[1].event, FileEvent::kReadEntry);
  EXPECT_EQ(events[1].source, "logs/a.1");
  EXPECT_EQ(events[1].text, "Compressed file damaged");
  EXPECT_EQ(events[2].event, FileEvent::kMalformedLine);
  EXPECT_EQ(events[2].before, 104u);
  EXPECT_EQ(events[2].malformed.line, 217);
  EXPECT_EQ(events[2].malformed.fields, 4);
  EXPECT_EQ(events[2].malformed.misfit, 5);
  EXPECT_EQ(events[3].event, FileEvent::kParseConsole);
  EXPECT_EQ(events[4].event, FileEvent::kUnknownCommand);
  EXPECT_EQ(events[4].before, 109u);
  EXPECT_EQ(events[4].text, "PUT");
}

TEST_F(SorvikTest, AModeChildsPeriodEndEndAndStopReadBackAsSent) {
  fill_list(lists.list_slots[kFiles], 0);
  fill_list(lists.list_slots[kUnknownOpsys], 3);
  PeriodEndItem end;
  end.end = PeriodEnd{kModeMonths, "2026m11", true, "access.48", "11", "2026"};
  end.year_known = false;
  end.record_number = -1;
  end.log_path = "logs/access.48";
  end.period_bytes = 1536.5L;
  ScriptWriter writer;
  put_period_end(writer, end);
  std::string item = only_item(writer);
  ItemReader reader;
  reader.start(item);
  EXPECT_EQ(static_cast<Step>(reader.get_u8()), Step::kPeriodEnd);
  const PeriodEndItem read = read_period_end(reader);
  EXPECT_EQ(read.end.mode, kModeMonths);
  EXPECT_EQ(read.end.period, "2026m11");
  EXPECT_TRUE(read.end.complete);
  EXPECT_EQ(read.end.log, "access.48");
  EXPECT_EQ(read.end.number, "11");
  EXPECT_EQ(read.end.year, "2026");
  EXPECT_FALSE(read.year_known);
  EXPECT_EQ(read.record_number, -1);
  EXPECT_EQ(read.log_path, "logs/access.48");
  EXPECT_EQ(read.period_bytes, 1536.5L);
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    CountedList list;
    get_list(reader, list);
    expect_same_list(list, lists.list_slots[slot]);
  }
  EXPECT_TRUE(reader.at_end());

  writer.pending.clear();
  put_mode_end(writer, ModeEndItem{"2027", true, 41, "logs/access.53"});
  item = only_item(writer);
  reader.start(item);
  reader.get_u8();
  const ModeEndItem mode_end = read_mode_end(reader);
  EXPECT_EQ(mode_end.year_text, "2027");
  EXPECT_TRUE(mode_end.opened);
  EXPECT_EQ(mode_end.record_number, 41);
  EXPECT_EQ(mode_end.log_path, "logs/access.53");
  CountedList browsers;
  CountedList systems;
  get_list(reader, browsers);
  get_list(reader, systems);
  expect_same_list(systems, lists.list_slots[kUnknownOpsys]);
  EXPECT_TRUE(reader.at_end());

  writer.pending.clear();
  put_stop(writer, RunStop{kExitBadTime, true, "a line"});
  item = only_item(writer);
  reader.start(item);
  EXPECT_EQ(static_cast<Step>(reader.get_u8()), Step::kStop);
  const RunStop stop = read_stop(reader);
  EXPECT_EQ(stop.exit_status, kExitBadTime);
  EXPECT_TRUE(stop.wait_for_key);
  EXPECT_EQ(stop.console_line, "a line");
}

TEST(ItemReaderTest, AnItemCutShortOrABadNumberIsAFailure) {
  ScriptWriter writer;
  writer.begin(Step::kConsole);
  writer.put_text("console text");
  ItemReader reader;
  const std::string cut = writer.item.substr(0, writer.item.size() - 1);
  reader.start(cut);
  reader.get_u8();
  EXPECT_THROW(reader.get_text(), std::runtime_error);
  const std::string endless(11, '\xff');
  reader.start(endless);
  EXPECT_THROW(reader.get_u64(), std::runtime_error);
  reader.start("");
  EXPECT_THROW(reader.get_u8(), std::runtime_error);
}

}  // namespace
}  // namespace sorvik
