#include "report/top_table.h"

#include <string>

#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/chart_pages.h"
#include "report/formats.h"
#include "report/page_frame.h"
#include "report/sort_captions.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// Longest key piece on one row of a table, and the longest key that can
// still be a link.
constexpr std::size_t kKeyPieceWidth = 70;

// The list letter and the sort letter that name a table's anchor and page.
std::string table_letters(const CountedList& list) {
  std::string letters;
  letters += list.list_letter;
  letters += list.sort_letter;
  return letters;
}

// "<H3>Top <shown> of <count> <title> <sorted by ...></H3>", cut at 255 bytes.
std::string caption_line(int k, const CountedList& list) {
  return cut_text("<H3>" + top_caption(shown_entries(list), list) + " " + sort_caption(k) +
                  "</H3>");
}

// The column heads after the first "<TH>", to the end of the head row.
std::string column_heads(int k, const CountedList& list) {
  return "&nbsp;" + list.title + "&nbsp;</TH><TH>&nbsp;" + value_caption(k) +
         "&nbsp;</TH><TH>&nbsp;%&nbsp;</TH></TR>";
}

// The key cell's lines: the raw key cut into 70-byte pieces, each escaped on
// a line of its own, the later ones indented.
void write_key_cell(PageWriter& page, std::string_view key) {
  for (;;) {
    const std::string_view piece = key.substr(0, kKeyPieceWidth);
    page.text(piece).markup_line();
    key.remove_prefix(piece.size());
    if (key.empty()) return;
    page.markup("<BR>&nbsp;&nbsp;&nbsp;");
  }
}

// The value and share cells that end a row.
void write_value_cells(PageWriter& page, int64_t value, int64_t total) {
  char number[kThousandsSize];
  page.markup("</TD><TD ALIGN=RIGHT>")
      .markup(std::string_view(number, format_thousands_into(number, value)))
      .markup("</TD><TD ALIGN=RIGHT>")
      .markup(format_percent(value, total))
      .markup_line("</TD></TR>");
}

// True when `key` of list `slot` is shown as a link; the test looks at the
// raw key, and only the referrer lists carry links.
bool is_link(int slot, std::string_view key) {
  return (slot == kExternalReferrers || slot == kSearchEngines) && key.size() <= kKeyPieceWidth &&
         (key.starts_with("http://") || key.starts_with("https://"));
}

void write_table_page_head(PageWriter& page, std::string_view period) {
  write_page_header(
      page, cut_text("Weblog" + html_line(HtmlId::kStatistics) + " http://" + settings.host_url));
  write_period_path(page, period);
  page.markup_line("<H1>Weblog" + html_line(HtmlId::kStatistics) + " http://" + settings.host_url +
                   "</H1>");
  // Unlike the period page, this heading has no blanks between its parts.
  page.markup("<H2>").markup(html_line(HtmlId::kHeadingYear)).text(chars_at(period, 1, 4));
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m" || mode == "w") {
    page.markup(html_line(mode == "m" ? HtmlId::kHeadingMonth : HtmlId::kHeadingWeek))
        .text(chars_at(period, 6, 7));
  }
  page.markup_line("</H2>");
}

}  // namespace

bool wants_table_pages(std::string_view period) {
  const auto has = [&](char letter) { return period.find(letter) != std::string_view::npos; };
  return (has('w') && settings.html_week) || (has('y') && settings.html_year) ||
         (has('m') && settings.html_month);
}

int32_t shown_entries(const CountedList& list) {
  return list.count > settings.html_tables ? settings.html_tables : list.count;
}

void write_period_page_table(PageWriter& page, int slot, int k, const CountedList& list) {
  page.markup("<A NAME=\"").markup(table_letters(list)).markup("\"> </A>");
  page.markup_line(caption_line(k, list));
  write_list_chart(page, slot);
  page.markup_line("<TABLE BORDER=2>");
  page.markup("<TR><TH ALIGN=RIGHT>&nbsp;N&nbsp;</TH><TH>").markup(column_heads(k, list));
  const int64_t total = section_total(k, list);
  const int32_t shown = shown_entries(list);
  for (int32_t i = 1; i <= shown; ++i) {
    const ListEntry& entry = *list_entry_at(slot, i);
    const std::string_view key = entry.key;
    page.markup("<TR><TD ALIGN=RIGHT>").markup(std::to_string(i)).markup("</TD><TD ALIGN=LEFT>");
    if (is_link(slot, key)) {
      page.markup("<A HREF=\"").text(key).markup("\">").text(key).markup_line("</A>");
    } else {
      write_key_cell(page, key);
    }
    write_value_cells(page, sort_value(k, entry.hits, entry.kbytes, entry.visits), total);
  }
  page.markup_line("<TR><TH>&nbsp;&nbsp;&nbsp;</TH><TH ALIGN=LEFT>&nbsp;" +
                   html_line(HtmlId::kTotal) + "&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;" +
                   format_thousands(total) +
                   "&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH></TR>");
  page.markup_line("</TABLE><BR>");
  write_back_to_top(page);
}

void write_table_page(std::string_view period, BlockWriter* writer, int slot, int k,
                      const CountedList& list) {
  std::string name(period);
  name += table_letters(list);
  name += ".html";
  PageWriter page = PageWriter::create_later(report_path(settings.html_dir, name), writer);
  write_table_page_head(page, period);
  page.markup_line(caption_line(k, list));
  page.markup_line("<TABLE BORDER=2>");
  page.markup("<TR><TH>").markup(column_heads(k, list));
  const int64_t total = section_total(k, list);
  const int32_t shown = shown_entries(list);
  for (int32_t i = 1; i <= shown; ++i) {
    const ListEntry& entry = *list_entry_at(slot, i);
    page.markup("<TR><TD ALIGN=LEFT>");
    write_key_cell(page, entry.key);
    write_value_cells(page, sort_value(k, entry.hits, entry.kbytes, entry.visits), total);
  }
  page.markup_line("<TR><TH ALIGN=LEFT>" + html_line(HtmlId::kTotal) + "</TH><TH ALIGN=RIGHT>" +
                   format_thousands(total) + "</TH><TH ALIGN=RIGHT>100.00</TH></TR>");
  page.markup_line("</TABLE>");
  write_back_to_top(page);
  write_page_footer(page);
  page.finish();
}

}  // namespace sorvik
