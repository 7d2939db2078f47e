// Where the reading and the parsing of a log tell what they skip: a line
// that is no record, compressed data that is damaged, a request of an
// unknown method. The reader and the parser keep going after each; what is
// shown of it is up to the reporter they are given.
#ifndef SORVIK_LOGS_LOG_REPORTER_H_
#define SORVIK_LOGS_LOG_REPORTER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "logs/log_record.h"

namespace sorvik {

// The direct reports, which a run shows as it reads: a "!" on the console
// and an error-log entry with the log file as its source.
//   malformed line:  "Malformed line <line>: <fields> fields, [field <misfit>
//                    does not fit, ]line skipped"
//   damaged data:    "Compressed file damaged: <zlib's message>, rest of file
//                    skipped"
//   unknown method:  "Unknown command in line <record number>: <method>"
// (the unknown method's entry is made before its "!"). The context is unused.
void report_malformed_line(void* context, std::string_view log_path,
                           const MalformedLine& malformed);
void report_damaged_data(void* context, std::string_view log_path, std::string_view damage);
void report_unknown_method(void* context, const RecordPlace& place, std::string_view method);

// A reporter: a function for each kind of report and the context they are
// called with. A reporter as built reports directly (the functions above);
// a caller that shows the reports otherwise, or later, puts its own
// functions and context in. No function may be null.
struct LogReporter {
  void* context = nullptr;
  // A line of `log_path` that is neither a record nor empty; it was skipped.
  void (*malformed_line)(void* context, std::string_view log_path,
                         const MalformedLine& malformed) = report_malformed_line;
  // The compressed data of `log_path` is corrupt or cut short (`damage`:
  // zlib's message); the file ended after its last complete line.
  void (*damaged_data)(void* context, std::string_view log_path,
                       std::string_view damage) = report_damaged_data;
  // The request of the record at `place` has a method other than GET and
  // HEAD; it is counted as a page under an empty path.
  void (*unknown_method)(void* context, const RecordPlace& place,
                         std::string_view method) = report_unknown_method;
};

// The error-log texts of the direct reports.
std::string malformed_line_text(const MalformedLine& malformed);
std::string damaged_data_text(std::string_view damage);
std::string unknown_command_text(int32_t line, std::string_view method);

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_REPORTER_H_
