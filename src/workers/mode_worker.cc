#include "workers/mode_worker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/heap_growth.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "hosts/host_cache.h"
#include "logs/log_reader.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"

// Writes the counts of a build made with -fprofile-generate (see
// scripts/build_optimized.sh); in any other build it is not there.
extern "C" void __gcov_dump() __attribute__((weak));

namespace sorvik {

namespace {

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
bool is_reading_event(FileEvent event) {
  return event == FileEvent::kReadConsole || event == FileEvent::kReadEntry ||
         event == FileEvent::kMalformedLine;
}

using Role = WorkerRole;

// A counting child gives up on a piece of a file with more stretches than
// this; a weekly file has one or two (three at a year's end). The stretches
// of piece p of a file are numbered from p times this.
constexpr uint64_t kStretchesPerFile = 32;

// Items are sent in blocks of at least this size, so that the pipe is
// written rarely.
constexpr std::size_t kSendSize = 1 << 16;
// What a child's pipe to the analyzer holds (the most an unprivileged
// process may ask for by default).
constexpr int kPipeSize = 1 << 20;

// The child's side: builds each item in `item` and sends whole items. An
// item is its length (8 bytes) and then its bytes.
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
  // Numbers go as 7-bit groups, lowest first, with the top bit set on all
  // but the last: held periods are mostly small counters and short keys.
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
  void put_entry(const ListEntry& entry) {
    const std::size_t start = item.size();
    item.resize(start + entry.key.size() + entry.extra.size() + 6 * kMostGroups);
    char* out = item.data() + start;
    for (const ListText* text : {&entry.key, &entry.extra}) {
      out = write_u64(out, text->size());
      std::memcpy(out, text->data(), text->size());
      out += text->size();
    }
    out = write_u64(out, entry.hits);
    out = write_u64(out, entry.time);
    out = write_u64(out, entry.visits);
    out = write_u64(out, folded(entry.kbytes));
    item.resize(static_cast<std::size_t>(out - item.data()));
  }
  // Times as put_u64 would put them one by one, written at once.
  void put_times(const std::vector<PackedTime>& times) {
    const std::size_t start = item.size();
    item.resize(start + times.size() * kMostTimeGroups);
    char* out = item.data() + start;
    for (const PackedTime time : times) out = write_u64(out, time);
    item.resize(static_cast<std::size_t>(out - item.data()));
  }
  void finish() {
    const uint64_t size = item.size();
    pending.append(reinterpret_cast<const char*>(&size), sizeof size);
    pending.append(item);
    if (pending.size() >= kSendSize) send();
  }
  // Writes what is pending; a parent that went away ends the child.
  void send() {
    std::size_t done = 0;
    while (done < pending.size()) {
      const ssize_t wrote = write(fd, pending.data() + done, pending.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) _exit(1);
      done += static_cast<std::size_t>(wrote);
    }
    pending.clear();
  }

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
  // Signed numbers are folded so that small negative ones stay short.
  static uint64_t folded(int64_t value) {
    const uint64_t bits = static_cast<uint64_t>(value);
    return (bits << 1) ^ (value < 0 ? ~uint64_t{0} : 0);
  }
};

void put_list(ScriptWriter& writer, const CountedList& list) {
  writer.put_i64(list.count);
  writer.put_u64(list.total_hits);
  writer.put_i64(list.total_kbytes);
  writer.put_u64(list.total_visits);
  writer.put_u8(list.sort_key);
  writer.put_u8(static_cast<uint8_t>(list.sort_letter));
  writer.put_u64(list.entries.size());
  for (const ListEntry& entry : list.entries) writer.put_entry(entry);
}

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
  // all of them are late when its first one is (see late_stretches_whole).
  int64_t earliest = 0;
};

// A list with the times of its entries' first requests, which come first so
// that the entries can be merged as they are read.
void put_counted_list(ScriptWriter& writer, const CountedList& list) {
  writer.put_u64(list.first_times.size());
  writer.put_times(list.first_times);
  put_list(writer, list);
}

// A stretch's head and lists with what merging them needs beyond the lists:
// the time of each entry's first request and each new client's first
// request. The unknown agents come first, then the period lists.
void put_stretch(ScriptWriter& writer, const StretchRef& ref, const StretchHead& head) {
  writer.begin(Step::kStretch);
  writer.put_u64(ref.first);
  writer.put_u64(ref.second);
  writer.put_u64(head.first);
  writer.put_u64(head.records);
  for (int i = 1; i <= 4; ++i) writer.put_text(head.fields[i]);
  writer.put_raw(&head.bytes, sizeof head.bytes);
  writer.put_raw(&head.magnitude, sizeof head.magnitude);
  writer.put_i64(head.earliest);
  put_counted_list(writer, lists.list_slots[kUnknownBrowsers]);
  put_counted_list(writer, lists.list_slots[kUnknownOpsys]);
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    put_counted_list(writer, lists.list_slots[slot]);
  }
  writer.put_u64(analysis.first_requests.size());
  for (const FirstRequest& first : analysis.first_requests) {
    writer.put_u8(first.is_page ? 1 : 0);
    writer.put_text(first.path);
    writer.put_i64(first.kbytes);
    writer.put_u64(first.time);
  }
  writer.finish();
}

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
  void get_raw(void* out, std::size_t size) {
    if (data.size() - at < size) throw std::runtime_error("a run mode's script is cut short");
    std::memcpy(out, data.data() + at, size);
    at += size;
  }
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
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const uint8_t byte = get_u8();
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    throw std::runtime_error("a run mode's script holds a bad number");
  }
  int64_t get_i64() {
    const uint64_t folded = get_u64();
    return static_cast<int64_t>((folded >> 1) ^ (~(folded & 1) + 1));
  }
  std::string get_text() {
    std::string text;
    get_text_into(text);
    return text;
  }
  // get_text into `out`, whose memory is reused.
  void get_text_into(std::string& out) { out.assign(get_view()); }
  // A text as it lies in the item being read.
  std::string_view get_view() {
    const uint64_t size = get_u64();
    if (data.size() - at < size) throw std::runtime_error("a run mode's script is cut short");
    const std::string_view text = data.substr(at, size);
    at += size;
    return text;
  }
};

// One entry as put_list sent it, read in place.
void get_entry_view(ItemReader& reader, EntryView& entry) {
  entry.key = reader.get_view();
  entry.extra = reader.get_view();
  entry.hits = reader.get_u64();
  entry.time = static_cast<PackedTime>(reader.get_u64());
  entry.visits = reader.get_u64();
  entry.kbytes = reader.get_i64();
}

// The same into `entry` of a list, whose long texts take their bytes from
// the list's arena `texts`.
void get_entry(ItemReader& reader, ListEntry& entry, TextArena* texts) {
  EntryView view;
  get_entry_view(reader, view);
  assign_entry(entry, view, texts);
}

// The first-request times that put_counted_list sends before its list.
void get_first_times(ItemReader& reader, std::vector<PackedTime>& first_times) {
  first_times.resize(reader.get_u64());
  for (PackedTime& time : first_times) time = static_cast<PackedTime>(reader.get_u64());
}

// A list as the child counted it: entries and counters; title and letters
// stay the parent's.
void get_list(ItemReader& reader, CountedList& list) {
  list.count = static_cast<int32_t>(reader.get_i64());
  list.total_hits = reader.get_u64();
  list.total_kbytes = reader.get_i64();
  list.total_visits = reader.get_u64();
  list.sort_key = reader.get_u8();
  list.sort_letter = static_cast<char>(reader.get_u8());
  const uint64_t size = reader.get_u64();
  list.entries.clear();
  list.entries.reserve(size);
  for (uint64_t i = 0; i < size; ++i) {
    get_entry(reader, list_new_entry(list), list.texts.arena.get());
  }
  // The index is made again from the entries when it is first needed.
  list.index = KeyIndex{};
  list.index.valid = list.entries.empty();
}

// A list and the times of its entries' first requests, as put_counted_list sent them.
void get_counted_list(ItemReader& reader, CountedList& list, std::vector<PackedTime>& first_times) {
  get_first_times(reader, first_times);
  get_list(reader, list);
}

// Entries of a sent list are merged this many entries after their index
// buckets are asked for, and half as many after their entries: the entries
// of a large list are found in an order of their own, so each would wait
// for the memory otherwise.
constexpr std::size_t kMergeAhead = 8;
constexpr uint64_t kMergeBlock = 4096;

