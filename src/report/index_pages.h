// The index page and the three overview pages written at the end of a run.
#ifndef SORVIK_REPORT_INDEX_PAGES_H_
#define SORVIK_REPORT_INDEX_PAGES_H_

namespace sorvik {

void write_overview_pages();
void write_index_page();

}  // namespace sorvik

#endif  // SORVIK_REPORT_INDEX_PAGES_H_
