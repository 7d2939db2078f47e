// Reading an access-log file record by record: the reader proper, over the
// read-ahead (read_ahead.h) and the line cutting (line_cutter.h).
#ifndef SORVIK_LOGS_LOG_READER_H_
#define SORVIK_LOGS_LOG_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "logs/log_record.h"
#include "logs/log_reporter.h"
#include "logs/read_ahead.h"

namespace sorvik {

// One log file is open at a time. Its reading and cutting run ahead of
// read_record (on a thread of their own unless the options say otherwise);
// everything visible (the records, the reports of malformed lines and
// damaged data, a read failure) happens in read_record, in file order, as
// if it read the file itself.

// Closes an open log file and forgets all reader state (start-up state).
void reset_log_reader();

// Opens `path` for reading raw bytes; a failure ends the run (status 74).
// A file that begins with the gzip magic bytes is read decompressed,
// whatever its name (see LogBytes). settings.host_url is taken here for the
// lines that do not name the server host. With a `piece` other than the
// whole file only its bytes are read, as they are, and its lines are
// numbered from its first. `path` is also the source of the reports of
// read_record.
void open_log(const std::string& path, const LogPiece& piece = {},
              const ReaderOptions& options = {});
void close_log();

// The lines (line feeds, and a last line without one) of the open file or
// piece that read_record has met the end of; 0 before that.
int64_t log_lines_read();

// Reads the next record into `record`. Returns 11 for a record; 0 when the
// file has no more records. Every line is one record candidate (see
// line_cutter.h for its tokens and which lines are records):
// - 11 tokens: the eleven fields as they stand;
// - 10 tokens, the combined format (client identity user [time zone]
//   "request" status size "referrer" "agent"), and 8 tokens, the common
//   format (the same without referrer and agent): tokens 1 to 8 are fields 1
//   to 8, field 9 is settings.host_url, and fields 10 and 11 are the
//   referrer and the agent, "-" for the common format. With an empty
//   host_url field 9 is a single byte 0 instead, which no referrer contains,
//   so that none of these lines has an internal referrer;
// - an empty or blanks-only line is skipped silently;
// - any other line is skipped and handed to reporter.malformed_line.
// A line feed always ends the line, also inside a quoted text left open. A
// read failure ends the run (status 74). Compressed data that is corrupt or
// cut short ends the file after its last complete line, handed to
// reporter.damaged_data.
int read_record(LogRecord& record, const LogReporter& reporter);

// Whether the hints of the open file's records hold their directories'
// hashes (ReaderOptions::directory_hints).
bool record_hints_have_directory();

// The hints of the record `ahead` lines after the one read last, when it
// has been cut already (lines are cut a batch at a time) and is a record.
// Only hints for asking the memory for list entries early: the record may
// still count under other keys.
bool peek_record_hints(std::size_t ahead, RecordHints& hints);

// The hints of the record read last, while `record` still holds the fields
// read_record gave it (its client and request fields point where that
// line's bytes are): the counting then need not hash those keys once more.
// A request whose path differs from the one the request line names (a
// default file appended, an unknown method) has another path size.
bool current_record_hints(const LogRecord& record, RecordHints& hints);

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_READER_H_
