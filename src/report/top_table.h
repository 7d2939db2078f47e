// The HTML tables of a ranked section: the table on the period page, and
// the page of its own that a run mode's "Html_..." switch asks for. Both
// show the first `html_tables` entries of the list, each key escaped and
// cut into rows of 70 bytes, with its value and share, and the total row.
#ifndef SORVIK_REPORT_TOP_TABLE_H_
#define SORVIK_REPORT_TOP_TABLE_H_

#include <cstdint>
#include <string_view>

#include "report/page_writer.h"

namespace sorvik {

struct BlockWriter;
struct CountedList;

// True when the run mode of `period` (its "w", "m" or "y") asks for a page
// of its own per table.
bool wants_table_pages(std::string_view period);

// The number of entries the tables of `list` show.
int32_t shown_entries(const CountedList& list);

// Writes the table of `list` (list slot `slot`, sorted by sort key `k`) on
// the period page: its anchor, caption, the list's chart when it has one
// and html_charts asks for it, numbered rows, total row and the "back to
// top" link. Keys of the referrer lists that are whole http or
// https addresses of at most 70 bytes are links.
void write_period_page_table(PageWriter& page, int slot, int k, const CountedList& list);

// Writes the page of its own of that table for `period`, named after the
// period, the list letter and the sort letter; with `writer` set the page is
// made in memory and created on the writer's thread. A page that cannot be
// created ends the run.
void write_table_page(std::string_view period, BlockWriter* writer, int slot, int k,
                      const CountedList& list);

}  // namespace sorvik

#endif  // SORVIK_REPORT_TOP_TABLE_H_
