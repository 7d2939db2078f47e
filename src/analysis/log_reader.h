// Reading an access-log file into eleven-field records and parsing a record
// into the values that are counted.
#ifndef SORVIK_ANALYSIS_LOG_READER_H_
#define SORVIK_ANALYSIS_LOG_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/log_record.h"
#include "driver/text.h"

namespace sorvik {

// The reading and cutting of a log file run on a second thread, a few
// thousand lines ahead of read_record; everything visible (the records, the
// console marks and error-log entries of malformed lines, a read failure)
// happens in read_record, in file order, as if it read the file itself.

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

// Ends the run as an unconvertible time stamp in analysis.record does: the
// console lines, the "Time: Ip=" error-log entry, a key press and status 4.
[[noreturn]] void stop_on_bad_time_stamp();

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_LOG_READER_H_
