#include "logs/log_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>

#include "base/run_stop.h"
#include "base/settings.h"

namespace sorvik {

namespace {

// The open log file as read_record sees it.
struct LogReader {
  int fd = -1;
  std::string path;
  ReaderOptions options;
  ReadAheadPtr read_ahead;
  std::unique_ptr<Batch> batch;  // taken from the read-ahead
  std::size_t next_event = 0;    // in batch
  bool done = false;             // the end of the file was met
  int64_t lines = 0;             // the file's lines, once its end was met
};

LogReader log_reader;

// The record event `ahead` events after the one read last (0: that one), or
// nullptr when there is no such event in the batch or it is no record.
const LineEvent* record_event(std::size_t ahead) {
  const LogReader& r = log_reader;
  if (!r.batch) return nullptr;
  // Before the first event is read, the one read last is none: `at` wraps.
  const std::size_t at = r.next_event - 1 + ahead;
  if (at >= r.batch->events.size() || r.batch->events[at].kind != EventKind::kRecord) {
    return nullptr;
  }
  return &r.batch->events[at];
}

}  // namespace

void reset_log_reader() {
  close_log();
  log_reader = LogReader{};
}

void open_log(const std::string& path, const LogPiece& piece, const ReaderOptions& options) {
  close_log();
  // Never blocks on a named pipe that took a log file's place after the
  // selection: a read of a regular file does not heed O_NONBLOCK, and one of
  // a pipe without a writer finds its end at once.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) stop_on_io_error("open", path, errno);
  LogReader& r = log_reader;
  r.fd = fd;
  r.path = path;
  r.options = options;
  r.batch.reset();
  r.next_event = 0;
  r.done = false;
  r.lines = 0;
  if (piece.begin > 0 && lseek(fd, static_cast<off_t>(piece.begin), SEEK_SET) < 0) {
    stop_on_io_error("seek", path, errno);
  }
  // Field 9 of the combined and common lines. Without a site name it is a
  // byte 0, which no referrer holds (the cutting drops byte 0s), so that no
  // referrer of those lines counts as internal.
  r.read_ahead = start_read_ahead(
      fd, piece, settings.host_url.empty() ? std::string(1, '\0') : settings.host_url, options);
}

void close_log() {
  // The reading thread ends before its file is closed.
  log_reader.read_ahead.reset();
  if (log_reader.fd >= 0) close(log_reader.fd);
  log_reader.fd = -1;
}

int64_t log_lines_read() { return log_reader.lines; }

bool record_hints_have_directory() {
  return log_reader.read_ahead != nullptr && log_reader.options.directory_hints;
}

bool peek_record_hints(std::size_t ahead, RecordHints& hints) {
  const LineEvent* event = ahead == 0 ? nullptr : record_event(ahead);
  if (event == nullptr) return false;
  hints = event->hints;
  return true;
}

bool current_record_hints(const LogRecord& record, RecordHints& hints) {
  const LineEvent* event = record_event(0);
  if (event == nullptr) return false;
  const char* bytes = log_reader.batch->bytes.data();
  const auto unchanged = [&](int i) {
    const std::string_view field = record.field[i];
    return field.data() == bytes + event->cut.begin[i] && field.size() == event->cut.length[i];
  };
  if (!unchanged(kFieldClient) || !unchanged(kFieldRequest)) return false;
  hints = event->hints;
  return true;
}

int read_record(LogRecord& record, const LogReporter& reporter) {
  LogReader& r = log_reader;
  if (r.fd < 0 || r.done) return 0;
  for (;;) {
    if (!r.batch || r.next_event == r.batch->events.size()) {
      r.batch = take_batch(*r.read_ahead, std::move(r.batch));
      r.next_event = 0;
    }
    const LineEvent& event = r.batch->events[r.next_event++];
    switch (event.kind) {
      case EventKind::kRecord: {
        // The fields are read where the reading thread put them: the batch
        // stays with this thread until the next read_record.
        const char* bytes = r.batch->bytes.data();
        for (int i = 1; i <= kRecordFields; ++i) {
          record.field[i] = std::string_view(bytes + event.cut.begin[i], event.cut.length[i]);
        }
        return kRecordFields;
      }
      case EventKind::kMalformed:
        reporter.malformed_line(reporter.context, r.path,
                                MalformedLine{event.line, event.cut.tokens, event.cut.misfit});
        break;
      case EventKind::kReadError:
        r.done = true;
        stop_on_io_error("read", r.path, event.error_number);
      case EventKind::kDamaged:
        r.done = true;
        reporter.damaged_data(reporter.context, r.path, r.batch->damage);
        return 0;
      case EventKind::kEnd:
        r.done = true;
        r.lines = event.line;
        return 0;
    }
  }
}

}  // namespace sorvik
