// Selecting and sorting the access-log files.
#ifndef SORVIK_LOGS_LOG_FILE_SELECTION_H_
#define SORVIK_LOGS_LOG_FILE_SELECTION_H_

namespace sorvik {

// Lists the entries matching settings.logfiles into analysis.log_files, sorted
// byte-wise ascending (stable); prints "Logfiles ... " and the count. Only
// regular files (or links to one) whose names hold no control byte (below 32,
// or 127) are taken: a directory, named pipe, socket, device or dangling link
// cannot be read as a log, and a name with a line feed would forge lines in
// the result file. The others go to analysis.skipped_log_files. True when at
// least one file was taken.
bool select_log_files();

// Adds an error-log entry for each entry that select_log_files left out, in
// name order: "Not a regular file, skipped" or "Log file name with a control
// character, skipped", with the log folder and the name as source.
void report_skipped_log_files();

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_FILE_SELECTION_H_
