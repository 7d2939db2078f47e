// The index page and the three overview pages written at the end of a run.
#ifndef SORVIK_REPORT_INDEX_PAGES_H_
#define SORVIK_REPORT_INDEX_PAGES_H_

#include <string>

namespace sorvik {

// Lists the period and table pages in the HTML directory into kPeriodPages
// (sorted by key descending) and writes "years.html", "monthes.html" and
// "weeks.html" from it. Does nothing unless html_out and html_index are set.
void write_overview_pages();

// Writes "index.html" from the result entries of all three run modes, most
// recent period first, linking only to period pages that exist. A run mode
// without entries gets its heading, a console line and an error-log entry.
// Does nothing unless html_out and html_index are set.
void write_index_page();

// Writes the overview page of run mode `letter` ('y', 'm' or 'w') from
// kPeriodPages, which write_overview_pages has filled and sorted; `heading` is the
// page's heading text.
void write_mode_overview_page(char letter, const std::string& heading);

}  // namespace sorvik

#endif  // SORVIK_REPORT_INDEX_PAGES_H_
