#include "report/index_pages.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/chart_pages.h"
#include "report/formats.h"
#include "report/page_frame.h"
#include "report/page_writer.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"

namespace sorvik {

namespace {

// A file of the HTML directory.
std::string html_path(std::string_view name) { return report_path(settings.html_dir, name); }

// The 1-based position of character `position` of `name` in `letters`; 0 when
// the name is too short or the letter is not there.
std::size_t letter_position(std::string_view name, std::size_t position,
                            const std::string& letters) {
  if (position > name.size()) return 0;
  const std::size_t found = letters.find(name[position - 1]);
  return found == std::string::npos ? 0 : found + 1;
}

bool has_mode_letter(std::string_view name, char letter) {
  return name.size() >= 5 && name[4] == letter;
}

// The anchor that sends a page back to its own top.
void write_top_anchor(PageWriter& page) { page.markup_line("<A NAME=\"ptop\"></A>"); }

// The cell of one listed page: a link named after its list and sort order when
// both of its letters are known, otherwise the plain name with the two letter
// positions (period pages take this form).
void write_page_cell(PageWriter& page, std::string_view name, std::size_t list_letter_at,
                     std::size_t sort_letter_at) {
  const std::size_t li = letter_position(name, list_letter_at, message_table.list_letters);
  const std::size_t si = letter_position(name, sort_letter_at, message_table.sort_letters);
  if (li >= 1 && si >= 1) {
    // The letters stand in the order of the lines they name: letter i of the
    // list letters stands for the list titled on line i, letter k of the sort
    // letters for sort key k - 1, named on line k - 1.
    page.markup("<TD><A HREF=\"");
    page.text(name);
    page.markup("\">");
    page.markup(lists_line(static_cast<int>(li)));
    page.markup(html_line(HtmlId::kSortedBy));
    page.markup(sort_options_line(static_cast<int>(si) - 1));
    page.markup("</A>");
    return;
  }
  page.markup("<TD>");
  page.markup(html_line(HtmlId::kPeriodPage));
  page.text(name);
  page.markup(html_line(HtmlId::kPageList));
  page.markup(std::to_string(li));
  page.markup(html_line(HtmlId::kPageSort));
  page.markup(std::to_string(si));
}

// The opening cell of a ROWSPAN group (a year or a period number), as a line.
void write_group_cell(PageWriter& page, std::size_t rows, std::string_view text) {
  page.markup("<TD ROWSPAN=" + std::to_string(rows) + " VALIGN=TOP>");
  page.text(text);
  page.markup_line("</TD>");
}

// The last position, from `a` up to `limit`, of the stretch of entries whose
// characters `first` to `last` equal those of entry `a`.
std::size_t stretch_end(const std::vector<ListEntry>& run, std::size_t a, std::size_t limit,
                        std::size_t first, std::size_t last) {
  const std::string_view shared = chars_at(run[a].key, first, last);
  std::size_t b = a;
  while (b + 1 <= limit && chars_at(run[b + 1].key, first, last) == shared) ++b;
  return b;
}

// The page cells of entries `from` to `to`, one row each; the first row was
// opened by its group cells.
void write_page_rows(PageWriter& page, const std::vector<ListEntry>& run, std::size_t from,
                     std::size_t to, std::size_t list_at, std::size_t sort_at) {
  for (std::size_t i = from; i <= to; ++i) {
    if (i != from) page.markup("<TR>");
    write_page_cell(page, run[i].key, list_at, sort_at);
    page.markup_line("</TD></TR>");
  }
}

// Rows of an overview page: one year cell per year group (characters 1 to 4).
// Year pages read their letters at characters 6 and 7; week and month pages
// split each year group into number groups (characters 6 and 7) and read
// their letters at characters 8 and 9.
void write_overview_rows(PageWriter& page, const std::vector<ListEntry>& run, bool numbered) {
  for (std::size_t a = 0; a < run.size();) {
    const std::size_t b = stretch_end(run, a, run.size() - 1, 1, 4);
    page.markup("<TR>");
    write_group_cell(page, b - a + 1, chars_at(run[a].key, 1, 4));
    if (!numbered) {
      write_page_rows(page, run, a, b, 6, 7);
    } else {
      for (std::size_t s = a; s <= b;) {
        const std::size_t t = stretch_end(run, s, b, 6, 7);
        if (s != a) page.markup("<TR>");
        write_group_cell(page, t - s + 1, chars_at(run[s].key, 6, 7));
        write_page_rows(page, run, s, t, 8, 9);
        s = t + 1;
      }
    }
    a = b + 1;
  }
}

// The first stretch of consecutive kPeriodPages entries with `letter` at
// character 5: the pages of the latest year of that run mode, and of earlier
// years while no page of another run mode lies between them.
std::vector<ListEntry> select_run(char letter) {
  const std::vector<ListEntry>& entries = list_snapshot(kPeriodPages).entries;
  std::size_t first = 0;
  while (first < entries.size() && !has_mode_letter(entries[first].key, letter)) ++first;
  std::size_t end = first;
  while (end < entries.size() && has_mode_letter(entries[end].key, letter)) ++end;
  return std::vector<ListEntry>(entries.begin() + first, entries.begin() + end);
}

// Writes one table row of the index page for a recorded period.
void write_index_row(PageWriter& page, int mode, const ResultEntry& entry) {
  const std::string& period = entry.name;
  const std::string link = cut_text(period + ".html");
  const bool has_page = path_exists(html_path(link));
  // The period's number (the year for year periods) links to its page.
  const auto write_linked = [&](std::string_view text) {
    if (has_page) {
      page.markup("<A HREF=\"");
      page.text(link);
      page.markup("\">");
    }
    page.text(text);
    if (has_page) page.markup("</A>");
  };
  page.markup("<TR><TD ALIGN=LEFT>");
  if (mode == kModeYears) {
    write_linked(chars_at(period, 1, 4));
  } else {
    page.text(chars_at(period, 1, 4));
    page.markup("</TD><TD ALIGN=RIGHT>");
    write_linked(chars_at(period, 6, 7));
  }
  page.markup("</TD><TD ALIGN=RIGHT>");
  page.markup(format_thousands(entry.files));
  page.markup("</TD><TD ALIGN=RIGHT>");
  page.markup(format_thousands(entry.kbytes));
  page.markup("</TD><TD ALIGN=RIGHT>");
  page.markup(format_thousands(entry.visits));
  page.markup_line("</TD></TR>");
}

// The table of one run mode on the index page, or, when the run mode recorded
// no period, the reports of its missing data.
void write_index_mode(PageWriter& page, int mode) {
  page.markup("<H2>");
  page.markup(html_line(mode == kModeYears    ? HtmlId::kYears
                        : mode == kModeMonths ? HtmlId::kMonths
                                              : HtmlId::kWeeks));
  page.markup_line("</H2>");

  const std::vector<ResultEntry>& entries = results.result_lists[mode];
  if (entries.empty()) {
    const std::string number = std::to_string(mode);
    console_line("Run mode " + number + " has no data!");
    error_log_entry(html_path("index.html"), "Run mode " + number + " has no data");
    return;
  }

  if (mode == kModeMonths) write_recent_months_chart(page);
  page.markup_line("<TABLE BORDER>");
  page.markup("<TR><TH>&nbsp;" + html_line(HtmlId::kYearColumn) + "&nbsp;</TH>");
  if (mode == kModeMonths) {
    page.markup("<TH>&nbsp;" + html_line(HtmlId::kMonthColumn) + "&nbsp;</TH>");
  }
  if (mode == kModeWeeks) {
    page.markup("<TH>&nbsp;" + html_line(HtmlId::kWeekColumn) + "&nbsp;</TH>");
  }
  page.markup_line("<TH ALIGN=RIGHT>&nbsp;" + html_line(HtmlId::kHitsColumn) +
                   "&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;" + html_line(HtmlId::kKbytesColumn) +
                   "&nbsp;</TH>");
  page.markup_line("<TH ALIGN=RIGHT>&nbsp;" + html_line(HtmlId::kVisitsColumn) +
                   "&nbsp;</TH></TR>");
  // The most recently recorded period comes first.
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    write_index_row(page, mode, *entry);
  }
  page.markup_line("</TABLE>");
}

}  // namespace

