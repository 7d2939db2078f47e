// Parsing a record into the values that are counted (RequestInfo), and the
// time-stamp arithmetic the run modes share with it.
#ifndef SORVIK_LOGS_REQUEST_PARSER_H_
#define SORVIK_LOGS_REQUEST_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "logs/log_record.h"
#include "logs/log_reporter.h"
#include "stats/counted_list.h"

namespace sorvik {

// Parses `record`, read at `place`, into `info`, whose texts keep their
// memory from one request to the next:
// - size: field 8 as a signed 64-bit decimal ("+" or "-" allowed), 0 for
//   "-"; kbytes the size in units of 1024 bytes, rounded half up;
// - time: field 4 (parse_time_stamp), packed, and its calendar seconds;
// - method: the request line up to its first blank;
// - for GET and HEAD the path is the request line's second word, with
//   settings.default_file appended when it ends in "/", and classify_path
//   gives its extension and whether it is a page; any other method is
//   counted as a page under an empty path and handed to
//   reporter.unknown_method.
// The caller adds the size to its period's bytes. A bad size ends the run
// with status 5 (stop_on_bad_size), a bad time stamp with status 4
// (stop_on_bad_time_stamp).
void parse_request_into(const LogRecord& record, const RecordPlace& place,
                        const LogReporter& reporter, RequestInfo& info);
// parse_request_into a fresh RequestInfo.
RequestInfo parse_request(const LogRecord& record, const RecordPlace& place,
                          const LogReporter& reporter);

// What a requested path's name tells of it: its extension (from its last
// ".", at most 4 bytes, upper case; empty without a ".") and whether it is
// a page (no extension, or ".HTM").
void classify_path(std::string_view path, std::string& extension, bool& is_page);

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

// The reports that end the run on a record that cannot be counted, made
// directly: a line end that closes the file's progress line, two console
// lines and an error-log entry (source place.log_path), then a stop that
// waits for a key press.
// An unconvertible size: "<kPressKey text> <record number>" and
// "<kBadSize text>String=<field 8>IP= <field 1>"; the entry "Error, line:
// <record number>, file length conversion, String= <field 8>, IP= <field 1>";
// status 5.
[[noreturn]] void stop_on_bad_size(const LogRecord& record, const RecordPlace& place);
// An unconvertible time stamp: "Line: <record number>" and "<kBadTimeStamp
// text><field 4>"; the entry "Time: Ip=<field 1>, x2=<field 2>, x3=<field
// 3>, time=<field 4>"; status 4.
[[noreturn]] void stop_on_bad_time_stamp(const LogRecord& record, const RecordPlace& place);

}  // namespace sorvik

#endif  // SORVIK_LOGS_REQUEST_PARSER_H_