// Merges the next list that put_counted_list sent into `list` (skips it when
// `list` is nullptr); `is_new` tells for each entry whether it was new to
// `list`. The entries are read in place into `read`, their hashes into
// `hashes`; only new ones are copied: a period's later stretches mostly
// repeat the keys of the first.
void merge_counted_list(ItemReader& reader, CountedList* list, std::vector<PackedTime>& first_times,
                        std::vector<bool>& is_new, std::vector<EntryView>& read,
                        std::vector<uint32_t>& hashes) {
  get_first_times(reader, first_times);
  reader.get_i64();  // the counters, which the merge makes again
  reader.get_u64();
  reader.get_i64();
  reader.get_u64();
  reader.get_u8();
  reader.get_u8();
  const uint64_t size = reader.get_u64();
  // Into an empty list every entry is new (a child's list holds no key
  // twice): the entries are appended as they are, without a lookup.
  const bool fresh = list != nullptr && list->entries.empty();
  is_new.assign(size, fresh);
  if (fresh) list->entries.reserve(size);
  // The entries are read a block at a time, so that the memory for them
  // stays small whatever the list's length.
  for (uint64_t start = 0; start < size; start += kMergeBlock) {
    const std::size_t block = static_cast<std::size_t>(std::min(kMergeBlock, size - start));
    read.resize(block);
    for (EntryView& entry : read) get_entry_view(reader, entry);
    if (list == nullptr) continue;
    if (fresh) {
      for (std::size_t i = 0; i < block; ++i) {
        const uint64_t at = start + i;
        list_append_view(*list, read[i], at < first_times.size() ? first_times[at] : read[i].time);
      }
      continue;
    }
    hashes.resize(block);
    for (std::size_t i = 0; i < block; ++i) hashes[i] = list_key_hash(read[i].key);
    for (std::size_t i = 0; i < block; ++i) {
      if (i + kMergeAhead < block) list_prefetch_bucket(*list, hashes[i + kMergeAhead]);
      if (i + kMergeAhead / 2 < block) list_prefetch_entry(*list, hashes[i + kMergeAhead / 2]);
      const uint64_t at = start + i;
      const PackedTime first = at < first_times.size() ? first_times[at] : read[i].time;
      is_new[at] = list_merge_view(*list, read[i], first, hashes[i]);
    }
  }
}

// Reads a stored stretch up to its unknown agents.
StretchHead read_stretch_head(ItemReader& reader) {
  StretchHead head;
  reader.get_u8();  // the step and the stretch's place, known already
  reader.get_u64();
  reader.get_u64();
  head.first = reader.get_u64();
  head.records = reader.get_u64();
  for (int i = 1; i <= 4; ++i) head.fields[i] = reader.get_text();
  reader.get_raw(&head.bytes, sizeof head.bytes);
  reader.get_raw(&head.magnitude, sizeof head.magnitude);
  head.earliest = reader.get_i64();
  return head;
}

// A failed read of the spill file.
struct SpillReadError {
  int error_number = 0;
};

// Keeps a stretch's item in the store: its lists in memory while the store
// holds less than analysis.stretch_memory bytes of lists, else in the spill
// file (or in memory all the same when the file cannot take them).
void keep_stretch(StretchStore& store, const StretchRef& ref, std::string item) {
  ItemReader reader;
  reader.start(item);
  read_stretch_head(reader);
  std::vector<PackedTime> first_times;
  std::vector<bool> is_new;
  std::vector<EntryView> read;
  std::vector<uint32_t> hashes;
  for (int list = 0; list < 2; ++list) {
    merge_counted_list(reader, nullptr, first_times, is_new, read, hashes);
  }
  StoredStretch& stored = store.stretches[ref];
  if (!stored.lists_spilled) store.lists_held -= stored.size - stored.lists_at;
  stored = StoredStretch{};
  stored.size = item.size();
  stored.lists_at = reader.at;
  const std::string_view lists = std::string_view(item).substr(reader.at);
  if (store.lists_held + lists.size() > analysis.stretch_memory &&
      spill_bytes(store.spill, lists, stored.spilled)) {
    stored.lists_spilled = true;
    item.resize(reader.at);
    item.shrink_to_fit();
  } else {
    store.lists_held += lists.size();
  }
  stored.item = std::move(item);
}

// The lists of a stored stretch, read back into `spilled` when they are in
// the spill file. Throws SpillReadError.
std::string_view stretch_lists(const StretchStore& store, const StoredStretch& stored,
                               std::string& spilled) {
  if (!stored.lists_spilled) return std::string_view(stored.item).substr(stored.lists_at);
  if (const int error = read_spilled(store.spill, stored.spilled, spilled); error != 0) {
    throw SpillReadError{error};
  }
  return spilled;
}

// Whether a child that counts while `at_once` children do (itself among
// them) reads its files on a thread of its own: only when the machine has a
// core to spare for that thread.
bool child_reading_thread(std::size_t at_once) {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 || cores > at_once;
}

