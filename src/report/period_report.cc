#include "report/period_report.h"

#include <string_view>

#include "base/block_writer.h"
#include "base/console.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/page_frame.h"
#include "report/top_table.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// Which sections the period page carries, by sort key 1..4 (rows) and list
// slot 1..20 (columns): exactly the sections the period flush requests, so the
// table of contents looks the same for every period.
// Character p - 1 of row e - 1 stands for slot p under key e.
constexpr std::string_view kTableMatrix[4] = {"                   X",   // key 1
                                              "X XXXXXXXXXXXXXXXXX ",   // key 2
                                              "X  XXX              ",   // key 3
                                              " X                  "};  // key 4

// Creates `path` or ends the run with the report-creation messages.
void create_period_file(const std::string& path, OutputFile& file) {
  int error_number = 0;
  if (try_create_output(path, file, error_number)) return;
  console_line(html_line(HtmlId::kCannotCreateFile) + " " + path);
  console_line(html_line(HtmlId::kRunStopped));
  console_line(html_line(HtmlId::kErrorCode) + " " + std::to_string(error_number));
  stop_run(kExitFileNotCreated, true);
}

void write_text_head(const std::string& heading) {
  OutputFile& file = report.period_text_file;
  write_line(file, heading);
  write_line(file, std::string(heading.size(), '-'));
  write_line(file);
}

void write_table_of_contents(OutputFile& file) {
  write_line(file,
             "<TABLE BORDER=2><TR><TH>&nbsp;" + html_line(HtmlId::kTableColumn) + "&nbsp;</TH>");
  // The sort names and the list titles are walked by their line numbers:
  // line e of "Sort options" names sort key e, line p of "Lists" is the
  // title of list p.
  for (int e = kByKey; e <= kByVisits; ++e) {
    write_text(file, "<TH>&nbsp;" + sort_options_line(e) + "&nbsp;</TH>");
  }
  write_line(file, "</TR>");
  for (int p = 1; p <= kPeriodListSlots; ++p) {
    write_line(file, "<TR><TD>" + lists_line(p) + "</TD>");
    for (int e = kByKey; e <= kByVisits; ++e) {
      if (kTableMatrix[e - 1][p - 1] == 'X') {
        std::string cell = "<TD ALIGN=CENTER><A HREF=\"#";
        cell += letter_at(message_table.list_letters, p);
        cell += letter_at(message_table.sort_letters, e + 1);
        cell += "\">X</A></TD>";
        write_text(file, cell);
      } else {
        write_text(file, "<TD ALIGN=CENTER>-</TD>");
      }
    }
    write_line(file, "</TR>");
  }
  write_line(file, "</TABLE>");
}

void write_html_head(const std::string& period) {
  OutputFile& file = report.period_html_file;
  report.page_title =
      cut_text("Weblog " + html_line(HtmlId::kStatistics) + " http://" + settings.host_url);
  write_page_header(file);
  write_period_path(file, period);
  write_line(file, "<H1>Weblog " + html_line(HtmlId::kStatistics) + " http://" + settings.host_url +
                       "</H1>");
  write_text(file, "<H2>" + html_line(HtmlId::kHeadingYear) + " ");
  write_html_escaped(file, chars_at(period, 1, 4));
  write_text(file, " ");
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m" || mode == "w") {
    write_text(file, html_line(mode == "m" ? HtmlId::kHeadingMonth : HtmlId::kHeadingWeek) + " ");
    write_html_escaped(file, chars_at(period, 6, 7));
  }
  write_line(file, "</H2>");
  write_table_of_contents(file);
}

}  // namespace

void write_period_path(OutputFile& file, const std::string& period) {
  write_text(file, "<A NAME=\"ptop\"></A>Path: ");
  write_line(file, "<A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>");
  write_text(file, "<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"");
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m") {
    write_text(file, "monthes.html\">" + html_line(HtmlId::kPathMonths));
  } else if (mode == "w") {
    write_text(file, "weeks.html\">" + html_line(HtmlId::kPathWeeks));
  } else if (mode == "y") {
    write_text(file, "years.html\">" + html_line(HtmlId::kPathYears));
  }
  write_text(file, html_line(HtmlId::kPathOverview) + "</A> ==> Log ");
  write_html_escaped(file, period);
  write_line(file);
}

void open_period_report(const std::string& period, const std::string& heading) {
  report.current_period = cut_text(period);
  if (settings.text_out) {
    create_period_file(report_path(settings.target_dir, report.current_period + ".txt"),
                       report.period_text_file);
    write_text_head(cut_text(heading));
  }
  if (settings.html_out) {
    create_period_file(report_path(settings.html_dir, report.current_period + ".html"),
                       report.period_html_file);
    write_html_head(report.current_period);
  }
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
  if (settings.html_out && report.period_html_file.is_open()) {
    write_page_footer(report.period_html_file);
    close_output(report.period_html_file);
  }
}

}  // namespace sorvik
