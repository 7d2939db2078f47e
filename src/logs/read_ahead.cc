#include "logs/read_ahead.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "logs/log_bytes.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

// Large reads keep the system calls rare; the block size is not visible in
// the records, because lines are cut wherever the reads end.
constexpr std::size_t kReadSize = 64 * 1024;

// A batch is handed over when it holds this many events, so that the two
// threads meet rarely.
constexpr std::size_t kBatchEvents = 512;
// Batches filled but not yet taken; the reading thread waits beyond that, so
// memory stays bounded however long the file is.
constexpr std::size_t kBatchesAhead = 4;

// The reading side: the file's bytes and their cutting into lines. Only the
// reading thread touches it while that thread runs.
struct BatchFiller {
  LogBytes source;
  std::vector<char> buffer;  // unread bytes are buffer[begin, end)
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_end = false;   // the file has delivered all its bytes
  bool damaged = false;  // its compressed data ended in damage: `damage`
  std::string damage;
  int64_t line_number = 0;  // lines finished so far
  LineCutter line;
  // Field 9 of the lines that do not name the server host.
  std::string server_host;
  ReaderOptions options;
  Batch* batch = nullptr;  // where finished lines go
};

// The prefetch hints of a record event: hashed here, where the bytes are
// still in the cache, so that the counting can ask for its lists' buckets
// and entries some records ahead.
void add_hints(LineEvent& event, const std::string& bytes, bool directory) {
  const auto field = [&](int i) {
    return std::string_view(bytes).substr(event.cut.begin[i], event.cut.length[i]);
  };
  const std::string_view path = requested_path(field(kFieldRequest));
  event.hints.client = list_key_hash(field(kFieldClient));
  event.hints.path = list_key_hash(path);
  if (directory) event.hints.directory = list_key_hash(directory_of(path));
  event.hints.path_size = static_cast<uint32_t>(path.size());
}

// Makes a record event of a line cut into a record's tokens, in place. The
// lines of the standard formats become the same eleven fields: tokens 1 to
// 8 are fields 1 to 8, field 9 is the server host, and the combined
// format's last two tokens are fields 10 and 11, which the common format
// fills with "-".
void make_record(BatchFiller& f, LineEvent& event) {
  event.kind = EventKind::kRecord;
  LineCut& cut = event.cut;
  std::string& bytes = f.batch->bytes;
  const auto token_field = [&](int field, int token) {
    cut.begin[field] = cut.begin[token];
    cut.length[field] = cut.length[token];
  };
  const auto added_field = [&](int field, std::string_view text) {
    cut.begin[field] = static_cast<uint32_t>(bytes.size());
    cut.length[field] = static_cast<uint16_t>(text.size());
    bytes.append(text);
  };
  if (cut.tokens == kCombinedTokens) {
    token_field(kFieldAgent, 10);
    token_field(kFieldReferrer, 9);
  } else if (cut.tokens == kCommonTokens) {
    added_field(kFieldReferrer, "-");
    added_field(kFieldAgent, "-");
  }
  if (cut.tokens != kRecordFields) added_field(kFieldServerHost, f.server_host);
  add_hints(event, bytes, f.options.directory_hints);
}

// Ends the line just cut into the batch's last event: a record event, a
// malformed-line event, or no event for an empty line.
void end_line(BatchFiller& f) {
  f.line_number += 1;
  LineEvent& event = f.batch->events.back();
  if (event.cut.is_record()) {
    make_record(f, event);
  } else if (event.cut.is_malformed()) {
    event.kind = EventKind::kMalformed;
    event.line = f.line_number;
  } else {
    f.batch->events.pop_back();
  }
}

// The end of a line's bytes with a carriage return before its end dropped.
char* without_carriage_return(char* from, char* to) {
  return to > from && to[-1] == '\r' ? to - 1 : to;
}

// Makes room in the buffer and reads more bytes. A line that fills the whole
// buffer is cut as far as it goes, so that lines of any length need no more
// memory than the buffer.
ByteRead refill(BatchFiller& f) {
  char* data = f.buffer.data();
  if (f.begin > 0) {
    std::memmove(data, data + f.begin, f.end - f.begin);
    f.end -= f.begin;
    f.begin = 0;
  }
  if (f.end == f.buffer.size()) {
    // A carriage return at the end may turn out to precede the line feed, so
    // it waits for the next piece.
    char* cut_end = without_carriage_return(data, data + f.end);
    cut_line_piece(f.line, data, cut_end);
    const std::size_t kept = static_cast<std::size_t>(data + f.end - cut_end);
    std::memmove(data, cut_end, kept);
    f.end = kept;
  }
  ByteRead got = read_log_bytes(f.source, data + f.end, f.buffer.size() - f.end);
  if (got.status == ByteStatus::kData) {
    f.end += got.count;
  } else if (got.status != ByteStatus::kReadError) {
    f.at_end = true;
    f.damaged = got.status == ByteStatus::kDamaged;
    f.damage = std::move(got.damage);
  }
  return got;
}

// Cuts the line that ends at `line_end`, from `from` on, into a new event
// of the batch: all of it, or the rest of a line longer than the buffer.
void cut_to_line_end(BatchFiller& f, char* from, char* line_end) {
  LineCut& cut = f.batch->events.emplace_back().cut;
  if (f.line.has_bytes) {
    cut_line_piece(f.line, from, line_end);
    finish_line(f.line, cut);
  } else {
    cut_line(f.line, from, line_end, f.options.plain_line_cutting, cut);
  }
}

