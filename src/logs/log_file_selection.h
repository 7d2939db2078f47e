// Selecting and sorting the access-log files.
#ifndef SORVIK_LOGS_LOG_FILE_SELECTION_H_
#define SORVIK_LOGS_LOG_FILE_SELECTION_H_

#include <string>
#include <vector>

namespace sorvik {

// A directory entry that matched `logfiles` but is not read as a log: the
// error-log source (the log folder and the name, control bytes shown as "?")
// and the reason.
struct SkippedLogFile {
  std::string source;
  std::string text;
};

struct LogFileSelection {
  std::vector<std::string> names;       // selected file names (without directory), sorted
  std::vector<SkippedLogFile> skipped;  // matching entries left out, in name order
};

// Lists the entries matching settings.logfiles, sorted byte-wise ascending
// (stable); prints "Logfiles ... " and the count of the names selected. Only
// regular files (or links to one) whose names hold no control byte (below
// 32, or 127) are selected: a directory, named pipe, socket, device or
// dangling link cannot be read as a log, and a name with a line feed would
// forge lines in the result file. The others are skipped.
LogFileSelection select_log_files();

// Adds an error-log entry for each entry that select_log_files skipped, in
// their order: "Not a regular file, skipped" or "Log file name with a
// control character, skipped", with the log folder and the name as source.
void report_skipped_log_files(const std::vector<SkippedLogFile>& skipped);

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_FILE_SELECTION_H_