void write_overview_pages() {
  if (!settings.html_out || !settings.html_index) return;

  lists.current_entry.visits = 0;
  for (const DirectoryEntry& file : list_matching(settings.html_dir + "/2*.html")) {
    lists.current_entry.key = cut_text(file.name);
    lists.current_entry.hits = 1;
    // The kbytes field holds the file's size in bytes here.
    lists.current_entry.kbytes = file.size;
    list_add(kPeriodPages);
  }
  // Later years come first.
  list_sort(kPeriodPages, kByKeyDescending);

  const CountedList& pages = list_snapshot(kPeriodPages);
  console_line(std::to_string(pages.count) + html_line(HtmlId::kPagesFound));
  write_mode_overview_page('y', html_line(HtmlId::kYears));
  write_mode_overview_page('m', html_line(HtmlId::kMonths));
  write_mode_overview_page('w', html_line(HtmlId::kWeeks));
  console_line(html_line(HtmlId::kPagesSize) +
               format_thousands(list_snapshot(kPeriodPages).total_kbytes));
}

void write_mode_overview_page(char letter, const std::string& heading) {
  const char* file_name = letter == 'y'   ? "years.html"
                          : letter == 'm' ? "monthes.html"
                                          : "weeks.html";
  PageWriter page = PageWriter::create(html_path(file_name));
  write_page_header(page, cut_text("Weblog" + html_line(HtmlId::kOverviewTitle) + " http://" +
                                   settings.host_url));
  write_top_anchor(page);
  page.markup_line("Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>");
  page.markup_line("<A HREF=\"index.html\">" + html_line(HtmlId::kLogIndex) + "</A> ==> " +
                   heading);
  page.markup_line("<H1>" + heading + html_line(HtmlId::kOverviewTitle) + "http://" +
                   settings.host_url + "</H1>");

  page.markup_line(html_line(HtmlId::kOverviewPages) + "<UL>");
  if (letter == 'y') {
    page.markup_line("<LI><A HREF=\"years.html\">" + html_line(HtmlId::kYears) + "</A>,</LI>");
  } else if (letter == 'm') {
    page.markup_line("<LI><A HREF=\"monthes.html\">" + html_line(HtmlId::kMonths) + "</A>,</LI>");
  } else {
    page.markup_line("<LI><A HREF=\"weeks.html\">" + html_line(HtmlId::kWeeks) + "</A>.</LI>");
  }
  page.markup_line("</UL>");
  const int mode = letter == 'y' ? kModeYears : letter == 'm' ? kModeMonths : kModeWeeks;
  write_periods_chart(page, mode, heading);

  page.markup("<TABLE BORDER><TR><TH>&nbsp;" + html_line(HtmlId::kYearColumn) +
              "&nbsp;</TH><TH>&nbsp;");
  if (letter == 'm') {
    page.markup(html_line(HtmlId::kMonthColumn) + "&nbsp;</TH><TH>&nbsp;");
  }
  if (letter == 'w') {
    page.markup(html_line(HtmlId::kWeekColumn) + "&nbsp;</TH><TH>&nbsp;");
  }
  page.markup_line(html_line(HtmlId::kPageColumn) + "&nbsp;</TH></TR>");

  write_overview_rows(page, select_run(letter), letter != 'y');

  page.markup_line("</TABLE>");
  write_back_to_top(page);
  write_page_footer(page);
  page.finish();
}