// Adds the file's last event: a failed read, damaged data or its end.
void add_last_event(BatchFiller& f, const ByteRead& got) {
  LineEvent& event = f.batch->events.emplace_back();
  if (got.status == ByteStatus::kReadError) {
    event.kind = EventKind::kReadError;
    event.error_number = got.error_number;
  } else if (f.damaged) {
    event.kind = EventKind::kDamaged;
    f.batch->damage = f.damage;
  } else {
    event.kind = EventKind::kEnd;
    event.line = f.line_number;
  }
}

// Cuts lines into the current batch until it is full. False when the file is
// done: its last event is in the batch.
bool cut_batch(BatchFiller& f) {
  while (f.batch->events.size() < kBatchEvents) {
    char* from = f.buffer.data() + f.begin;
    char* to = f.buffer.data() + f.end;
    void* found = std::memchr(from, '\n', static_cast<std::size_t>(to - from));
    if (found != nullptr) {
      char* line_feed = static_cast<char*>(found);
      char* line_end = without_carriage_return(from, line_feed);
      cut_to_line_end(f, from, line_end);
      f.begin = static_cast<std::size_t>(line_feed + 1 - f.buffer.data());
      end_line(f);
      continue;
    }
    if (!f.at_end) {
      if (const ByteRead got = refill(f); got.status == ByteStatus::kReadError) {
        add_last_event(f, got);
        return false;
      }
      continue;
    }
    if (f.damaged) {
      // The line that the damage cut off is known to be incomplete: dropped.
      drop_line(f.line);
      f.begin = f.end;
    } else if (from != to || f.line.has_bytes) {
      // The file ended: a last line without a line feed is still a line.
      cut_to_line_end(f, from, without_carriage_return(from, to));
      f.begin = f.end;
      end_line(f);
    }
    add_last_event(f, ByteRead{});
    return false;
  }
  return true;
}

}  // namespace

// The two threads of one open log file. The reading thread fills batches
// and queues them; take_batch takes them in order and gives the emptied
// ones back for reuse.
struct ReadAhead {
  BatchFiller filler;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::unique_ptr<Batch>> filled;  // guarded by mutex
  std::vector<std::unique_ptr<Batch>> spare;  // guarded by mutex
  bool stopping = false;                      // guarded by mutex
  std::thread thread;
};

namespace {

// Cuts the next lines into `batch`, made when there is none; false when
// the file is done.
bool fill(BatchFiller& f, std::unique_ptr<Batch>& batch) {
  if (!batch) batch = std::make_unique<Batch>();
  batch->events.clear();
  batch->bytes.clear();
  batch->damage.clear();
  f.batch = batch.get();
  // Lines never run from one batch into the next.
  start_lines(f.line, batch->bytes);
  const bool more = cut_batch(f);
  f.batch = nullptr;
  return more;
}

// The reading thread: fills batches while fewer than kBatchesAhead wait.
void produce(ReadAhead& ahead) {
  for (;;) {
    std::unique_ptr<Batch> batch;
    {
      std::unique_lock<std::mutex> lock(ahead.mutex);
      ahead.changed.wait(lock,
                         [&] { return ahead.stopping || ahead.filled.size() < kBatchesAhead; });
      if (ahead.stopping) return;
      if (!ahead.spare.empty()) {
        batch = std::move(ahead.spare.back());
        ahead.spare.pop_back();
      }
    }
    const bool more = fill(ahead.filler, batch);
    {
      std::lock_guard<std::mutex> lock(ahead.mutex);
      ahead.filled.push_back(std::move(batch));
    }
    ahead.changed.notify_all();
    if (!more) return;
  }
}

}  // namespace

// Also on a stopped run: the reading thread is told to end and awaited.
void ReadAheadDeleter::operator()(ReadAhead* ahead) const {
  {
    std::lock_guard<std::mutex> lock(ahead->mutex);
    ahead->stopping = true;
  }
  ahead->changed.notify_all();
  if (ahead->thread.joinable()) ahead->thread.join();
  delete ahead;
}

ReadAheadPtr start_read_ahead(int fd, const LogPiece& piece, std::string server_host,
                              const ReaderOptions& options) {
  ReadAheadPtr ahead(new ReadAhead);
  BatchFiller& f = ahead->filler;
  if (piece.whole()) {
    open_log_bytes(f.source, fd);
  } else {
    open_log_piece_bytes(f.source, fd,
                         piece.end == LogPiece::kToEnd ? UINT64_MAX : piece.end - piece.begin);
  }
  f.server_host = std::move(server_host);
  f.options = options;
  f.buffer.resize(kReadSize);
  if (options.reading_thread) {
    ReadAhead* running = ahead.get();
    ahead->thread = std::thread([running] { produce(*running); });
  }
  return ahead;
}

std::unique_ptr<Batch> take_batch(ReadAhead& ahead, std::unique_ptr<Batch> used) {
  // Without a reading thread, `used` is filled again here.
  if (!ahead.thread.joinable()) {
    fill(ahead.filler, used);
    return used;
  }
  std::unique_lock<std::mutex> lock(ahead.mutex);
  if (used) ahead.spare.push_back(std::move(used));
  ahead.changed.notify_all();
  ahead.changed.wait(lock, [&] { return !ahead.filled.empty(); });
  std::unique_ptr<Batch> batch = std::move(ahead.filled.front());
  ahead.filled.pop_front();
  ahead.changed.notify_all();
  return batch;
}

}  // namespace sorvik
