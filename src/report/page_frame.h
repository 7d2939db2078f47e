// The shared pieces of every report file: the report state, the page header
// and footer, number formats, and the one door through which text from log
// data reaches an HTML page (escaped).
#ifndef SORVIK_REPORT_PAGE_FRAME_H_
#define SORVIK_REPORT_PAGE_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_io.h"

namespace sorvik {

struct BlockWriter;

struct ReportState {
  // Title of the page being written; every page writer sets it right before
  // write_page_header. At most 255 bytes.
  std::string page_title;
  // Name of the period whose files are open (e.g. "2002w23").
  std::string current_period;
  OutputFile period_text_file;  // open while text_out is set
  OutputFile period_html_file;  // open while html_out is set
  // Writes the text sections' blocks when set; unset, they are written at once.
  BlockWriter* block_writer = nullptr;
};

extern ReportState report;

// Closes any open report file (without reporting errors: the run is being
// abandoned or restarted) and empties the report state.
void reset_report();

// Writes `text` from log data or the resolver to a page, escaping & < > ".
void write_html_escaped(OutputFile& file, std::string_view text);
// Writes `text` unescaped: only for markup and texts of the language file or
// the configuration.
void write_html_raw(OutputFile& file, std::string_view text);
// `text` with & < > " replaced by their entities.
std::string html_escape(std::string_view text);

// `dir` + "/" + `name`; one "/" is added even when `dir` already ends in one.
std::string report_path(std::string_view dir, std::string_view name);

// Decimal digits of `n` with `settings.ksep` in front of every complete group
// of three that has a digit to its left; a negative number gets a leading "-".
std::string format_thousands(int64_t n);
// The longest text format_thousands gives: a sign, 20 digits, 6 separators.
inline constexpr std::size_t kThousandsSize = 27;
// format_thousands into `out` (kThousandsSize bytes); the number of bytes.
std::size_t format_thousands_into(char* out, int64_t n);
// `n` taken as an unsigned 16-bit number, with a "0" in front of one digit.
std::string format_two_digits(int n);
// "YYYYMMDD;HHMMSSCC" from two clock readings: the date, then the time.
std::string created_stamp();
// value * 100 / total in extended precision, six wide with two decimals and
// `settings.decsep` as decimal mark; "-" when total is zero or negative.
std::string format_percent(int64_t value, int64_t total);

// Header line k (1..9) and footer line k (1..4); an empty text for other k.
std::string page_header_line(int k);
std::string page_footer_line(int k);

void write_page_header(OutputFile& file);
void write_page_footer(OutputFile& file);
// The "back to top" link line that ends sections and pages.
void write_back_to_top(OutputFile& file);

}  // namespace sorvik

#endif  // SORVIK_REPORT_PAGE_FRAME_H_