// Lets the worker's child begin. A child that is gone must not end the
// parent with SIGPIPE: its run ends in its turn as a script cut short.
void release(ModeWorker& worker) {
  if (worker.start_fd < 0) return;
  const char go = 1;
  while (send(worker.start_fd, &go, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
  close(worker.start_fd);
  worker.start_fd = -1;
}

// Runs `body`, which ends with the child's kEnd item, and sends instead how
// it was ended if it was (a stop, no memory, a failure); then the child ends.
[[noreturn]] void end_child(ScriptWriter& writer, const std::function<void()>& body) {
  try {
    body();
  } catch (const RunStop& stop) {
    writer.begin(Step::kStop);
    writer.put_i64(stop.exit_status);
    writer.put_u8(stop.wait_for_key ? 1 : 0);
    writer.put_text(stop.console_line);
    writer.finish();
  } catch (const std::bad_alloc&) {
    writer.begin(Step::kOutOfMemory);
    writer.finish();
  } catch (const std::exception& failure) {
    writer.begin(Step::kFailure);
    writer.put_text(failure.what());
    writer.finish();
  }
  writer.send();
  // _exit skips the exit handlers, among them the one that writes a
  // profiling build's counts: the counting code runs in children only.
  if (__gcov_dump != nullptr) __gcov_dump();
  _exit(0);
}

}  // namespace

bool piece_still_cut(const CountedPiece& piece) {
  if (piece.bytes.whole()) return true;
  const std::string path = cut_text(settings.log_dir + analysis.log_files[piece.file]);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const auto line_feed_before = [fd](uint64_t at) {
    char byte = 0;
    return pread(fd, &byte, 1, static_cast<off_t>(at - 1)) == 1 && byte == '\n';
  };
  const bool cut = (piece.bytes.begin == 0 || line_feed_before(piece.bytes.begin)) &&
                   (piece.bytes.end == LogPiece::kToEnd || line_feed_before(piece.bytes.end));
  close(fd);
  return cut;
}

namespace {

// Counting child number `number`: takes the pieces of the files one after
// the other as FileClaims has it, reads each as the weeks run reads a file
// and sends each stretch's lists and then the piece's facts. It shows
// nothing itself; the facts keep what the modes show of a file besides the
// stretches: the console text and error-log entries of the reading and of
// the parsing, each with the records of the piece read before it (the
// parsing's belong to the record just read). The parent numbers the records
// and lines of a piece after those of the pieces before it.
[[noreturn]] void run_counting_child(const StretchStore& store, int number, int fd) {
  ScriptWriter writer;
  writer.fd = fd;
  ScriptWriter facts;  // its item holds the current piece's facts
  uint64_t fact_count = 0;
  uint64_t file_records = 0;
  uint64_t piece_number = 0;
  const auto note_fact = [&facts, &fact_count, &file_records](FileEvent event) {
    facts.put_u8(static_cast<uint8_t>(event));
    facts.put_u64(file_records);
    fact_count += 1;
  };
  console.sink = [&facts, &note_fact](std::string_view text) {
    if (analysis.phase == RecordPhase::kOther) return;
    note_fact(analysis.phase == RecordPhase::kReading ? FileEvent::kReadConsole
                                                      : FileEvent::kParseConsole);
    facts.put_text(text);
  };
  console.key_source = [] { return -1; };
  error_log.divert = [&facts, &note_fact](std::string_view source, std::string_view text) {
    if (analysis.phase == RecordPhase::kOther) return;
    // The parsing's only entry that does not stop the run is the unknown
    // method's, whose line number each mode gives its own way.
    const bool reading = analysis.phase == RecordPhase::kReading;
    note_fact(reading ? FileEvent::kReadEntry : FileEvent::kUnknownCommand);
    facts.put_text(source);
    facts.put_text(reading ? text : std::string_view(analysis.request.method));
  };
  analysis.held_malformed_line = [&facts, &note_fact](const MalformedLine& malformed) {
    note_fact(FileEvent::kMalformedLine);
    facts.put_text(analysis.current_log_path);
    facts.put_u64(static_cast<uint64_t>(malformed.line));
    facts.put_u64(static_cast<uint64_t>(malformed.fields));
    facts.put_u8(static_cast<uint8_t>(malformed.misfit));
  };

  // The stretch whose counts the lists hold.
  StretchRef ref;
  StretchHead head;
  bool counting_stretch = false;
  const auto send_stretch = [&writer, &ref, &head, &counting_stretch] {
    if (!counting_stretch) return;
    if (analysis.path_lists_owed) make_path_lists();
    if (analysis.directories_owed) make_directory_list();
    if (analysis.agents_owed) make_agent_lists();
    if (analysis.client_pages_owed) give_client_pages();
    put_stretch(writer, ref, head);
    empty_period_lists();
    analysis.first_requests.clear();
    list_clear(kUnknownBrowsers);
    list_clear(kUnknownOpsys);
    analysis.path_lists_owed = true;
    analysis.directories_owed = true;
    analysis.agents_owed = true;
    counting_stretch = false;
  };
  analysis.before_count = [&writer, &ref, &head, &file_records, &piece_number, &counting_stretch,
                           &send_stretch] {
    const auto stretch = static_cast<uint64_t>(analysis.stretch);
    const StretchRef now{analysis.file_index, piece_number * kStretchesPerFile + stretch};
    if (!counting_stretch || now != ref) {
      send_stretch();
      // A file whose month goes back and forth (an unsorted or a hostile
      // log) would leave the analyzer more stretches than it should keep:
      // the child ends, and the run reads the file itself.
      if (stretch >= kStretchesPerFile) {
        writer.send();
        _exit(0);
      }
      ref = now;
      head = StretchHead{};
      head.first = file_records;
      for (int i = 1; i <= 4; ++i) head.fields[i].assign(analysis.record.field[i]);
      head.earliest = analysis.request.seconds;
    }
    head.earliest = std::min(head.earliest, analysis.request.seconds);
    head.records += 1;
    file_records += 1;
    const long double bytes = static_cast<long double>(analysis.request.size);
    head.bytes += bytes;
    head.magnitude += bytes < 0 ? -bytes : bytes;
    counting_stretch = true;
    return true;
  };
  // A week is one file: the facts of a piece are complete at its end.
  analysis.held_period_end = [&writer, &send_stretch, &facts, &fact_count, &file_records,
                              &piece_number](const PeriodEnd&) {
    send_stretch();
    writer.begin(Step::kFileFacts);
    writer.put_u64(analysis.file_index);
    writer.put_u64(piece_number);
    writer.put_u64(file_records);
    writer.put_u64(static_cast<uint64_t>(log_lines_read()));
    writer.put_u64(fact_count);
    writer.put_raw(facts.item.data(), facts.item.size());
    writer.finish();
    facts.item.clear();
    fact_count = 0;
    file_records = 0;
    analysis.period_bytes = 0;
  };
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    lists.list_slots[slot].keep_first_times = true;
  }
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    list_clear(slot);
    lists.list_slots[slot].keep_first_times = true;
  }
  analysis.keep_first_requests = true;
  analysis.path_lists_owed = true;
  analysis.directories_owed = true;
  analysis.reader_options.directory_hints = false;
  analysis.agents_owed = true;
  analysis.stretch_agents.keep_first_times = true;
  analysis.client_pages_owed = true;
  analysis.client_pages.clear();
  analysis.current_log_path.clear();

  end_child(writer, [&writer, &store, number, &piece_number] {
    FileClaims& claims = *store.claims;
    for (;;) {
      const uint32_t i = claims.next.fetch_add(1);
      if (i >= claims.pieces) break;
      claims.taker[i].store(number);
      const CountedPiece& piece = claims.piece[i];
      // A file changed since it was cut is left to the weeks run, which
      // reads it whole, as it does the files after it.
      if (!piece_still_cut(piece)) {
        writer.send();
        _exit(0);
      }
      piece_number = piece.number;
      read_week_file(piece.file, piece.bytes);
    }
    writer.begin(Step::kEnd);
    writer.finish();
  });
}

// The run of `mode` in the child, with every visible step sent to the parent.
// A child with a start descriptor first waits until the parent lets it begin;
// the end of the pipe without a byte means the parent is gone.
[[noreturn]] void run_mode_child(int mode, int fd, int start_fd) {
  if (start_fd >= 0) {
    char go = 0;
    ssize_t got = 0;
    while ((got = read(start_fd, &go, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1) _exit(1);
    close(start_fd);
  }
  ScriptWriter writer;
  writer.fd = fd;
  console.sink = [&writer](std::string_view text) {
    writer.begin(Step::kConsole);
    writer.put_text(text);
    writer.finish();
  };
  console.key_source = [] { return -1; };
  error_log.divert = [&writer](std::string_view source, std::string_view text) {
    writer.begin(Step::kErrorEntry);
    writer.put_text(source);
    writer.put_text(text);
    writer.finish();
  };
  analysis.held_dns_check = [&writer] {
    writer.begin(Step::kDnsCheck);
    writer.finish();
  };
  // The months and years runs begin with the year text the runs before
  // them leave, which the parent knows only when their turn comes. A year
  // text is never empty once a record was read, so an empty one tells the
  // parent to use its own. The weeks run comes first and begins with the
  // year text the child was given.
  const bool inherits_year = mode != kModeWeeks;
  if (inherits_year) analysis.year_text.clear();
  analysis.current_log_path.clear();
  analysis.held_period_end = [&writer, inherits_year](const PeriodEnd& end) {
    writer.begin(Step::kPeriodEnd);
    writer.put_i64(end.mode);
    writer.put_text(end.period);
    writer.put_u8(end.complete ? 1 : 0);
    writer.put_text(end.log);
    writer.put_text(end.number);
    writer.put_text(end.year);
    writer.put_u8(inherits_year && analysis.year_text.empty() ? 0 : 1);
    writer.put_i64(analysis.record_number);
    writer.put_text(analysis.current_log_path);
    writer.put_raw(&analysis.period_bytes, sizeof analysis.period_bytes);
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) put_list(writer, lists.list_slots[slot]);
    writer.finish();
    // What the period's reports leave behind for the next period.
    clear_period_lists();
    analysis.period_bytes = 0;
  };
  // Only this mode's unknown agents are sent; the parent adds them to its own.
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);

  end_child(writer, [&writer, mode] {
    run_mode(mode);
    writer.begin(Step::kEnd);
    writer.put_text(analysis.year_text);
    writer.put_u8(analysis.current_log_path.empty() ? 0 : 1);
    writer.put_i64(analysis.record_number);
    writer.put_text(analysis.current_log_path);
    put_list(writer, lists.list_slots[kUnknownBrowsers]);
    put_list(writer, lists.list_slots[kUnknownOpsys]);
    writer.finish();
  });
}

