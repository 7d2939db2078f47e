#include "analysis/mode_worker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "driver/console.h"
#include "driver/error_log.h"
#include "driver/result_file.h"
#include "driver/run_stop.h"
#include "hosts/host_cache.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

// What one item of a script holds; each item is one step of the mode's run.
enum class Step : uint8_t {
  kConsole,     // text written to the console
  kErrorEntry,  // an error-log entry: source, text
  kPeriodEnd,   // a period's result entry and reports: its lists, or its stretches
  kDnsCheck,    // the quiet name-server check between two files of the years run
  kStop,        // the run ends: a RunStop
  kOutOfMemory,
  kFailure,  // an unexpected exception: its text
  kEnd,      // the mode's run is over: the state later steps of the run read
  kStretch,  // the counted lists of one stretch of a file (the weeks run's child)
};

using Role = WorkerRole;

// Later run modes use the weeks run's stretches only while it reads at most
// this many files: the stretches are kept until the last mode is played.
constexpr std::size_t kStretchFileLimit = 8;

// A stretch: the records of one file (its index among the selected files)
// between two changes of month or year (its number in the file, from 0).
using StretchRef = std::pair<uint64_t, uint64_t>;

// Items are sent in blocks of at least this size, so that the pipe is
// written rarely.
constexpr std::size_t kSendSize = 1 << 16;

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
  void put_u64(uint64_t value) {
    while (value >= 0x80) {
      item.push_back(static_cast<char>((value & 0x7F) | 0x80));
      value >>= 7;
    }
    item.push_back(static_cast<char>(value));
  }
  // Signed numbers are folded so that small negative ones stay short.
  void put_i64(int64_t value) {
    const uint64_t bits = static_cast<uint64_t>(value);
    put_u64((bits << 1) ^ (value < 0 ? ~uint64_t{0} : 0));
  }
  void put_text(std::string_view text) {
    put_u64(text.size());
    item.append(text);
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
};

void put_list(ScriptWriter& writer, const CountedList& list) {
  writer.put_i64(list.count);
  writer.put_u64(list.total_hits);
  writer.put_i64(list.total_kbytes);
  writer.put_u64(list.total_visits);
  writer.put_u8(list.sort_key);
  writer.put_u8(static_cast<uint8_t>(list.sort_letter));
  writer.put_u64(list.entries.size());
  for (const ListEntry& entry : list.entries) {
    writer.put_text(entry.key);
    writer.put_text(entry.extra);
    writer.put_u64(entry.hits);
    writer.put_u64(entry.time);
    writer.put_u64(entry.visits);
    writer.put_i64(entry.kbytes);
  }
}

// A stretch's lists with what merging them needs beyond the lists: the time
// of each entry's first request and each new client's first request.
void put_stretch(ScriptWriter& writer, const StretchRef& ref, uint64_t records) {
  writer.begin(Step::kStretch);
  writer.put_u64(ref.first);
  writer.put_u64(ref.second);
  writer.put_u64(records);
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    const CountedList& list = lists.list_slots[slot];
    put_list(writer, list);
    writer.put_u64(list.first_times.size());
    for (const PackedTime time : list.first_times) writer.put_u64(time);
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
  std::string bytes;       // an item taken from the script, when it is read from here
  std::string_view data;   // the item being read
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
    const uint64_t size = get_u64();
    if (data.size() - at < size) throw std::runtime_error("a run mode's script is cut short");
    std::string text(data.substr(at, size));
    at += size;
    return text;
  }
};

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
  std::vector<ListEntry> entries;
  entries.reserve(size);
  for (uint64_t i = 0; i < size; ++i) {
    ListEntry entry;
    entry.key = reader.get_text();
    entry.extra = reader.get_text();
    entry.hits = reader.get_u64();
    entry.time = static_cast<PackedTime>(reader.get_u64());
    entry.visits = reader.get_u64();
    entry.kbytes = reader.get_i64();
    entries.push_back(std::move(entry));
  }
  list.entries = std::move(entries);
  // The index is made again from the entries when it is first needed.
  list.index = KeyIndex{};
  list.index.valid = list.entries.empty();
}

