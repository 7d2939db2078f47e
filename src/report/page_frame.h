// The report state of the period being written, and the frame that every
// HTML page shares: its header and footer, the "back to top" link and the
// path line of period and table pages.
#ifndef SORVIK_REPORT_PAGE_FRAME_H_
#define SORVIK_REPORT_PAGE_FRAME_H_

#include <string>
#include <string_view>

#include "base/file_io.h"
#include "report/page_writer.h"

namespace sorvik {

struct BlockWriter;

struct ReportState {
  // Name of the period whose files are open (e.g. "2002w23").
  std::string current_period;
  OutputFile period_text_file;  // open while text_out is set
  PageWriter period_page;       // open while html_out is set
  // Writes the text sections' blocks and creates the table pages when set;
  // unset, both are written at once.
  BlockWriter* block_writer = nullptr;
};

extern ReportState report;

// Closes any open report file (without reporting errors: the run is being
// abandoned or restarted) and empties the report state.
void reset_report();

// `dir` + "/" + `name`; one "/" is added even when `dir` already ends in one.
std::string report_path(std::string_view dir, std::string_view name);

// Header line k (1..9) of a page titled `title` (line 3 carries the title)
// and footer line k (1..4); an empty text for other k. Lines are cut at 255
// bytes.
std::string page_header_line(int k, std::string_view title);
std::string page_footer_line(int k);

// The header lines of a page titled `title`, which is markup (the language
// file's and configuration's texts).
void write_page_header(PageWriter& page, std::string_view title);
void write_page_footer(PageWriter& page);
// The "back to top" link line that ends sections and pages.
void write_back_to_top(PageWriter& page);
// The "ptop" anchor and the path of links from the site's home over the log
// index and the run mode's overview page to `period` (escaped), as period
// and table pages begin after their header.
void write_period_path(PageWriter& page, std::string_view period);

}  // namespace sorvik

#endif  // SORVIK_REPORT_PAGE_FRAME_H_