void drain_pipe(ModeWorker* worker) {
  std::vector<char> chunk(kSendSize);
  for (;;) {
    const ssize_t got = read(worker->fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    const std::lock_guard<std::mutex> lock(worker->mutex);
    if (got <= 0) {
      if (got < 0) worker->read_error = errno;
      worker->finished = true;
      worker->arrived.notify_all();
      if (worker->next != nullptr) release(*worker->next);
      return;
    }
    worker->script.emplace_back(chunk.data(), static_cast<std::size_t>(got));
    worker->script_size += static_cast<std::size_t>(got);
    worker->arrived.notify_all();
  }
}

// Moves the next `size` received bytes to `out`, freeing the blocks they
// came in; the caller holds the lock and knows that they have arrived.
void take_script_bytes(ModeWorker& worker, char* out, std::size_t size) {
  while (size > 0) {
    const std::string& block = worker.script.front();
    const std::size_t part = std::min(size, block.size() - worker.script_head);
    std::memcpy(out, block.data() + worker.script_head, part);
    out += part;
    size -= part;
    worker.script_size -= part;
    worker.script_head += part;
    if (worker.script_head == block.size()) {
      worker.script.pop_front();
      worker.script_head = 0;
    }
  }
}

// The next item of the script into `reader`; false when the script ended.
bool next_item(ModeWorker& worker, ItemReader& reader) {
  std::unique_lock<std::mutex> lock(worker.mutex);
  uint64_t size = 0;
  worker.arrived.wait(lock, [&] { return worker.script_size >= sizeof size || worker.finished; });
  if (worker.script_size < sizeof size) return false;
  take_script_bytes(worker, reinterpret_cast<char*>(&size), sizeof size);
  worker.arrived.wait(lock, [&] { return worker.script_size >= size || worker.finished; });
  if (worker.script_size < size) return false;
  reader.bytes.resize(size);
  take_script_bytes(worker, reader.bytes.data(), size);
  reader.start(reader.bytes);
  return true;
}

// Adds the unknown agents the child counted to the parent's list, each with
// the child's totals, in the child's order. These lists are written only as
// agent texts by hits, which this keeps exact.
void add_unknown_agents(int slot, const CountedList& counted) {
  const EntryValues staged = lists.current_entry;
  for (const ListEntry& entry : counted.entries) {
    assign_entry(lists.current_entry, entry);
    list_add(slot);
  }
  lists.current_entry = staged;
}

// Puts a period's counted lists into the list slots; titles and letters stay.
void install_list(int slot, CountedList&& counted) {
  CountedList& list = lists.list_slots[slot];
  list.entries = std::move(counted.entries);
  // The entries' texts lie in the merged list's arena, which goes with them.
  list.texts = std::move(counted.texts);
  list.count = counted.count;
  list.total_hits = counted.total_hits;
  list.total_kbytes = counted.total_kbytes;
  list.total_visits = counted.total_visits;
  list.sort_key = counted.sort_key;
  list.sort_letter = counted.sort_letter;
  list.index = KeyIndex{};
  list.index.valid = list.entries.empty();
}

// The lists of one period merged from the stretches `refs` of the store, in
// order. A client new to the period whose first request was a page makes
// the entry page, as counting the requests one by one does. Reads nothing
// but the stored items, so that it can run beside the analyzer.
std::unique_ptr<PeriodLists> merged_lists(const StretchStore& store,
                                          const std::vector<StretchRef>& refs) {
  auto made = std::make_unique<PeriodLists>();
  PeriodLists& merged = *made;
  std::vector<bool> is_new;
  std::vector<bool> new_clients;
  std::vector<PackedTime> first_times;
  std::vector<EntryView> read;   // entries of one list, read in place
  std::vector<uint32_t> hashes;  // their hashes
  EntryValues entry;             // each first request read, its texts' memory reused
  std::string spilled;           // lists read back from the spill file
  for (const StretchRef& ref : refs) {
    const auto found = store.stretches.find(ref);
    if (found == store.stretches.end()) {
      throw std::runtime_error("a stretch counted by the weeks run is missing");
    }
    // The unknown agents, which come before the lists, are taken elsewhere.
    ItemReader reader;
    reader.start(stretch_lists(store, found->second, spilled));
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      merge_counted_list(reader, slot == kEntryPages ? nullptr : &merged[slot], first_times, is_new,
                         read, hashes);
      if (slot == kClients) new_clients = is_new;
    }
    const uint64_t clients = reader.get_u64();
    for (uint64_t i = 0; i < clients; ++i) {
      const bool is_page = reader.get_u8() != 0;
      reader.get_text_into(entry.key);
      entry.extra.clear();
      entry.kbytes = reader.get_i64();
      entry.time = static_cast<PackedTime>(reader.get_u64());
      entry.hits = 1;
      entry.visits = 1;
      if (is_page && i < new_clients.size() && new_clients[i]) {
        list_merge_entry(merged[kEntryPages], entry, entry.time);
      }
    }
  }
  for (CountedList& list : merged) {
    // Entries were appended one by one, so a list may hold up to twice the
    // memory it needs for the whole time its reports are written. The index
    // goes as well: the slots make it again when they need it.
    list.entries.shrink_to_fit();
    list.index = KeyIndex{};
    list.index.valid = list.entries.empty();
  }
  return made;
}

// The bytes of the stretches `refs` as they were sent.
std::size_t stretch_bytes(const StretchStore& store, const std::vector<StretchRef>& refs) {
  std::size_t bytes = 0;
  for (const StretchRef& ref : refs) bytes += store.stretches.at(ref).size;
  return bytes;
}

// Merges the planned periods one after the other, each once the one before
// it has been taken.
void merge_periods_ahead(const StretchStore& store, MergeAhead& ahead) {
  std::unique_lock<std::mutex> lock(ahead.mutex);
  for (;;) {
    ahead.changed.wait(lock, [&] {
      return ahead.stopping ||
             (!ahead.planned.empty() && ahead.merged_refs.empty() &&
              !(ahead.writing_reports &&
                stretch_bytes(store, ahead.planned.front()) > ahead.beside_writing));
    });
    if (ahead.stopping) return;
    std::vector<StretchRef> refs = std::move(ahead.planned.front());
    ahead.planned.pop_front();
    ahead.merging = true;
    lock.unlock();
    std::unique_ptr<PeriodLists> merged;
    try {
      merged = merged_lists(store, refs);
    } catch (...) {
      // The period is merged again when it ends, where a failure ends the
      // run as it always did.
      merged.reset();
    }
    lock.lock();
    ahead.merging = false;
    ahead.merged_refs = std::move(refs);
    ahead.merged = std::move(merged);
    ahead.changed.notify_all();
  }
}

// The lists merged ahead for the period of the stretches `refs`, or nullptr.
// A period other than the one merged means the plan went wrong: it is
// dropped, and every later period is merged when it ends.
std::unique_ptr<PeriodLists> take_merged_ahead(const StretchStore& store,
                                               const std::vector<StretchRef>& refs) {
  if (!store.merge_ahead || refs.empty()) return nullptr;
  MergeAhead& ahead = *store.merge_ahead;
  std::unique_lock<std::mutex> lock(ahead.mutex);
  ahead.changed.wait(lock, [&] {
    return !ahead.merging && (!ahead.merged_refs.empty() || ahead.planned.empty());
  });
  std::unique_ptr<PeriodLists> merged;
  if (ahead.merged_refs == refs) {
    merged = std::move(ahead.merged);
  } else {
    ahead.planned.clear();
    ahead.merged.reset();
  }
  ahead.merged_refs.clear();
  ahead.changed.notify_all();
  return merged;
}

// Puts the lists of the period of the stretches `refs` into the slots:
// those merged ahead for it, or else merged now. Only the periods of the
// later modes are ever merged ahead, so a weeks period (`ahead` false) is
// always merged now and leaves the plan alone.
void merge_stretches(const StretchStore& store, const std::vector<StretchRef>& refs, bool ahead) {
  std::unique_ptr<PeriodLists> merged = ahead ? take_merged_ahead(store, refs) : nullptr;
  try {
    if (!merged) merged = merged_lists(store, refs);
  } catch (const SpillReadError& failure) {
    stop_on_io_error("read", store.spill.path, failure.error_number);
  }
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    install_list(slot, std::move((*merged)[slot]));
  }
}

// Tells the merging thread, while it lives, that the analyzer writes a
// period's reports (see MergeAhead).
struct WritingReports {
  MergeAhead* ahead;
  explicit WritingReports(const StretchStore& store) : ahead(store.merge_ahead.get()) {
    if (ahead == nullptr) return;
    const std::lock_guard<std::mutex> lock(ahead->mutex);
    ahead->writing_reports = true;
  }
  ~WritingReports() {
    if (ahead == nullptr) return;
    {
      const std::lock_guard<std::mutex> lock(ahead->mutex);
      ahead->writing_reports = false;
    }
    ahead->changed.notify_all();
  }
  WritingReports(const WritingReports&) = delete;
  WritingReports& operator=(const WritingReports&) = delete;
};

