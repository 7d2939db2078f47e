#include "logs/log_reporter.h"

#include "base/console.h"
#include "base/error_log.h"

namespace sorvik {

void report_malformed_line(void*, std::string_view log_path, const MalformedLine& malformed) {
  console_write("!");
  error_log_entry(log_path, malformed_line_text(malformed));
}

void report_damaged_data(void*, std::string_view log_path, std::string_view damage) {
  console_write("!");
  error_log_entry(log_path, damaged_data_text(damage));
}

void report_unknown_method(void*, const RecordPlace& place, std::string_view method) {
  error_log_entry(place.log_path, unknown_command_text(place.record_number, method));
  console_write("!");
}

std::string malformed_line_text(const MalformedLine& malformed) {
  std::string text = "Malformed line " + std::to_string(malformed.line) + ": " +
                     std::to_string(malformed.fields) + " fields, ";
  if (malformed.misfit != 0)
    text += "field " + std::to_string(malformed.misfit) + " does not fit, ";
  return text + "line skipped";
}

std::string damaged_data_text(std::string_view damage) {
  return "Compressed file damaged: " + std::string(damage) + ", rest of file skipped";
}

std::string unknown_command_text(int32_t line, std::string_view method) {
  return "Unknown command in line " + std::to_string(line) + ": " + std::string(method);
}

}  // namespace sorvik
