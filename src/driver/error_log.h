// The error log: a text file to which every run appends one framed session of
// problem entries.
#ifndef SORVIK_DRIVER_ERROR_LOG_H_
#define SORVIK_DRIVER_ERROR_LOG_H_

#include <functional>
#include <string_view>

#include "driver/file_io.h"

namespace sorvik {

struct ErrorLog {
  OutputFile file;
  bool open = false;
  // When set, every entry goes here instead (open or not): a child process
  // that counts a run mode ahead of its turn hands its entries to the parent.
  std::function<void(std::string_view source, std::string_view text)> divert;
};

extern ErrorLog error_log;

// Closes the log without writing (start-up state).
void reset_error_log();

// Opens settings.errlog_file for appending and writes the session start line;
// prints the "Errorlog <file> ... ok." console line.
void error_log_open();

// Adds one entry (one line with an empty source, two lines otherwise). Does
// nothing while the log is closed. Source and text are cut at 255 bytes each.
void error_log_entry(std::string_view source, std::string_view text);

// Writes the session end line and an empty line and closes the log; does
// nothing while the log is closed.
void error_log_close();

}  // namespace sorvik

#endif  // SORVIK_DRIVER_ERROR_LOG_H_
