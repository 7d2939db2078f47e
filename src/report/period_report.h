// A period's text file and HTML page: their heads, the ranked sections and the
// closing volume line.
#ifndef SORVIK_REPORT_PERIOD_REPORT_H_
#define SORVIK_REPORT_PERIOD_REPORT_H_

#include <cstdint>
#include <string>

#include "base/file_io.h"

namespace sorvik {

// Creates the period's text file and HTML page and writes their heads. A file
// that cannot be created ends the run with status 3 after a key press.
void open_period_report(const std::string& period, const std::string& heading);

// Writes the section of list `slot` sorted by `sort_key` (sorting the list).
void write_top_table(int slot, int sort_key);

// Writes the volume line and the footers and closes the period's files.
void close_period_report(int64_t kbytes);

// Writes the "ptop" anchor and the path of links from the site's home over the
// log index and the run mode's overview page to `period` (escaped), as period
// and table pages begin after their header.
void write_period_path(OutputFile& file, const std::string& period);

}  // namespace sorvik

#endif  // SORVIK_REPORT_PERIOD_REPORT_H_
