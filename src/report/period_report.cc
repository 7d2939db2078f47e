#include "report/period_report.h"

#include <string_view>

#include "base/block_writer.h"
#include "base/console.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/page_frame.h"
#include "report/text_section.h"
#include "report/top_table.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// Which sections the period page carries, by sort key 1..4 (rows) and list
// slot 1..20 (columns): exactly the sections the period flush requests, so the
// table of contents looks the same for every period.
// Character p - 1 of row e - 1 stands for slot p under key e.
constexpr std::string_view kTableMatrix[kByVisits] = {"                   X",   // key 1
                                                      "X XXXXXXXXXXXXXXXXX ",   // key 2
                                                      "X  XXX              ",   // key 3
                                                      " X                  "};  // key 4

// Character i (from 1) of a letter line of the language file, or the
// character with code 0 when the line is shorter: the lists themselves get
// that letter then, so links and anchors still agree.
char letter_at(const std::string& letters, int i) {
  if (i < 1 || static_cast<std::size_t>(i) > letters.size()) return '\0';
  return letters[static_cast<std::size_t>(i) - 1];
}

// Reports a period file that cannot be created and ends the run.
[[noreturn]] void stop_for_period_file(const std::string& path, int error_number) {
  console_line(html_line(HtmlId::kCannotCreateFile) + " " + path);
  console_line(html_line(HtmlId::kRunStopped));
  console_line(html_line(HtmlId::kErrorCode) + " " + std::to_string(error_number));
  stop_run(kExitFileNotCreated, true);
}

void open_text_file(const std::string& heading) {
  const std::string path = report_path(settings.target_dir, report.current_period + ".txt");
  int error_number = 0;
  if (!try_create_output(path, report.period_text_file, error_number)) {
    stop_for_period_file(path, error_number);
  }
  OutputFile& file = report.period_text_file;
  write_line(file, heading);
  write_line(file, std::string(heading.size(), '-'));
  write_line(file);
}

void write_table_of_contents(PageWriter& page) {
  page.markup_line("<TABLE BORDER=2><TR><TH>&nbsp;" + html_line(HtmlId::kTableColumn) +
                   "&nbsp;</TH>");
  // The sort names and the list titles are walked by their line numbers:
  // line e of "Sort options" names sort key e, line p of "Lists" is the
  // title of list p, letter e + 1 of the sort letters stands for sort key e.
  for (int e = kByKey; e <= kByVisits; ++e) {
    page.markup("<TH>&nbsp;").markup(sort_options_line(e)).markup("&nbsp;</TH>");
  }
  page.markup_line("</TR>");
  for (int p = kClients; p <= kPeriodListSlots; ++p) {
    page.markup("<TR><TD>").markup(lists_line(p)).markup_line("</TD>");
    for (int e = kByKey; e <= kByVisits; ++e) {
      if (kTableMatrix[e - 1][p - 1] == 'X') {
        const char anchor[] = {letter_at(message_table.list_letters, p),
                               letter_at(message_table.sort_letters, e + 1)};
        page.markup("<TD ALIGN=CENTER><A HREF=\"#")
            .markup(std::string_view(anchor, 2))
            .markup("\">X</A></TD>");
      } else {
        page.markup("<TD ALIGN=CENTER>-</TD>");
      }
    }
    page.markup_line("</TR>");
  }
  page.markup_line("</TABLE>");
}

void open_period_page() {
  const std::string& period = report.current_period;
  const std::string path = report_path(settings.html_dir, period + ".html");
  int error_number = 0;
  if (!PageWriter::try_create(path, report.period_page, error_number)) {
    stop_for_period_file(path, error_number);
  }
  PageWriter& page = report.period_page;
  write_page_header(
      page, cut_text("Weblog " + html_line(HtmlId::kStatistics) + " http://" + settings.host_url));
  write_period_path(page, period);
  page.markup_line("<H1>Weblog " + html_line(HtmlId::kStatistics) + " http://" + settings.host_url +
                   "</H1>");
  page.markup("<H2>").markup(html_line(HtmlId::kHeadingYear)).markup(" ");
  page.text(chars_at(period, 1, 4)).markup(" ");
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m" || mode == "w") {
    page.markup(html_line(mode == "m" ? HtmlId::kHeadingMonth : HtmlId::kHeadingWeek))
        .markup(" ")
        .text(chars_at(period, 6, 7));
  }
  page.markup_line("</H2>");
  write_table_of_contents(page);
}

}  // namespace

void open_period_report(const std::string& period, const std::string& heading) {
  report.current_period = cut_text(period);
  if (settings.text_out) open_text_file(cut_text(heading));
  if (settings.html_out) open_period_page();
}

void write_top_table(int slot, int sort_key) {
  if (list_snapshot(slot).count < 1) return;
  list_sort(slot, sort_key);
  const CountedList& list = list_snapshot(slot);

  if (settings.text_out && report.period_text_file.is_open()) {
    write_text_section(report.period_text_file, report.block_writer, slot, sort_key, list);
    // The lines used to be made from fetched entries; the last one stays staged.
    list_fetch(slot, list.count);
  }

  const bool separate = wants_table_pages(report.current_period);
  if (!settings.html_out && !separate) return;
  // The table page first: a page that cannot be created ends the run before
  // the period page shows the table.
  if (separate) write_table_page(report.current_period, report.block_writer, slot, sort_key, list);
  if (settings.html_out && report.period_page.is_open()) {
    write_period_page_table(report.period_page, slot, sort_key, list);
  }
  // As above, for the tables' rows.
  const int32_t shown = shown_entries(list);
  if (shown >= 1) list_fetch(slot, shown);
}

void close_period_report(int64_t kbytes) {
  // The sections' blocks are written before anything else goes to the file.
  finish_blocks(report.block_writer);
  if (settings.text_out && report.period_text_file.is_open()) {
    OutputFile& file = report.period_text_file;
    write_line(file);
    write_line(file, dotted_total_line(html_line(HtmlId::kTransferredVolume), kbytes) + " kB");
    close_output(file);
  }
  if (settings.html_out && report.period_page.is_open()) {
    write_page_footer(report.period_page);
    report.period_page.finish();
  }
}

}  // namespace sorvik