// Children that count at the same time; a further one waits for the first
// of these to finish. Two keep both cores busy while the parent writes the
// reports, and a third would only add its memory.
constexpr std::size_t kCountingAtOnce = 2;

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

// The run of `mode` in the child, with every visible step sent to the parent.
// A child with a start descriptor first waits until the parent lets it begin;
// the end of the pipe without a byte means the parent is gone.
[[noreturn]] void run_child(int mode, Role role, int fd, int start_fd) {
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
  // The stretches whose records the current period analysed, and the one
  // whose counts the lists hold (the weeks run's child).
  std::vector<StretchRef> refs;
  std::vector<uint64_t> ref_records;  // records analysed in each of `refs`
  bool counting_stretch = false;
  const auto send_stretch = [&writer, &refs, &ref_records, &counting_stretch] {
    if (!counting_stretch) return;
    put_stretch(writer, refs.back(), ref_records.back());
    clear_period_lists();
    analysis.first_requests.clear();
    counting_stretch = false;
  };
  if (role != Role::kWhole) {
    analysis.before_count = [role, &refs, &ref_records, &counting_stretch, &send_stretch] {
      const StretchRef ref{analysis.file_index, static_cast<uint64_t>(analysis.stretch)};
      if (refs.empty() || refs.back() != ref) {
        send_stretch();
        refs.push_back(ref);
        ref_records.push_back(0);
      }
      ref_records.back() += 1;
      if (role == Role::kStretches) {
        counting_stretch = true;
        return true;
      }
      // The stretch is counted by the weeks run; only the unknown agents,
      // which every run mode counts again, are counted here.
      lists.current_entry.time = analysis.request.time;
      count_unknown_agent_classes(analysis.record.field[11]);
      return false;
    };
  }
  if (role == Role::kStretches) {
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      lists.list_slots[slot].keep_first_times = true;
    }
    analysis.keep_first_requests = true;
  }
  analysis.held_period_end = [&writer, inherits_year, role, &refs, &ref_records, &send_stretch](
                                 const PeriodEnd& end) {
    send_stretch();
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
    if (role == Role::kWhole) {
      writer.put_u8(0);
      for (int slot = 1; slot <= kPeriodListSlots; ++slot) put_list(writer, lists.list_slots[slot]);
    } else {
      writer.put_u8(1);
      writer.put_u64(refs.size());
      for (std::size_t i = 0; i < refs.size(); ++i) {
        writer.put_u64(refs[i].first);
        writer.put_u64(refs[i].second);
        writer.put_u64(ref_records[i]);
      }
      refs.clear();
      ref_records.clear();
    }
    writer.finish();
    // What the period's reports leave behind for the next period.
    clear_period_lists();
    analysis.period_bytes = 0;
  };
  // Only this mode's unknown agents are sent; the parent adds them to its own.
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);

  try {
    run_mode(mode);
    writer.begin(Step::kEnd);
    writer.put_text(analysis.year_text);
    writer.put_u8(analysis.current_log_path.empty() ? 0 : 1);
    writer.put_i64(analysis.record_number);
    writer.put_text(analysis.current_log_path);
    put_list(writer, lists.list_slots[kUnknownBrowsers]);
    put_list(writer, lists.list_slots[kUnknownOpsys]);
    writer.finish();
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
  _exit(0);
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
    lists.current_entry = entry;
    list_add(slot);
  }
  lists.current_entry = staged;
}

// Puts a period's counted lists into the list slots; titles and letters stay.
void install_list(int slot, CountedList&& counted) {
  CountedList& list = lists.list_slots[slot];
  list.entries = std::move(counted.entries);
  list.count = counted.count;
  list.total_hits = counted.total_hits;
  list.total_kbytes = counted.total_kbytes;
  list.total_visits = counted.total_visits;
  list.sort_key = counted.sort_key;
  list.sort_letter = counted.sort_letter;
  list.index = KeyIndex{};
  list.index.valid = list.entries.empty();
}

