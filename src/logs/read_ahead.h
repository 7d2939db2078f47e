// Reading a log file ahead of its records: the file's bytes (decompressed
// when it is compressed) are cut into lines and tokens, a batch of lines at
// a time, on a thread of their own, and handed over as events in file
// order: a record, a malformed line, a failed read, damaged compressed data,
// the end. Nothing is shown here; the reader (log_reader.h) shows what the
// events tell as it takes them.
#ifndef SORVIK_LOGS_READ_AHEAD_H_
#define SORVIK_LOGS_READ_AHEAD_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "logs/line_cutter.h"
#include "logs/log_record.h"

namespace sorvik {

// Where a counting child reads in a file: its bytes [begin, end), which
// begin at the start of a line and end after a line feed (end kToEnd: up to
// the file's end). Only a plain (uncompressed) file is read in pieces.
struct LogPiece {
  static constexpr uint64_t kToEnd = UINT64_MAX;
  uint64_t begin = 0;
  uint64_t end = kToEnd;
  bool whole() const { return begin == 0 && end == kToEnd; }
};

// How a file is read. Every choice gives the same records, console text and
// error-log entries; they differ in speed only.
struct ReaderOptions {
  // Plain lines (no byte 0, no backslash, every token one run of bytes) are
  // cut in one pass (cut_line); otherwise every line is cut byte by byte.
  bool plain_line_cutting = true;
  // The file is read and cut on a thread of its own, a few batches of lines
  // ahead of read_record; otherwise by read_record itself when it needs the
  // next lines. A process that counts while others take the other cores
  // does better without the hand-over of every line from one core to
  // another.
  bool reading_thread = true;
  // Each record's directory is hashed as its line is cut (RecordHints). A
  // process that makes its directory list from its file list does without.
  bool directory_hints = true;
};

// Hashes (list_key_hash) of a record's client, of the path its request line
// names and of that path's directory (with ReaderOptions::directory_hints),
// made as the line is cut, while its bytes are in the processor's cache:
// the counting asks for its lists' entries some records ahead by them.
struct RecordHints {
  uint32_t client = 0;
  uint32_t path = 0;
  uint32_t directory = 0;
  uint32_t path_size = 0;  // bytes of that path
};

// What the reader meets next. Empty and blanks-only lines leave nothing.
enum class EventKind : uint8_t { kRecord, kMalformed, kReadError, kDamaged, kEnd };

struct LineEvent {
  EventKind kind = EventKind::kEnd;
  int64_t line = 0;      // kMalformed: the line's number; kEnd: the file's lines
  int error_number = 0;  // kReadError
  // kRecord: fields 1..11 in cut.begin and cut.length, in Batch::bytes;
  // kMalformed: the line's tokens and misfit.
  LineCut cut;
  RecordHints hints;  // kRecord
};

// Events handed over together; the records' fields lie in `bytes`.
struct Batch {
  std::vector<LineEvent> events;
  std::string bytes;
  std::string damage;  // kDamaged: what zlib found
};

// The reading of one open file (defined with its code).
struct ReadAhead;
struct ReadAheadDeleter {
  void operator()(ReadAhead* ahead) const;
};
using ReadAheadPtr = std::unique_ptr<ReadAhead, ReadAheadDeleter>;

// Starts reading the file open as `fd`, placed at the first byte of `piece`,
// which a caller other than the whole file's gives. The lines of the
// combined and the common format get `server_host` as field 9. The lines
// are numbered from the piece's first. The descriptor stays the caller's,
// and open until the reading is deleted, which also ends its thread.
ReadAheadPtr start_read_ahead(int fd, const LogPiece& piece, std::string server_host,
                              const ReaderOptions& options);

// The next batch of events, waited for; `used` (the batch taken before, or
// null) goes back for reuse. The batch that holds the file's last event
// (kEnd, kReadError or kDamaged) is the last; after it, nothing may be
// taken.
std::unique_ptr<Batch> take_batch(ReadAhead& ahead, std::unique_ptr<Batch> used);

}  // namespace sorvik

#endif  // SORVIK_LOGS_READ_AHEAD_H_