void write_index_page() {
  if (!settings.html_out || !settings.html_index) return;

  PageWriter page = PageWriter::create(html_path("index.html"));
  write_page_header(
      page, cut_text("Weblog" + html_line(HtmlId::kIndexTitle) + " http://" + settings.host_url));
  write_top_anchor(page);
  page.markup("Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A>");
  page.markup_line(html_line(HtmlId::kIndexPath));
  page.markup_line("<H1>" + html_line(HtmlId::kIndexTitle) + " http://" + settings.host_url +
                   "</H1>");
  page.markup_line(html_line(HtmlId::kOverviewPages));
  page.markup_line("<UL><LI><A HREF=\"years.html\">" + html_line(HtmlId::kIndexLinkYears) +
                   "</A>,</LI>");
  page.markup_line("<LI><A HREF=\"monthes.html\">" + html_line(HtmlId::kIndexLinkMonths) +
                   "</A>,</LI>");
  page.markup_line("<LI><A HREF=\"weeks.html\">" + html_line(HtmlId::kIndexLinkWeeks) +
                   "</A>.</LI></UL>");

  for (int mode = kModeYears; mode <= kModeWeeks; ++mode) write_index_mode(page, mode);

  write_back_to_top(page);
  write_page_footer(page);
  page.finish();
  console_line("Closing index file.");
}

}  // namespace sorvik
