// Reading an access-log file into eleven-field records and parsing a record
// into the values that are counted.
#ifndef SORVIK_LOGS_LOG_READER_H_
#define SORVIK_LOGS_LOG_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/log_record.h"
#include "base/text.h"

namespace sorvik {

// The reading and cutting of a log file run on a second thread, a few
// thousand lines ahead of read_record; everything visible (the records, the
// console marks and error-log entries of malformed lines, a read failure)
// happens in read_record, in file order, as if it read the file itself.

// Closes an open log file and forgets all reader state (start-up state).
void reset_log_reader();

// Where a counting child reads in a file: its bytes [begin, end), which
// begin at the start of a line and end after a line feed (end kToEnd: up to
// the file's end). Only a plain (uncompressed) file is read in pieces.
struct LogPiece {
  static constexpr uint64_t kToEnd = UINT64_MAX;
  uint64_t begin = 0;
  uint64_t end = kToEnd;
  bool whole() const { return begin == 0 && end == kToEnd; }
};

// Opens `path` for reading raw bytes; a failure ends the run (status 74). A
// file that begins with the gzip magic bytes is read decompressed, whatever
// its name (see LogBytes). settings.host_url is taken here for the lines
// that do not name the server host. With a `piece` other than the whole
// file only its bytes are read, as they are, and its lines are numbered
// from its first.
void open_log(const std::string& path, const LogPiece& piece = {});
void close_log();

// The lines (line feeds, and a last line without one) of the open file or
// piece that read_record has met the end of; 0 before that.
int64_t log_lines_read();

// The error-log text of a line that is neither a record nor empty.
std::string malformed_line_text(const MalformedLine& malformed);

// Reads the next record into analysis.record. Returns 11 for a record; 0 when
// the file has no more records. Every line is one record candidate, and the
// number of its tokens decides its format:
// - a line of 11, 10 or 8 tokens is a record only when its tokens have the
//   format's shape: token 4 begins with "[", token 5 ends with "]", and in
//   the 10- and 8-token formats token 7 is three ASCII digits and token 8 is
//   "-" or ASCII digits (see misfit_token); otherwise it is malformed;
// - 11 tokens: the eleven fields as they stand;
// - 10 tokens, the combined format (client identity user [time zone]
//   "request" status size "referrer" "agent"), and 8 tokens, the common
//   format (the same without referrer and agent): tokens 1 to 8 are fields 1
//   to 8, field 9 is settings.host_url, and fields 10 and 11 are the
//   referrer and the agent, "-" for the common format. With an empty
//   host_url field 9 is a single byte 0 instead, which no referrer contains,
//   so that none of these lines has an internal referrer;
// - an empty or blanks-only line is skipped silently;
// - any other line is skipped with a "!" on the console and a "Malformed
//   line" error-log entry, which names the token that does not fit.
// Inside quotes \" and \\ stand for " and \ (the token holds the one
// character) and do not end the quotes. A line feed always ends the line,
// also inside a quoted text left open. A read failure ends the run (status
// 74). Compressed data that is corrupt or cut short ends the file after its
// last complete line, with a "!" on the console and the error-log entry
// "Compressed file damaged: <zlib's message>, rest of file skipped".
int read_record();

// Whether the files opened from now on cut their plain lines (no byte 0,
// no backslash, every token one run of bytes) in one pass, as they do after
// reset_log_reader; otherwise every line is cut byte by byte. Both give the
// same records; the tests compare them.
void set_plain_line_cutting(bool on);

// Whether the files opened from now on are read and cut on a thread of
// their own, a few batches of lines ahead of read_record (as after
// reset_log_reader), or by read_record itself when it needs the next
// lines. A process that counts while others take the other cores does
// better without the hand-over of every line from one core to another.
// Both give the same records, console text and error-log entries.
void set_reading_thread(bool on);

// Whether the files opened from now on hash each record's directory as its
// line is cut, as after reset_log_reader. A process that makes its
// directory list from its file list does without.
void set_directory_hints(bool on);

// Whether the hints of the open file's records hold their directories'
// hashes (set_directory_hints).
bool record_hints_have_directory();

// Hashes (list_key_hash) of a record's client, of the path its request line
// names and of that path's directory (when record_hints_have_directory),
// made as the line is cut.
struct RecordHints {
  uint32_t client = 0;
  uint32_t path = 0;
  uint32_t directory = 0;
  uint32_t path_size = 0;  // bytes of that path
};

// The hints of the record `ahead` lines after the one read last, when it
// has been cut already (lines are cut a batch at a time) and is a record.
// Only hints for asking the memory for list entries early: the record may
// still count under other keys.
bool peek_record_hints(std::size_t ahead, RecordHints& hints);

// The hints of the record read last, while analysis.record still holds the
// fields read_record gave it (its client and request fields point where that
// line's bytes are): the counting then need not hash those keys once more.
// A request whose path differs from the one the request line names (a
// default file appended, an unknown method) has another path size.
bool current_record_hints(RecordHints& hints);

// Number of a three-letter English month abbreviation, 0 when unknown.
int month_number(std::string_view text);

// Parses field 4 ("[dd/Mon/yyyy:hh:mm:ss"); false when any part cannot be converted.
bool parse_time_stamp(std::string_view field, TimeStamp& stamp);

PackedTime pack_time(const TimeStamp& stamp);

// The time of a stamp as seconds from 1 January 1970 by the calendar (the
// zone is not read), with a day or an hour beyond its range simply counted
// on: for telling how far apart two records lie.
int64_t calendar_seconds(const TimeStamp& stamp);
// calendar_seconds of the start of the stamp's day.
int64_t calendar_day_seconds(const TimeStamp& stamp);

// Parses analysis.record into `info`, adding the size to analysis.period_bytes.
// A bad size ends the run with status 5, a bad time stamp with status 4 (after
// the console lines, the error-log entry and a key press).
RequestInfo parse_request();
// parse_request into `info`, whose texts are reused.
void parse_request_into(RequestInfo& info);

// What a requested path's name tells of it: its extension (from its last
// ".", at most 4 bytes, upper case; empty without a ".") and whether it is
// a page (no extension, or ".HTM").
void classify_path(std::string_view path, std::string& extension, bool& is_page);

// The error-log text of a request whose method is neither GET nor HEAD, in
// line `line` of its file as the run mode numbers it.
std::string unknown_command_text(int32_t line, std::string_view method);

// Ends the run as an unconvertible time stamp in analysis.record does: the
// console lines, the "Time: Ip=" error-log entry, a key press and status 4.
[[noreturn]] void stop_on_bad_time_stamp();

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_READER_H_
