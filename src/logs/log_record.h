// One access-log record as the reader gives it, its parsed form, and what
// the reading tells of a line that is no record.
#ifndef SORVIK_LOGS_LOG_RECORD_H_
#define SORVIK_LOGS_LOG_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stats/counted_list.h"

namespace sorvik {

// The fields of a record, numbered in the order they stand in a log line.
enum RecordField : int {
  kFieldClient = 1,      // client address, dotted IPv4
  kFieldIdentity = 2,    // identity
  kFieldUser = 3,        // user
  kFieldTimeStamp = 4,   // "[dd/Mon/yyyy:hh:mm:ss"
  kFieldZone = 5,        // time zone with the closing "]"
  kFieldRequest = 6,     // request line without its quotes: method, path, protocol
  kFieldStatus = 7,      // status code
  kFieldSize = 8,        // size in bytes, or "-"
  kFieldServerHost = 9,  // host name of the server that answered
  kFieldReferrer = 10,   // referrer without its quotes, or "-"
  kFieldAgent = 11,      // user agent without its quotes
};
inline constexpr int kRecordFields = 11;

// Eleven fields of at most 255 bytes, indexed by RecordField (index 0
// unused). The fields of a record that read_record gave lie in the reader's
// buffer and stay valid until the next read_record or close_log; whoever
// keeps a field longer copies it.
struct LogRecord {
  std::array<std::string_view, kRecordFields + 1> field;
};

// Where a record was read: the log file (log_dir + name, the source of the
// error-log entries about the record) and the record's number within it as
// the run mode counts.
struct RecordPlace {
  std::string_view log_path;
  int32_t record_number = 0;
};

// Where a request line's method ends: its first blank, or npos. Methods are
// a few letters, so the bytes are looked at one by one, which for so short
// a distance costs less than the library's search.
inline std::size_t method_end(std::string_view request) {
  for (std::size_t i = 0; i < request.size(); ++i) {
    if (request[i] == ' ') return i;
  }
  return std::string_view::npos;
}

// The path a request line ("GET /docs/ HTTP/1.0") names: its second word.
inline std::string_view requested_path(std::string_view request) {
  const std::size_t blank = method_end(request);
  if (blank == std::string_view::npos) return {};
  const std::string_view rest = request.substr(blank + 1);
  return rest.substr(0, rest.find(' '));
}

// The directory of a path: up to and including its last "/".
inline std::string_view directory_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1);
}

// The parts of a time stamp (field 4), as written.
struct TimeStamp {
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct RequestInfo {
  int64_t size = 0;
  PackedTime time = 0;
  int64_t seconds = 0;  // the time stamp's calendar_seconds
  // The day of the request parsed last and its calendar_day_seconds, which
  // the next one, mostly of the same day, takes over.
  TimeStamp day;
  int64_t day_seconds = 0;
  std::string method;
  std::string path;
  std::string extension;  // at most 4 bytes, upper case
  bool is_page = true;
  int64_t kbytes = 0;
};

// A line of a log that is neither a record nor empty: line `line` of its
// file (or piece), which has `fields` tokens; `misfit` is the first of
// tokens 4, 5, 7 and 8 that does not have its format's shape, 0 when the
// token count alone makes it no record.
struct MalformedLine {
  int64_t line = 0;
  int64_t fields = 0;
  int misfit = 0;
};

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_RECORD_H_
