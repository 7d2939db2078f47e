// Reading an access-log file into eleven-field records and parsing a record
// into the values that are counted.
#ifndef SORVIK_ANALYSIS_LOG_READER_H_
#define SORVIK_ANALYSIS_LOG_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/log_record.h"
#include "driver/text.h"

namespace sorvik {

// The tokens of the line being cut. Only the first eleven tokens keep their
// bytes; later ones are only counted.
struct LineTokens {
  int64_t count = 0;          // tokens ended so far
  int64_t pending_empty = 0;  // empty tokens ended by blanks, not yet known to be inside the line
  bool started = false;       // the current token has taken a byte or a quote
  bool in_quotes = false;
  bool has_bytes = false;  // the line holds at least one byte besides its line feed
  std::array<uint16_t, kRecordFields + 1> length{};                  // 1..11
  std::array<std::array<char, kTextLimit>, kRecordFields + 1> text;  // 1..11
};

// The log file being read and the unread part of its data. One reader serves
// every log file of the run.
struct LogReader {
  int fd = -1;
  std::string path;
  std::vector<char> buffer;  // unread bytes are buffer[begin, end)
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_end = false;      // the file has delivered all its bytes
  int64_t line_number = 0;  // physical lines finished so far
  LineTokens line;
};

extern LogReader log_reader;

// Closes an open log file and forgets all reader state (start-up state).
void reset_log_reader();

// Opens `path` for reading raw bytes; a failure ends the run (status 74).
void open_log(const std::string& path);
void close_log();

// Reads the next record into analysis.record. Returns 11 for a record; 0 when
// the file has no more records. Every line is one record candidate: a line of
// exactly eleven tokens is a record; an empty or blanks-only line is skipped
// silently; any other line is skipped with a "!" on the console and a
// "Malformed line" error-log entry. A line feed always ends the line, also
// inside a quoted text left open. A read failure ends the run (status 74).
int read_record();

// Number of a three-letter English month abbreviation, 0 when unknown.
int month_number(std::string_view text);

struct TimeStamp {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Parses field 4 ("[dd/Mon/yyyy:hh:mm:ss"); false when any part cannot be converted.
bool parse_time_stamp(std::string_view field, TimeStamp& stamp);

PackedTime pack_time(const TimeStamp& stamp);

// Parses analysis.record into `info`, adding the size to analysis.period_bytes.
// A bad size ends the run with status 5, a bad time stamp with status 4 (after
// the console lines, the error-log entry and a key press).
RequestInfo parse_request();

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_LOG_READER_H_