// A period end as the script holds it, up to its lists, which follow.
struct PeriodEndItem {
  PeriodEnd end;
  bool year_known = true;
  int32_t record_number = 0;
  std::string log_path;
  long double period_bytes = 0;
};

PeriodEndItem read_period_end(ItemReader& reader) {
  PeriodEndItem item;
  PeriodEnd& end = item.end;
  end.mode = static_cast<int>(reader.get_i64());
  end.period = reader.get_text();
  end.complete = reader.get_u8() != 0;
  end.log = reader.get_text();
  end.number = reader.get_text();
  end.year = reader.get_text();
  item.year_known = reader.get_u8() != 0;
  item.record_number = static_cast<int32_t>(reader.get_i64());
  item.log_path = reader.get_text();
  reader.get_raw(&item.period_bytes, sizeof item.period_bytes);
  return item;
}

void play_period_end(ItemReader& reader) {
  PeriodEndItem item = read_period_end(reader);
  PeriodEnd& end = item.end;
  if (!item.year_known) {
    end.year = analysis.year_text;
    end.period = period_name(end.mode, end.year, end.number);
  }
  analysis.record_number = item.record_number;
  analysis.current_log_path = item.log_path;
  analysis.period_bytes = item.period_bytes;
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) get_list(reader, lists.list_slots[slot]);
  record_result(end.mode, end.period, end.complete, end.log);
  flush_period(end.period, end.number, end.year, end.mode);
}

void play_end(ItemReader& reader) {
  const std::string year = reader.get_text();
  if (!year.empty()) analysis.year_text = year;
  const bool opened = reader.get_u8() != 0;
  const int32_t record_number = static_cast<int32_t>(reader.get_i64());
  std::string path = reader.get_text();
  if (opened) {
    analysis.record_number = record_number;
    analysis.current_log_path = std::move(path);
  }
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    CountedList counted;
    get_list(reader, counted);
    add_unknown_agents(slot, counted);
  }
}

// One event of a file's facts.
struct FactEvent {
  FileEvent event = FileEvent::kReadConsole;
  uint64_t before = 0;  // records of the file read before it
  // In the store's bytes of the file's facts, which outlive the reading.
  std::string_view source;
  std::string_view text;    // console text, entry text, or the unknown method
  MalformedLine malformed;  // kMalformedLine, its line counted in the file
};

struct FileFacts {
  uint64_t records = 0;
  uint64_t lines = 0;
  std::vector<FactEvent> events;
};

// Starts reading the facts of a piece at its record count, past the item's
// step, the file's index and the piece's number, which are known already.
void start_piece_facts(ItemReader& reader, const std::string& item) {
  reader.start(item);
  reader.get_u8();
  reader.get_u64();
  reader.get_u64();
}

// The facts of a file from those of its pieces: the records and lines of
// each piece follow those of the pieces before it.
FileFacts read_file_facts(const StretchStore& store, uint64_t file) {
  FileFacts facts;
  const auto first = store.files.lower_bound({file, 0});
  const auto last = store.files.lower_bound({file + 1, 0});
  if (first == last) throw std::runtime_error("a file read by the weeks run has no facts");
  for (auto piece = first; piece != last; ++piece) {
    ItemReader reader;
    start_piece_facts(reader, piece->second);
    const uint64_t records_before = facts.records;
    const uint64_t lines_before = facts.lines;
    facts.records += reader.get_u64();
    facts.lines += reader.get_u64();
    const uint64_t count = reader.get_u64();
    facts.events.reserve(facts.events.size() + std::min<uint64_t>(count, reader.data.size()));
    for (uint64_t i = 0; i < count; ++i) {
      FactEvent& event = facts.events.emplace_back();
      event.event = static_cast<FileEvent>(reader.get_u8());
      event.before = records_before + reader.get_u64();
      if (event.event != FileEvent::kReadConsole && event.event != FileEvent::kParseConsole) {
        event.source = reader.get_view();
      }
      if (event.event == FileEvent::kMalformedLine) {
        event.malformed.line = static_cast<int64_t>(lines_before + reader.get_u64());
        event.malformed.fields = static_cast<int64_t>(reader.get_u64());
        event.malformed.misfit = reader.get_u8();
      } else {
        event.text = reader.get_view();
      }
    }
  }
  return facts;
}

// Shows an event as a mode reading the file would; the parsing's events
// only when the mode analyses their record, whose number in the file is
// `before` + `first_number` (the weeks run counts from 0, the others from 1).
void show_fact(const FactEvent& fact, bool analysed, int first_number) {
  switch (fact.event) {
    case FileEvent::kReadConsole:
      console_write(fact.text);
      break;
    case FileEvent::kReadEntry:
      error_log_entry(fact.source, fact.text);
      break;
    case FileEvent::kMalformedLine:
      error_log_entry(fact.source, malformed_line_text(fact.malformed));
      break;
    case FileEvent::kParseConsole:
      if (analysed) console_write(fact.text);
      break;
    case FileEvent::kUnknownCommand:
      if (analysed) {
        const auto line = static_cast<int32_t>(fact.before + static_cast<uint64_t>(first_number));
        error_log_entry(fact.source, unknown_command_text(line, fact.text));
      }
      break;
  }
}

// The byte sums of a mode's periods come out the same when its stretches'
// sums are added as when each request is added, while every sum stays an
// integer that the long double holds exactly: so it is below 2^62 here.
constexpr long double kExactBytes = 0x1p62L;

// The stored stretches of one file, in their order, for a range-for.
struct FileStretches {
  std::map<StretchRef, StoredStretch>::const_iterator first;
  std::map<StretchRef, StoredStretch>::const_iterator last;
  auto begin() const { return first; }
  auto end() const { return last; }
};

FileStretches stretches_of(const StretchStore& store, uint64_t k) {
  return {store.stretches.lower_bound({k, 0}), store.stretches.lower_bound({k + 1, 0})};
}

long double stretch_magnitude(const StoredStretch& item) {
  ItemReader reader;
  reader.start(item.item);
  return read_stretch_head(reader).magnitude;
}

// Whether the byte sums of a mode that reads from `first_file` on are exact.
bool byte_sums_exact(const StretchStore& store, uint64_t first_file) {
  long double magnitude = 0;
  for (const auto& [ref, item] : store.stretches) {
    if (ref.first >= first_file) magnitude += stretch_magnitude(item);
  }
  return magnitude < kExactBytes;
}

// The same for the records of file `k` alone, a weeks period.
bool file_bytes_exact(const StretchStore& store, uint64_t k) {
  long double magnitude = 0;
  for (const auto& [ref, item] : stretches_of(store, k)) magnitude += stretch_magnitude(item);
  return magnitude < kExactBytes;
}

// Whether every counting child has ended its script (or never started).
bool counters_ended(const StretchStore& store) {
  for (ModeWorker* counter : store.counter_number) {
    if (counter == nullptr) continue;
    const std::lock_guard<std::mutex> lock(counter->mutex);
    if (!counter->finished) return false;
  }
  return true;
}

