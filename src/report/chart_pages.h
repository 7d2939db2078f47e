// The charts of the report pages: which figures each one shows, where they
// come from, and the texts that name them. Each operation writes nothing
// unless the configuration asks for charts (`html_charts`), so that pages
// without them stay as they were, byte for byte.
//
//   period page    above the tables of the status codes, the browsers and
//                  the operating systems, horizontal bars of their top
//                  entries with their shares; above the hours of the day, a
//                  column chart of hits and kilobytes of each of the 24 hours;
//   overview page  above its table, the files, kilobytes and visits of each
//                  recorded period of its run mode, oldest first;
//   index page     above the months' table, the visits of the recorded
//                  months of the latest two years.
#ifndef SORVIK_REPORT_CHART_PAGES_H_
#define SORVIK_REPORT_CHART_PAGES_H_

#include "report/page_writer.h"

namespace sorvik {

// True when the period page has a chart above the section of list `slot`.
bool list_has_chart(int slot);

// Draws the chart of list `slot` for its section of the period page, the
// list sorted as the section shows it. Nothing unless html_charts is set and
// the list has a chart.
void write_list_chart(PageWriter& page, int slot);

// Draws the overview page's chart of run mode `mode` (1 years, 2 months,
// 3 weeks) from its result entries, titled `heading`: the axes alone when
// the run mode recorded no period. Nothing unless html_charts is set.
void write_periods_chart(PageWriter& page, int mode, const std::string& heading);

// Draws the index page's small chart of the visits of the recorded months
// whose year is the latest recorded or the one before, oldest first.
// Nothing unless html_charts is set or when no month is recorded.
void write_recent_months_chart(PageWriter& page);

}  // namespace sorvik

#endif  // SORVIK_REPORT_CHART_PAGES_H_