// Merges the stretches `refs` of the store, in order, into the lists of one
// period. A client new to the period whose first request was a page makes
// the entry page, as counting the requests one by one does.
void merge_stretches(const StretchStore& store, const std::vector<StretchRef>& refs) {
  std::array<CountedList, kPeriodListSlots + 1> merged;
  std::vector<bool> is_new;
  std::vector<bool> new_clients;
  std::vector<PackedTime> first_times;
  for (const StretchRef& ref : refs) {
    const auto found = store.stretches.find(ref);
    if (found == store.stretches.end()) {
      throw std::runtime_error("a stretch counted by the weeks run is missing");
    }
    ItemReader reader;
    reader.start(found->second);
    reader.get_u8();  // the step, the stretch's number and its records, known already
    reader.get_u64();
    reader.get_u64();
    reader.get_u64();
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      CountedList counted;
      get_list(reader, counted);
      first_times.resize(reader.get_u64());
      for (PackedTime& time : first_times) time = static_cast<PackedTime>(reader.get_u64());
      if (slot == kEntryPageList) continue;
      list_merge(merged[slot], counted, first_times, is_new);
      if (slot == kClientList) new_clients = is_new;
    }
    const uint64_t clients = reader.get_u64();
    for (uint64_t i = 0; i < clients; ++i) {
      const bool is_page = reader.get_u8() != 0;
      ListEntry entry;
      entry.key = reader.get_text();
      entry.kbytes = reader.get_i64();
      entry.time = static_cast<PackedTime>(reader.get_u64());
      entry.hits = 1;
      entry.visits = 1;
      if (is_page && i < new_clients.size() && new_clients[i]) {
        list_merge_entry(merged[kEntryPageList], entry, entry.time);
      }
    }
  }
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) install_list(slot, std::move(merged[slot]));
}

// A period end as the script holds it, up to its lists, which follow unless
// it names the stretches it is merged from.
struct PeriodEndItem {
  PeriodEnd end;
  bool year_known = true;
  int32_t record_number = 0;
  std::string log_path;
  long double period_bytes = 0;
  bool from_stretches = false;
  std::vector<StretchRef> refs;
  std::vector<uint64_t> ref_records;  // records the mode analysed in each
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
  item.from_stretches = reader.get_u8() != 0;
  if (item.from_stretches) {
    item.refs.resize(reader.get_u64());
    item.ref_records.resize(item.refs.size());
    for (std::size_t i = 0; i < item.refs.size(); ++i) {
      item.refs[i].first = reader.get_u64();
      item.refs[i].second = reader.get_u64();
      item.ref_records[i] = reader.get_u64();
    }
  }
  return item;
}

void play_period_end(ItemReader& reader, const StretchStore* store) {
  PeriodEndItem item = read_period_end(reader);
  PeriodEnd& end = item.end;
  if (!item.year_known) {
    end.year = analysis.year_text;
    end.period = period_name(end.mode, end.year, end.number);
  }
  analysis.record_number = item.record_number;
  analysis.current_log_path = item.log_path;
  analysis.period_bytes = item.period_bytes;
  if (!item.from_stretches) {
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) get_list(reader, lists.list_slots[slot]);
  } else {
    if (store == nullptr) throw std::runtime_error("a run mode's stretches have no store");
    merge_stretches(*store, item.refs);
  }
  record_result(end.mode, end.period, end.complete, end.log);
  flush_period(end.period, end.number, end.year, end.mode);
}

