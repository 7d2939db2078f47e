// The bytes a child process sends the analyzer through its pipe: a script
// of items. An item is its length (8 bytes, in the machine's order) and then
// its bytes, the first of which is its Step. Numbers go as 7-bit groups,
// lowest first, the top bit set on all but the last; signed numbers folded
// so that small negative ones stay short; a text is its length and its
// bytes. Parent and child are the same program on the same machine, so
// nothing here is meant to be read by another build.
//
// ScriptWriter builds and sends items on the child's side; ItemReader reads
// one item on the parent's side, throwing std::runtime_error on an item cut
// short or a bad number. Every "put_X" below has its "read_X"/"get_X" that
// gives back what was put.
#ifndef SORVIK_WORKERS_SCRIPT_FORMAT_H_
#define SORVIK_WORKERS_SCRIPT_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/log_record.h"
#include "base/run_stop.h"
#include "stats/counted_list.h"

namespace sorvik {

// What one item of a script holds; each item is one step of the mode's run.
enum class Step : uint8_t {
  kConsole,     // text written to the console
  kErrorEntry,  // an error-log entry: source, text
  kPeriodEnd,   // a period's result entry and reports: its lists
  kDnsCheck,    // the quiet name-server check between two files of the years run
  kStop,        // the run ends: a RunStop
  kOutOfMemory,
  kFailure,    // an unexpected exception: its text
  kEnd,        // the mode's run is over: the state later steps of the run read
  kStretch,    // the counted lists of one stretch of a file (a counting child)
  kFileFacts,  // what a counting child saw of a file beyond its stretches
};

// What the reading or the parsing of a record showed, as the file facts keep
// it for the run modes.
enum class FileEvent : uint8_t {
  kReadConsole,     // console text of the reading: shown by every mode
  kReadEntry,       // an error-log entry of the reading: source, text
  kParseConsole,    // console text of the parsing: shown by a mode that analyses the record
  kUnknownCommand,  // a method neither GET nor HEAD: source, method
  kMalformedLine,   // a malformed line: source, its line in the piece, its tokens, the misfit
};

// Whether the event comes from the reading, which every mode shows.
bool is_reading_event(FileEvent event);

// A counted stretch: its file's index and its number in the file.
using StretchRef = std::pair<uint64_t, uint64_t>;

// Items are sent in blocks of at least this size, so that the pipe is
// written rarely.
inline constexpr std::size_t kSendSize = 1 << 16;

// The child's side: builds each item in `item` and keeps whole items in
// `pending`; with a pipe (`fd` >= 0) they are written once they fill a
// block, and by send().
struct ScriptWriter {
  int fd = -1;
  std::string item;
  std::string pending;  // whole items not yet written to the pipe

  void begin(Step step) {
    item.clear();
    put_u8(static_cast<uint8_t>(step));
  }
  void put_u8(uint8_t value) { item.push_back(static_cast<char>(value)); }
  void put_raw(const void* data, std::size_t size) {
    item.append(static_cast<const char*>(data), size);
  }
  // The groups are made in a small array and appended at once.
  void put_u64(uint64_t value) {
    char groups[kMostGroups];
    item.append(groups, static_cast<std::size_t>(write_u64(groups, value) - groups));
  }
  void put_i64(int64_t value) { put_u64(folded(value)); }
  void put_text(std::string_view text) {
    put_u64(text.size());
    item.append(text);
  }
  // A list entry as put_text and put_u64 would put it, written at once into
  // room made for the most it can take: a stretch holds tens of thousands.
  void put_entry(const ListEntry& entry);
  // Times as put_u64 would put them one by one, written at once.
  void put_times(const std::vector<PackedTime>& times);
  // Ends the item: it joins `pending`, which is sent when it fills a block.
  void finish();
  // Writes what is pending to the pipe; a parent that went away ends the
  // child (_exit). Without a pipe, does nothing.
  void send();

  // The groups of a number take at most ten bytes, of a time five.
  static constexpr std::size_t kMostTimeGroups = 5;
  static constexpr std::size_t kMostGroups = 10;
  // Writes the groups of `value` at `out`; returns the end of them.
  static char* write_u64(char* out, uint64_t value) {
    while (value >= 0x80) {
      *out++ = static_cast<char>((value & 0x7F) | 0x80);
      value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
  }
  static uint64_t folded(int64_t value) {
    const uint64_t bits = static_cast<uint64_t>(value);
    return (bits << 1) ^ (value < 0 ? ~uint64_t{0} : 0);
  }
};

// The parent's side: reads one item's bytes.
struct ItemReader {
  std::string bytes;      // an item taken from the script, when it is read from here
  std::string_view data;  // the item being read
  std::size_t at = 0;

