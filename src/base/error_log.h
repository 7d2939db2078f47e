// The error log: a text file to which every run appends one framed session of
// problem entries.
#ifndef SORVIK_BASE_ERROR_LOG_H_
#define SORVIK_BASE_ERROR_LOG_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

namespace sorvik {

// An entry held instead of written.
struct HeldEntry {
  std::string source;
  std::string text;
};

struct ErrorLog {
  OutputFile file;
  bool open = false;
  // When set, every entry is held here instead (open or not), as it was
  // given: a child process that counts a run mode ahead of its turn hands
  // its entries to the parent.
  std::vector<HeldEntry>* held = nullptr;
  // While set, entries wait in the file's buffer (see ErrorLogBatch).
  bool batched = false;
  std::string entry;  // the entry being composed; its memory is reused
};

extern ErrorLog error_log;

// Closes the log without writing (start-up state).
void reset_error_log();

// Opens settings.errlog_file for appending and writes the session start line;
// prints the "Errorlog <file> ... ok." console line. A symbolic link at the
// name ends the run with the I/O report before anything is written.
void error_log_open();

// Adds one entry (one line with an empty source, two lines otherwise). Does
// nothing while the log is closed. Source and text are cut at 255 bytes each.
void error_log_entry(std::string_view source, std::string_view text);

// Writes the session end line and an empty line and closes the log; does
// nothing while the log is closed.
void error_log_close();

// Every entry reaches the disk at once, so that a run that ends any way
// leaves its entries behind. The entries that the counting processes found,
// which the analyzer writes in a row (one for every request of an unknown
// method, say), would then cost a write each: while an ErrorLogBatch lives,
// entries wait in the log's buffer, and finish() writes them together. A
// run stopped in between leaves them to the closing of the log.
struct ErrorLogBatch {
  ErrorLogBatch();
  ErrorLogBatch(const ErrorLogBatch&) = delete;
  ErrorLogBatch& operator=(const ErrorLogBatch&) = delete;
  ~ErrorLogBatch();
  // Writes the waiting entries; a failure ends the run.
  void finish();
};

}  // namespace sorvik

#endif  // SORVIK_BASE_ERROR_LOG_H_
