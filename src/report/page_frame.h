// The shared pieces of every report file: the report state, the page header
// and footer, number formats, and the one door through which text from log
// data reaches an HTML page (escaped).
#ifndef SORVIK_REPORT_PAGE_FRAME_H_
#define SORVIK_REPORT_PAGE_FRAME_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/file_io.h"

namespace sorvik {

struct ReportState {
  std::string page_title;
  std::string current_period;
  OutputFile period_text_file;
  OutputFile period_html_file;
};

extern ReportState report;

// Closes any open report file and empties the report state.
void reset_report();

// Writes `text` from log data or the resolver to a page, escaping & < > ".
void write_html_escaped(OutputFile& file, std::string_view text);
// Writes `text` unescaped: only for markup and texts of the language file or
// the configuration.
void write_html_raw(OutputFile& file, std::string_view text);
// `text` with & < > " replaced by their entities.
std::string html_escape(std::string_view text);

std::string format_thousands(int64_t n);
std::string format_two_digits(int n);
std::string created_stamp();
std::string format_percent(int64_t value, int64_t total);

void write_page_header(OutputFile& file);
void write_page_footer(OutputFile& file);
void write_back_to_top(OutputFile& file);

}  // namespace sorvik

#endif  // SORVIK_REPORT_PAGE_FRAME_H_