  // Reads `item`, which must outlive the reading.
  void start(std::string_view item) {
    data = item;
    at = 0;
  }
  void get_raw(void* out, std::size_t size);
  uint8_t get_u8() {
    uint8_t value = 0;
    get_raw(&value, sizeof value);
    return value;
  }
  uint64_t get_u64() {
    // Most numbers are a single group.
    if (at < data.size() && (static_cast<uint8_t>(data[at]) & 0x80) == 0) {
      return static_cast<uint8_t>(data[at++]);
    }
    return get_u64_groups();
  }
  uint64_t get_u64_groups();
  int64_t get_i64() {
    const uint64_t folded = get_u64();
    return static_cast<int64_t>((folded >> 1) ^ (~(folded & 1) + 1));
  }
  std::string get_text() { return std::string(get_view()); }
  // get_text into `out`, whose memory is reused.
  void get_text_into(std::string& out) { out.assign(get_view()); }
  // A text as it lies in the item being read.
  std::string_view get_view();
  bool at_end() const { return at == data.size(); }
};

// Lists: entries and counters; title and letters stay the reader's.
void put_list(ScriptWriter& writer, const CountedList& list);
void get_list(ItemReader& reader, CountedList& list);
// A list with the times of its entries' first requests, which come first so
// that the entries can be merged as they are read (see merge_counted_list).
void put_counted_list(ScriptWriter& writer, const CountedList& list);
void get_counted_list(ItemReader& reader, CountedList& list, std::vector<PackedTime>& first_times);
// The parts of a counted list, read one by one: its first times, then its
// counters (returning the number of entries that follow), then each entry
// in place, valid as long as the item.
void get_first_times(ItemReader& reader, std::vector<PackedTime>& first_times);
uint64_t skip_list_counters(ItemReader& reader);
void get_entry_view(ItemReader& reader, EntryView& entry);

// What a later mode's run needs of a stretch besides its lists: where it
// begins, the fields its first record shows when its time stamp stops the
// run, and the bytes of its requests (summed as the run sums them, and as
// magnitudes, to tell whether the sums are exact).
struct StretchHead {
  uint64_t first = 0;                 // records of the file before the stretch
  uint64_t records = 0;               // records in the stretch
  std::array<std::string, 5> fields;  // fields 1..4 of its first record
  long double bytes = 0;
  long double magnitude = 0;
  // The earliest calendar time (calendar_seconds) of its records: whether
  // all of them are late when its first one is.
  int64_t earliest = 0;
};

// A kStretch item: its place and head, the unknown agents' lists, the
// period lists (slots 1..kPeriodListSlots) as counted lists, and each new
// client's first request, in the order of the client list.
void put_stretch(ScriptWriter& writer, const StretchRef& ref, const StretchHead& head,
                 const std::vector<FirstRequest>& first_requests);
// Reads a kStretch item from its start up to its unknown agents.
StretchHead read_stretch_head(ItemReader& reader);
// Reads the place of a kStretch or kFileFacts item whose step was read.
StretchRef read_item_place(ItemReader& reader);
// A first request as put_stretch sent it, its texts into `entry`'s.
void get_first_request(ItemReader& reader, bool& is_page, EntryValues& entry);
// The kStretch item that `reader` reads (its step and place read already),
// with its first record counted `records_before` records later.
std::string stretch_moved_on(ItemReader& reader, const StretchRef& ref, uint64_t records_before);

// A period end as a mode child sends it: put_period_end puts this and then
// the period lists of the slots (1..kPeriodListSlots) as put_list does;
// read_period_end reads up to the lists, which the caller reads.
struct PeriodEndItem {
  PeriodEnd end;
  bool year_known = true;  // false: the parent's year text names the period
  int32_t record_number = 0;
  std::string log_path;
  long double period_bytes = 0;
};
void put_period_end(ScriptWriter& writer, const PeriodEndItem& item);
// Reads a kPeriodEnd item past its step, up to its lists.
PeriodEndItem read_period_end(ItemReader& reader);

// The end of a mode child's run: the state that later steps read. The
// unknown agents' lists of the slots (browsers, operating systems) follow as
// put_list puts them; read_mode_end reads up to them.
struct ModeEndItem {
  std::string year_text;  // empty: no record was read
  bool opened = false;    // a log file was opened: the two below hold
  int32_t record_number = 0;
  std::string log_path;
};
void put_mode_end(ScriptWriter& writer, const ModeEndItem& item);
ModeEndItem read_mode_end(ItemReader& reader);

// How a child's run was ended: kStop, kOutOfMemory or kFailure.
void put_stop(ScriptWriter& writer, const RunStop& stop);
RunStop read_stop(ItemReader& reader);

// What a counting child saw of a piece beyond its stretches, noted event by
// event as they come: each with the records of the piece read before it.
struct FactsRecorder {
  ScriptWriter facts;  // its item holds the events
  uint64_t count = 0;

  void console(FileEvent event, uint64_t before, std::string_view text);
  void entry(FileEvent event, uint64_t before, std::string_view source, std::string_view text);
  void malformed(uint64_t before, std::string_view source, const MalformedLine& line);
  void clear() {
    facts.item.clear();
    count = 0;
  }
};
// A kFileFacts item of piece `piece` of file `file`: its records and lines
// and the events noted.
void put_piece_facts(ScriptWriter& writer, uint64_t file, uint64_t piece, uint64_t records,
                     uint64_t lines, const FactsRecorder& recorded);

// One event of a file's facts.
struct FactEvent {
  FileEvent event = FileEvent::kReadConsole;
  uint64_t before = 0;  // records of the file read before it
  // In the bytes of the facts item, which outlive the event.
  std::string_view source;
  std::string_view text;    // console text, entry text, or the unknown method
  MalformedLine malformed;  // kMalformedLine, its line counted in the file
};

// The counts of a kFileFacts item: the reader is left at its first event.
struct PieceCounts {
  uint64_t records = 0;
  uint64_t lines = 0;
  uint64_t events = 0;
};
PieceCounts start_piece_facts(ItemReader& reader, std::string_view item);
// The next event, its records and lines counted after `records_before`
// records and `lines_before` lines of the pieces before.
FactEvent read_fact_event(ItemReader& reader, uint64_t records_before, uint64_t lines_before);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_SCRIPT_FORMAT_H_
