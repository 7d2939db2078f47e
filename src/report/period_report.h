// A period's reports: its text file and HTML page, opened with their heads,
// given a ranked section per list, and closed with the volume line. The
// sections' tables may also get pages of their own.
#ifndef SORVIK_REPORT_PERIOD_REPORT_H_
#define SORVIK_REPORT_PERIOD_REPORT_H_

#include <cstdint>
#include <string>

namespace sorvik {

// Creates the period's text file and HTML page and writes their heads. A file
// that cannot be created ends the run with status 3 after a key press.
void open_period_report(const std::string& period, const std::string& heading);

// Sorts list `slot` by `sort_key` and writes its section: to the text file,
// to the period page and to a table page of its own when the run mode asks
// for one. An empty list gets no section.
void write_top_table(int slot, int sort_key);

// Writes the volume line and the footers and closes the period's files.
void close_period_report(int64_t kbytes);

}  // namespace sorvik

#endif  // SORVIK_REPORT_PERIOD_REPORT_H_