// Whether every stretch the finished script of a merging mode names was
// counted with just the records the mode analysed in it. A log file that
// grew or shrank between the two children's reading breaks that; the mode
// then reads the files itself.
bool stretches_match(ModeWorker& worker) {
  std::string script;
  {
    std::unique_lock<std::mutex> lock(worker.mutex);
    worker.arrived.wait(lock, [&] { return worker.finished; });
    // One block from now on, which the play reads as before.
    script.reserve(worker.script_size);
    bool first = true;
    for (const std::string& block : worker.script) {
      script.append(block, first ? worker.script_head : 0, std::string::npos);
      first = false;
    }
    worker.script.clear();
    worker.script_head = 0;
    if (!script.empty()) worker.script.push_back(script);
  }
  const StretchStore& store = *worker.store;
  std::size_t at = 0;
  uint64_t size = 0;
  while (script.size() - at >= sizeof size) {
    std::memcpy(&size, script.data() + at, sizeof size);
    if (script.size() - at - sizeof size < size) break;
    ItemReader reader;
    reader.start(std::string_view(script).substr(at + sizeof size, size));
    at += sizeof size + size;
    if (static_cast<Step>(reader.get_u8()) != Step::kPeriodEnd) continue;
    const PeriodEndItem item = read_period_end(reader);
    for (std::size_t i = 0; i < item.refs.size(); ++i) {
      const auto counted = store.records.find(item.refs[i]);
      if (counted == store.records.end() || counted->second != item.ref_records[i]) return false;
    }
  }
  return true;
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

}  // namespace

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

ModeWorkers start_mode_workers(const std::vector<int>& modes) {
  ModeWorkers started;
  std::vector<std::unique_ptr<ModeWorker>>& workers = started.list;
  const pid_t parent = getpid();
  // The weeks run counts stretches for the later modes when it comes first
  // and reads every file they read, and few enough files.
  const std::size_t files = analysis.log_files.size();
  const std::size_t weeks_start = std::min(first_file_index(kModeWeeks), files);
  bool stretches = modes.size() > 1 && modes.front() == kModeWeeks &&
                   files - weeks_start <= kStretchFileLimit;
  for (std::size_t i = 1; i < modes.size(); ++i) {
    stretches = stretches && first_file_index(modes[i]) >= weeks_start;
  }
  for (const int mode : modes) {
    workers.push_back(nullptr);
    // A later mode merges stretches only when the weeks run's child exists.
    Role role = Role::kWhole;
    if (stretches) role = mode == kModeWeeks ? Role::kStretches : Role::kFromStretches;
    if (role == Role::kFromStretches && !workers.front()) role = Role::kWhole;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) continue;
    // A child beyond the first few waits for its start.
    // A socket pair rather than a pipe, for send's MSG_NOSIGNAL.
    int start[2] = {-1, -1};
    if (workers.size() > kCountingAtOnce &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, start) != 0) {
      start[0] = start[1] = -1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      for (const int end : {ends[0], ends[1], start[0], start[1]}) {
        if (end >= 0) close(end);
      }
      continue;
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
      run_child(mode, role, 3, start_fd >= 0 ? 4 : -1);
    }
    close(ends[1]);
    if (start[0] >= 0) close(start[0]);
    auto worker = std::make_unique<ModeWorker>();
    worker->mode = mode;
    worker->role = role;
    worker->store = started.store.get();
    worker->pid = pid;
    worker->fd = ends[0];
    worker->start_fd = start[1];
    workers.back() = std::move(worker);
  }
  // Each waiting child begins when the child kCountingAtOnce places before
  // it has finished; one whose predecessor has no child begins at once.
  for (std::size_t i = kCountingAtOnce; i < workers.size(); ++i) {
    if (!workers[i]) continue;
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
    if (worker) worker->drain = std::thread(drain_pipe, worker.get());
  }
  return started;
}

bool play_mode_worker(ModeWorker& worker) {
  // Without the weeks run's stretches (its child failed) the mode reads the
  // files itself.
  if (worker.role == Role::kFromStretches &&
      (worker.store == nullptr || !worker.store->complete || !stretches_match(worker))) {
    return false;
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
        play_period_end(reader, worker.store);
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
        if (worker.role == Role::kStretches && worker.store != nullptr) worker.store->complete = true;
        return true;
      case Step::kStretch: {
        if (worker.store == nullptr) break;
        StretchRef ref;
        ref.first = reader.get_u64();
        ref.second = reader.get_u64();
        worker.store->records[ref] = reader.get_u64();
        // The item is kept whole, its step and number included.
        worker.store->stretches[ref] = std::move(reader.bytes);
        break;
      }
      default:
        throw std::runtime_error("a run mode's script holds an unknown step");
    }
  }
}

}  // namespace sorvik