// The counting child that took piece `i`, waited for until one has taken
// it; nullptr when none will (the children ended first). A child takes the
// next piece when it has sent the one before, so the wait is short unless
// both children are busy with earlier pieces, whose items the analyzer
// needs first anyway.
ModeWorker* counter_of_piece(const StretchStore& store, std::size_t i) {
  constexpr auto kPoll = std::chrono::milliseconds(1);
  for (;;) {
    // Read before asking whether the children ended: a child that took the
    // file and then ended still names it.
    const int32_t taker = store.claims->taker[i].load();
    if (taker >= 0) {
      return static_cast<std::size_t>(taker) < store.counter_number.size()
                 ? store.counter_number[static_cast<std::size_t>(taker)]
                 : nullptr;
    }
    if (counters_ended(store)) {
      // A child may have taken the piece just before it ended.
      if (store.claims->taker[i].load() < 0) return nullptr;
      continue;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

// A stretch item of a piece with its first record counted from the file's
// first, `records_before` being the records of the pieces before it; the
// reader has read the item's place.
std::string stretch_in_file(ItemReader& reader, const StretchRef& ref, uint64_t records_before) {
  ScriptWriter placed;
  placed.begin(Step::kStretch);
  placed.put_u64(ref.first);
  placed.put_u64(ref.second);
  placed.put_u64(records_before + reader.get_u64());
  placed.item.append(reader.data.substr(reader.at));
  return std::move(placed.item);
}

// Takes the items of the counting child of piece `i` into the store until
// the piece's facts are there; false when its script ended first (the child
// stopped, failed or died before it counted the whole piece).
bool take_counted_piece(StretchStore& store, std::size_t i, uint64_t records_before) {
  const CountedPiece& piece = store.claims->piece[i];
  const std::pair<uint64_t, uint64_t> place{piece.file, piece.number};
  if (store.files.count(place) != 0) return true;
  ModeWorker* const taker = counter_of_piece(store, i);
  if (taker == nullptr) return false;
  ModeWorker& counter = *taker;
  ItemReader reader;
  while (!counter.played && next_item(counter, reader)) {
    const Step step = static_cast<Step>(reader.get_u8());
    // A stop, a failure or the end has no place to read.
    if (step != Step::kStretch && step != Step::kFileFacts) break;
    StretchRef ref;
    ref.first = reader.get_u64();
    ref.second = reader.get_u64();
    if (step == Step::kStretch) {
      // The item is kept whole, its step and place included. Items of an
      // earlier file, left unread when the weeks run read that file itself,
      // are kept as they came and never used.
      if (records_before == 0 || ref.first != piece.file ||
          ref.second / kStretchesPerFile != piece.number) {
        keep_stretch(store, ref, std::move(reader.bytes));
      } else {
        keep_stretch(store, ref, stretch_in_file(reader, ref, records_before));
      }
      // Receiving the stretch may have grown the heap: the rest of the step
      // is made resident before the next stretches and the merges use it.
      make_heap_growth_resident();
    } else if (step == Step::kFileFacts) {
      store.files[ref] = std::move(reader.bytes);
      if (ref == place) return true;
    }
  }
  counter.played = true;
  return false;
}

// The records of piece `number` of file `k`, whose facts are in the store.
uint64_t piece_records(const StretchStore& store, uint64_t k, uint64_t number) {
  ItemReader reader;
  start_piece_facts(reader, store.files.at({k, number}));
  return reader.get_u64();
}

// Takes the items of every piece of file `k` into the store, in the order
// of the pieces; false when a piece's child did not send it whole, or no
// child counts the file.
bool take_counted_file(StretchStore& store, uint64_t k) {
  if (!store.claims) return false;
  const FileClaims& claims = *store.claims;
  bool planned = false;
  uint64_t records_before = 0;
  for (std::size_t i = 0; i < claims.pieces; ++i) {
    if (claims.piece[i].file != k) continue;
    planned = true;
    if (!take_counted_piece(store, i, records_before)) return false;
    records_before += piece_records(store, k, claims.piece[i].number);
  }
  return planned;
}

// Whether each stretch of `mode`'s run is late or not as a whole. A
// stretch is taken in one step of the run by its first record, so where
// that one is late for the period in progress, its other records must be
// too: none of them earlier than kLateRecordSeconds before the period's
// first record. Where one is, the mode reads the files itself.
bool late_stretches_whole(const StretchStore& store, int mode) {
  PeriodRun run = new_period_run(mode);
  const uint64_t first_file = first_file_index(mode);
  for (const auto& [ref, item] : store.stretches) {
    if (ref.first < first_file) continue;
    ItemReader reader;
    reader.start(item.item);
    const StretchHead head = read_stretch_head(reader);
    if (advance_period(run, head.fields[4], head.first == 0).late &&
        head.earliest < run.first_seconds - kLateRecordSeconds) {
      return false;
    }
  }
  return true;
}

// A period merged ahead holds its lists beside those of the period whose
// reports are being written, and its lists take several times the bytes of
// its largest stretch as sent. The plan ends before a period with a stretch
// of more than this, so that a period of very many keys does not double the
// peak memory: it and those after it are merged in their turn.
constexpr std::size_t kMergeAheadStretchBytes = std::size_t{8} << 20;

// Plans the periods of the modes made from the stretches after the weeks
// run as their runs will meet them, and starts merging them ahead. A period
// is a run of stretches with the same month (the year is not compared) or
// the same year; only those from the mode's open period on are analysed,
// which a file's first record decides anew.
void plan_merges_ahead(StretchStore& store) {
  auto ahead = std::make_unique<MergeAhead>();
  ahead->beside_writing = analysis.merge_beside_writing;
  bool planning = true;
  for (const int mode : store.later_modes) {
    const uint64_t first_file = first_file_index(mode);
    // Such a mode reads the files itself.
    if (!planning || !byte_sums_exact(store, first_file) || !late_stretches_whole(store, mode)) {
      continue;
    }
    PeriodRun run = new_period_run(mode);
    std::vector<StretchRef> period;
    std::size_t largest = 0;  // bytes of the period's largest stretch
    const auto plan_period = [&] {
      if (period.empty() || !planning) return;
      planning = largest <= kMergeAheadStretchBytes;
      if (planning) ahead->planned.push_back(std::move(period));
    };
    for (const auto& [ref, item] : store.stretches) {
      if (ref.first < first_file) continue;
      ItemReader reader;
      reader.start(item.item);
      const StretchHead head = read_stretch_head(reader);
      if (advance_period(run, head.fields[4], head.first == 0).ended) {
        plan_period();
        period.clear();
        largest = 0;
      }
      if (run.active) {
        period.push_back(ref);
        largest = std::max(largest, item.size);
      }
    }
    plan_period();
  }
  if (ahead->planned.empty()) return;
  MergeAhead& started = *ahead;
  const StretchStore& merged_from = store;
  ahead->thread =
      std::thread([&started, &merged_from] { merge_periods_ahead(merged_from, started); });
  store.merge_ahead = std::move(ahead);
}

// The period ends of a mode made from stretches are carried out in the
// parent: the period's stretches merged, its result entry and reports.
struct HeldEnds {
  std::vector<StretchRef> refs;  // the stretches of the period being made
  explicit HeldEnds(const StretchStore& store) {
    analysis.held_period_end = [this, &store](const PeriodEnd& end) {
      merge_stretches(store, refs, end.mode != kModeWeeks);
      refs.clear();
      const WritingReports writing(store);
      record_result(end.mode, end.period, end.complete, end.log);
      flush_period(end.period, end.number, end.year, end.mode);
    };
  }
  HeldEnds(const HeldEnds&) = delete;
  HeldEnds& operator=(const HeldEnds&) = delete;
  ~HeldEnds() { analysis.held_period_end = nullptr; }
};

// Adds the unknown agents of a stretch (its item read up to them) to the
// parent's lists when `analysed`, as counting its requests would have.
void take_unknown_agents(ItemReader& reader, bool analysed) {
  std::vector<PackedTime> first_times;
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    CountedList counted;
    get_counted_list(reader, counted, first_times);
    if (analysed) add_unknown_agents(slot, counted);
  }
}

}  // namespace

bool plan_once_counted(StretchStore& store, std::size_t k) {
  if (store.merge_ahead) return true;
  // The files after `k` are taken only once nothing of theirs is still to
  // come; at the last file, every stretch is in already.
  if (k + 1 < analysis.log_files.size() && !counters_ended(store)) return false;
  for (std::size_t file = k; file < analysis.log_files.size(); ++file) {
    if (!take_counted_file(store, file) || !file_bytes_exact(store, file)) return true;
  }
  plan_merges_ahead(store);
  return true;
}

namespace {

// The weeks run from the counted stretches and file facts: each file shown
// as reading it shows it, its week merged from its stretches. A file whose
// counting child did not send it, or whose byte sum could come out
// otherwise, is read here; the later modes then read the files themselves.
void run_weeks_from_stretches(StretchStore& store) {
  bool complete = true;
  bool planned = false;
  for (std::size_t k = begin_weeks_run(); k < analysis.log_files.size(); ++k) {
    if (!take_counted_file(store, k) || !file_bytes_exact(store, k)) {
      complete = false;
      read_week_file(k);
      continue;
    }
    if (complete && !planned) planned = plan_once_counted(store, k);
    announce_log_file(analysis.log_files[k]);
    const FileFacts facts = read_file_facts(store, k);
    HeldEnds held(store);
    for (const auto& [ref, item] : stretches_of(store, k)) {
      ItemReader reader;
      reader.start(item.item);
      const StretchHead head = read_stretch_head(reader);
      analysis.year_text.assign(chars_at(head.fields[4], 9, 12));
      analysis.period_bytes += head.bytes;
      take_unknown_agents(reader, true);
      held.refs.push_back(ref);
    }
    ErrorLogBatch batch;
    for (const FactEvent& fact : facts.events) show_fact(fact, true, 0);
    batch.finish();
    // Weeks number their records from 0 and show the count minus one.
    analysis.record_number = static_cast<int32_t>(facts.records) - 1;
    report_log_file_end();
    end_week_file(k);
  }
  store.complete = complete;
}

// The months or years run from the counted stretches and file facts: the
// steps of reading the files, with each stretch taken in one step, since
// only the first record of a stretch can change the period. A period's
// lists are merged from the stretches it analysed.
void run_from_stretches(int mode, const StretchStore& store) {
  PeriodRun run = begin_period_run(mode);
  HeldEnds held(store);
  for (std::size_t k = run.first_file; k < analysis.log_files.size(); ++k) {
    announce_log_file(analysis.log_files[k]);
    analysis.record_number = 0;
    const FileFacts facts = read_file_facts(store, k);
    ErrorLogBatch batch;
    std::size_t next = 0;  // the next event to show
    for (const auto& [ref, item] : stretches_of(store, k)) {
      ItemReader reader;
      reader.start(item.item);
      const StretchHead head = read_stretch_head(reader);
      // What the reading of the stretch's first record showed comes before it.
      while (next < facts.events.size() && facts.events[next].before == head.first &&
             is_reading_event(facts.events[next].event)) {
        show_fact(facts.events[next++], false, 1);
      }
      for (int i = 1; i <= 4; ++i) analysis.record.field[i] = head.fields[i];
      analysis.record_number = static_cast<int32_t>(head.first);
      const bool analysed = period_step(run, k);
      take_unknown_agents(reader, analysed);
      if (analysed) {
        held.refs.push_back(ref);
        analysis.period_bytes += head.bytes;
      }
      const uint64_t end = head.first + head.records;
      while (next < facts.events.size() && facts.events[next].before < end) {
        show_fact(facts.events[next++], analysed, 1);
      }
      analysis.record_number = static_cast<int32_t>(end);
    }
    // What the reading showed after the last record.
    while (next < facts.events.size()) show_fact(facts.events[next++], false, 1);
    batch.finish();
    analysis.record_number = static_cast<int32_t>(facts.records);
    analysis.record = LogRecord{};
    report_log_file_end();
    end_period_file(run, k);
  }
}

}  // namespace

MergeAhead::~MergeAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

void FileClaimsUnmap::operator()(FileClaims* claims) const {
  claims->~FileClaims();
  munmap(claims, sizeof(FileClaims));
}

ModeWorker::~ModeWorker() {
  if (start_fd >= 0) close(start_fd);
  if (pid > 0 && !played) kill(pid, SIGKILL);
  if (drain.joinable()) drain.join();
  if (fd >= 0) close(fd);
  if (pid > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

namespace {

// FileClaims in memory that children forked later share; nullptr when the
// system gives none (the weeks run then reads every file itself).
std::unique_ptr<FileClaims, FileClaimsUnmap> make_file_claims() {
  void* memory =
      mmap(nullptr, sizeof(FileClaims), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  return std::unique_ptr<FileClaims, FileClaimsUnmap>(new (memory) FileClaims());
}

// A file's size and where it can be cut into two pieces (0: nowhere).
struct FileShape {
  uint64_t size = 0;
  uint64_t cut = 0;
};

// The line of a cut file runs on for at most this many bytes after the
// file's middle; a file whose line there is longer is not cut.
constexpr uint64_t kCutSearchBytes = uint64_t{1} << 20;

// Where the line that holds byte `from` of the file ends: the place after
// its line feed, or 0 when it has none (soon enough, or before the end).
uint64_t line_end_after(int fd, uint64_t from, uint64_t size) {
  std::array<char, 1 << 16> block;
  for (uint64_t at = from; at < size && at - from < kCutSearchBytes;) {
    const ssize_t got = pread(fd, block.data(), block.size(), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    const auto length = static_cast<std::size_t>(got);
    if (const void* feed = std::memchr(block.data(), '\n', length)) {
      const uint64_t end =
          at + static_cast<uint64_t>(static_cast<const char*>(feed) - block.data()) + 1;
      return end < size ? end : 0;
    }
    at += length;
  }
  return 0;
}

// The shape of the log file at `path`. Only a regular file of at least
// kPieceMinBytes that does not begin with the gzip magic bytes (a
// compressed file is read from its start) can be cut.
FileShape shape_of_file(const std::string& path) {
  FileShape shape;
  // Looked at without opening it: a named pipe's writer would take an open
  // for its reader.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return shape;
  shape.size = static_cast<uint64_t>(status.st_size);
  if (shape.size < kPieceMinBytes) return shape;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return shape;
  unsigned char magic[2] = {0, 0};
  const bool compressed =
      pread(fd, magic, sizeof magic, 0) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
  if (!compressed) shape.cut = line_end_after(fd, shape.size / 2, shape.size);
  close(fd);
  return shape;
}

// Cutting a file costs the analyzer about this share of the file's bytes
// in merging the stretch its cut adds; a cut is made only where it shortens
// the counting by more.
constexpr uint64_t kCutCostShare = 16;

// The plan tries every choice of files to cut among the last this many that
// can be cut: a cut helps where the children's counting ends.
constexpr std::size_t kCutChoiceFiles = 8;

// How long (in bytes counted) the counting children take over `pieces`, in
// their order, each child taking the next one whenever it is done with one.
uint64_t counting_span(const std::vector<uint64_t>& pieces) {
  std::array<uint64_t, kCountingAtOnce> busy{};
  for (const uint64_t bytes : pieces) *std::min_element(busy.begin(), busy.end()) += bytes;
  return *std::max_element(busy.begin(), busy.end());
}

// Plans the pieces the counting children take of the files from `first`
// on: each file whole, or in two pieces cut after the line that holds its
// middle byte. Of the files that can be cut, those are cut that let the
// children end soonest, each cut counted with its cost: a log in one file
// is cut, four even weekly files are not, of three the last is.
void plan_file_pieces(FileClaims& claims, std::size_t first) {
  std::vector<FileShape> shapes;
  std::vector<std::size_t> cuttable;  // indexes into shapes
  for (std::size_t k = first; k < analysis.log_files.size(); ++k) {
    shapes.push_back(shape_of_file(cut_text(settings.log_dir + analysis.log_files[k])));
    if (shapes.back().cut > 0) cuttable.push_back(shapes.size() - 1);
  }
  if (cuttable.size() > kCutChoiceFiles) {
    cuttable.erase(cuttable.begin(), cuttable.end() - kCutChoiceFiles);
  }
  // The files that choice `cuts` cuts, one bit for each file that can be,
  // the lowest for the last.
  const auto cut_files = [&shapes, &cuttable](uint32_t cuts) {
    std::vector<bool> cut(shapes.size(), false);
    for (std::size_t j = 0; j < cuttable.size(); ++j) {
      cut[cuttable[cuttable.size() - 1 - j]] = ((cuts >> j) & 1) != 0;
    }
    return cut;
  };
  // Every choice is tried, at most 2^kCutChoiceFiles. The first of equal
  // cost is kept: no file is cut where cutting would not help, and of two
  // cuts that help alike the later file's, so that the files before it
  // arrive whole and early, and the analyzer shows their weeks while the
  // children go on.
  std::vector<bool> best = cut_files(0);
  uint64_t best_cost = UINT64_MAX;
  std::vector<uint64_t> pieces;
  for (uint32_t cuts = 0; cuts < (uint32_t{1} << cuttable.size()); ++cuts) {
    const std::vector<bool> cut = cut_files(cuts);
    pieces.clear();
    uint64_t cost = 0;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      if (!cut[i]) {
        pieces.push_back(shapes[i].size);
        continue;
      }
      pieces.push_back(shapes[i].cut);
      pieces.push_back(shapes[i].size - shapes[i].cut);
      cost += shapes[i].size / kCutCostShare;
    }
    cost += counting_span(pieces);
    if (cost < best_cost) {
      best_cost = cost;
      best = cut;
    }
  }
  uint32_t count = 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    CountedPiece& piece = claims.piece[count++];
    piece.file = static_cast<uint32_t>(first + i);
    piece.number = 0;
    piece.bytes = LogPiece{0, best[i] ? shapes[i].cut : LogPiece::kToEnd};
    if (!best[i]) continue;
    CountedPiece& second = claims.piece[count++];
    second.file = static_cast<uint32_t>(first + i);
    second.number = 1;
    second.bytes = LogPiece{shapes[i].cut, LogPiece::kToEnd};
  }
  claims.pieces = count;
}

// Forks a child that runs `mode` (or is counting child `number`), waiting
// for its start when `waits`, one of `at_once` children counting at a time;
// nullptr when it cannot be started.
std::unique_ptr<ModeWorker> fork_worker(int mode, Role role, int number, bool waits,
                                        std::size_t at_once, StretchStore* store) {
  const pid_t parent = getpid();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
  // Room for a stretch or two in the pipe, so that a child goes on counting
  // while the analyzer's busy threads get round to reading; a failure only
  // leaves the pipe as it was.
  fcntl(ends[0], F_SETPIPE_SZ, kPipeSize);
  // A socket pair rather than a pipe, for send's MSG_NOSIGNAL.
  int start[2] = {-1, -1};
  if (waits && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, start) != 0) {
    start[0] = start[1] = -1;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    for (const int end : {ends[0], ends[1], start[0], start[1]}) {
      if (end >= 0) close(end);
    }
    return nullptr;
  }
  if (pid == 0) {
    // The child dies with the parent, and keeps no descriptor of the
    // parent's open: above all not the run lock, which must be free the
    // moment the parent ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    // The two descriptors the child keeps become 3 and 4.
    const int fd = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
    const int start_fd = start[0] >= 0 ? fcntl(start[0], F_DUPFD_CLOEXEC, 10) : -1;
    if (fd < 0 || dup2(fd, 3) < 0) _exit(1);
    if (start_fd >= 0 && dup2(start_fd, 4) < 0) _exit(1);
    close_range(start_fd >= 0 ? 5 : 4, ~0U, 0);
    // A counting child yields the processor to the analyzer, whose thread
    // writes each week's reports as the children send it: when that thread
    // falls behind, the run ends with it working alone through the weeks
    // left while a core idles. Set before any thread of the child starts,
    // which takes the value over; a failure only leaves the child as it was.
    if (role == Role::kCounting) setpriority(PRIO_PROCESS, 0, kCountingChildNice);
    analysis.reader_options.reading_thread = child_reading_thread(at_once);
    if (role == Role::kCounting) run_counting_child(*store, number, 3);
    run_mode_child(mode, 3, start_fd >= 0 ? 4 : -1);
  }
  close(ends[1]);
  if (start[0] >= 0) close(start[0]);
  auto worker = std::make_unique<ModeWorker>();
  worker->mode = mode;
  worker->role = role;
  worker->store = store;
  worker->pid = pid;
  worker->fd = ends[0];
  worker->start_fd = start[1];
  return worker;
}

}  // namespace

ModeWorkers start_mode_workers(const std::vector<int>& modes) {
  ModeWorkers started;
  std::vector<std::unique_ptr<ModeWorker>>& workers = started.list;
  StretchStore& store = *started.store;
  // Every mode is made from counted stretches when the weeks run comes
  // first and reads every file the others read, and few enough files.
  const std::size_t files = analysis.log_files.size();
  const std::size_t weeks_start = std::min(first_file_index(kModeWeeks), files);
  bool stretches =
      modes.size() > 1 && modes.front() == kModeWeeks && files - weeks_start <= kStretchFileLimit;
  for (std::size_t i = 1; i < modes.size(); ++i) {
    stretches = stretches && first_file_index(modes[i]) >= weeks_start;
  }
  if (stretches) {
    // The counting children take the files (or their pieces) one after the
    // other (see FileClaims), so that the weeks run can be shown file after
    // file while they go on. A file that no child sends whole is read by the
    // weeks run itself.
    store.claims = make_file_claims();
    if (store.claims) plan_file_pieces(*store.claims, weeks_start);
    const std::size_t at_once =
        store.claims ? std::min<std::size_t>(kCountingAtOnce, store.claims->pieces) : 0;
    for (std::size_t c = 0; store.claims && c < at_once; ++c) {
      std::unique_ptr<ModeWorker> counter =
          fork_worker(kModeWeeks, Role::kCounting, static_cast<int>(c), false, at_once, &store);
      if (!counter) continue;
      store.counter_number[c] = counter.get();
      store.counters.push_back(std::move(counter));
    }
    for (const int mode : modes) {
      if (mode != kModeWeeks) store.later_modes.push_back(mode);
      auto worker = std::make_unique<ModeWorker>();
      worker->mode = mode;
      worker->role = Role::kFromStretches;
      worker->store = &store;
      workers.push_back(std::move(worker));
    }
  } else {
    for (const int mode : modes) {
      // A child beyond the first few waits for its start.
      workers.push_back(fork_worker(mode, Role::kWhole, -1, workers.size() >= kCountingAtOnce,
                                    std::min(kCountingAtOnce, modes.size()), &store));
    }
  }
  // Each waiting child begins when the child kCountingAtOnce places before
  // it has finished; one whose predecessor has no child begins at once.
  for (std::size_t i = kCountingAtOnce; i < workers.size(); ++i) {
    if (!workers[i] || workers[i]->pid < 0) continue;
    ModeWorker* before = workers[i - kCountingAtOnce].get();
    if (before != nullptr) {
      before->next = workers[i].get();
    } else {
      release(*workers[i]);
    }
  }
  // Threads only now, so that no child is forked while a thread of the
  // parent holds a lock.
  for (std::unique_ptr<ModeWorker>& worker : workers) {
    if (worker && worker->fd >= 0) worker->drain = std::thread(drain_pipe, worker.get());
  }
  for (std::unique_ptr<ModeWorker>& counter : store.counters) {
    counter->drain = std::thread(drain_pipe, counter.get());
  }
  return started;
}

bool play_mode_worker(ModeWorker& worker) {
  if (worker.role == Role::kFromStretches && worker.mode == kModeWeeks) {
    if (worker.store == nullptr) return false;
    worker.played = true;
    run_weeks_from_stretches(*worker.store);
    return true;
  }
  if (worker.role == Role::kFromStretches) {
    // Where the weeks run read a file itself, or a byte sum could come out
    // otherwise, the mode reads the files itself.
    const StretchStore* store = worker.store;
    if (store == nullptr || !store->complete ||
        !byte_sums_exact(*store, first_file_index(worker.mode)) ||
        !late_stretches_whole(*store, worker.mode)) {
      return false;
    }
    worker.played = true;
    run_from_stretches(worker.mode, *store);
    return true;
  }
  ItemReader reader;
  for (bool first = true;; first = false) {
    if (!next_item(worker, reader)) {
      // A child that sent nothing at all has shown nothing yet: the mode
      // can still read the files itself.
      if (first) return false;
      const char* name = worker.mode == kModeWeeks    ? "weeks"
                         : worker.mode == kModeMonths ? "months"
                                                      : "years";
      throw std::runtime_error(std::string("the counting process of the ") + name +
                               " run ended early");
    }
    switch (static_cast<Step>(reader.get_u8())) {
      case Step::kConsole:
        console_write(reader.get_text());
        break;
      case Step::kErrorEntry: {
        const std::string source = reader.get_text();
        error_log_entry(source, reader.get_text());
        break;
      }
      case Step::kPeriodEnd:
        play_period_end(reader);
        // A period's lists are by far the largest items; their bytes go now.
        std::string().swap(reader.bytes);
        break;
      case Step::kDnsCheck:
        dns_check(true);
        break;
      case Step::kStop: {
        RunStop stop;
        stop.exit_status = static_cast<int>(reader.get_i64());
        stop.wait_for_key = reader.get_u8() != 0;
        stop.console_line = reader.get_text();
        worker.played = true;
        throw stop;
      }
      case Step::kOutOfMemory:
        worker.played = true;
        throw std::bad_alloc();
      case Step::kFailure:
        worker.played = true;
        throw std::runtime_error(reader.get_text());
      case Step::kEnd:
        play_end(reader);
        worker.played = true;
        return true;
      default:
        throw std::runtime_error("a run mode's script holds an unknown step");
    }
  }
}

}  // namespace sorvik
