// Selecting and sorting the access-log files.
#ifndef SORVIK_ANALYSIS_LOG_FILE_SELECTION_H_
#define SORVIK_ANALYSIS_LOG_FILE_SELECTION_H_

namespace sorvik {

// Lists the entries matching settings.logfiles into analysis.log_files, sorted
// byte-wise ascending (stable); prints "Logfiles ... " and the count. True when
// at least one file was found.
bool select_log_files();

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_LOG_FILE_SELECTION_H_
