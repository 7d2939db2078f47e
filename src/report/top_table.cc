#include "report/top_table.h"

#include "base/block_writer.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "report/page_frame.h"
#include "report/period_report.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

constexpr std::size_t kDottedWidth = 60;
// Longest key piece on one row of an HTML table, and the longest key that can
// still be a link.
constexpr std::size_t kKeyPieceWidth = 70;

// The section total that sort key k divides by.
int64_t section_total(int k, const CountedList& list) {
  switch (k) {
    case kByKbytes:
      return list.total_kbytes;
    case kByVisits:
      return static_cast<int64_t>(list.total_visits);
    default:
      return static_cast<int64_t>(list.total_hits);
  }
}

// True when the run mode of `period` asks for a separate page per table.
bool wants_table_pages(const std::string& period) {
  const auto has = [&](char letter) { return period.find(letter) != std::string::npos; };
  return (has('w') && settings.html_week) || (has('y') && settings.html_year) ||
         (has('m') && settings.html_month);
}

void write_table_page_head(OutputFile& file, const std::string& period) {
  report.page_title =
      cut_text("Weblog" + html_line(HtmlId::kStatistics) + " http://" + settings.host_url);
  write_page_header(file);
  write_period_path(file, period);
  write_line(file, "<H1>Weblog" + html_line(HtmlId::kStatistics) + " http://" + settings.host_url +
                       "</H1>");
  // Unlike the period page, this heading has no blanks between its parts.
  write_text(file, "<H2>" + html_line(HtmlId::kHeadingYear));
  write_html_escaped(file, chars_at(period, 1, 4));
  const std::string_view mode = chars_at(period, 5, 5);
  if (mode == "m" || mode == "w") {
    write_text(file, html_line(mode == "m" ? HtmlId::kHeadingMonth : HtmlId::kHeadingWeek));
    write_html_escaped(file, chars_at(period, 6, 7));
  }
  write_line(file, "</H2>");
}

// Makes the lines of dotted_entry_lines and hands each one to `emit`;
// `line` is working space that keeps its capacity from call to call.
template <typename Emit>
void build_dotted_entry_lines(std::string_view key, int64_t number, std::string_view caption,
                              std::string& line, Emit&& emit) {
  // Deliberately not cut at 255 bytes: a long key must not lose its number.
  char number_text[kThousandsSize];
  const std::string_view t(number_text, format_thousands_into(number_text, number));
  if (key.size() + 3 + t.size() <= kDottedWidth) {
    // The usual line, which needs no second row: made in one go.
    line.assign(key);
    line += ' ';
    line.append(kDottedWidth - key.size() - 3 - t.size(), '.');
    line += ". ";
    line += t;
    line += ' ';
    line.append(caption);
    emit(cut_view(line));
    return;
  }
  line.assign(key);
  line += " . ";
  line += t;
  std::size_t p = key.size() + 2;  // 1-based position of the leader's dot
  const std::size_t q = t.size() + 2;
  while (line.size() > kDottedWidth) {
    const std::size_t piece = kDottedWidth - q;
    emit(std::string_view(line).substr(0, piece));
    line.replace(0, piece, "   ");
    p = p - piece + 3;
  }
  if (line.size() < kDottedWidth) line.insert(p - 1, kDottedWidth - line.size(), '.');
  line += ' ';
  line.append(caption);
  emit(cut_view(line));
}

// The text section holds every entry of the list, so its lines are built in
// one reused buffer and written in large blocks (by the report's block
// writer when there is one) instead of line by line.
void write_text_section(int slot, int k, const CountedList& list) {
  OutputFile& file = report.period_text_file;
  constexpr std::size_t kBlock = 64 * 1024;
  std::string block;
  block.reserve(kBlock + 1024);
  block += std::to_string(list.count) + " " + list.title + sort_caption(k);
  block += '\n';
  const std::string caption = value_caption(k);
  // The usual line, key and number on one row, goes straight into the block
  // when it is whole within 255 bytes; any other through the scratch line.
  const bool usual_fits = kDottedWidth + 1 + caption.size() <= kTextLimit;
  std::string scratch;
  const auto emit = [&](std::string_view line) {
    block.append(line);
    block += '\n';
  };
  // After a sort the keys (held apart from the entries when long) are
  // scattered in memory: those a few rows ahead are asked for early.
  constexpr std::size_t kAhead = 8;
  const std::vector<ListEntry>& entries = list.entries;
  for (int64_t i = 1; i <= list.count; ++i) {
    const std::size_t ahead = static_cast<std::size_t>(i) - 1 + kAhead;
    if (ahead < entries.size()) __builtin_prefetch(entries[ahead].key.data());
    const ListEntry& entry = *list_entry_at(slot, i);
    const int64_t v = sort_value(k, entry.hits, entry.kbytes, entry.visits);
    char number_text[kThousandsSize];
    const std::size_t digits = format_thousands_into(number_text, v);
    if (usual_fits && entry.key.size() + 3 + digits <= kDottedWidth) {
      block += entry.key;
      block += ' ';
      block.append(kDottedWidth - entry.key.size() - 3 - digits, '.');
      block += ". ";
      block.append(number_text, digits);
      block += ' ';
      block += caption;
      block += '\n';
    } else {
      build_dotted_entry_lines(entry.key, v, caption, scratch, emit);
    }
    if (block.size() >= kBlock) {
      write_block(report.block_writer, file, block);
      block.reserve(kBlock + 1024);
    }
  }
  block += "---\n";
  write_block(report.block_writer, file, block);
  // The lines used to be made from fetched entries; the last one stays staged.
  if (list.count >= 1) list_fetch(slot, list.count);
}

// Writes the key cell's lines: the raw key is cut into 70-character pieces,
// and each piece is escaped as it is written.
void write_key_cell(OutputFile* table_page, OutputFile* period_page, std::string_view key,
                    bool is_link) {
  do {
    const std::string_view piece = key.substr(0, kKeyPieceWidth);
    if (table_page != nullptr) {
      write_html_escaped(*table_page, piece);
      write_line(*table_page);
    }
    if (period_page != nullptr) {
      if (is_link) {
        const std::string escaped = html_escape(key);
        write_line(*period_page, "<A HREF=\"" + escaped + "\">" + escaped + "</A>");
      } else {
        write_html_escaped(*period_page, piece);
        write_line(*period_page);
      }
    }
    key.remove_prefix(piece.size());
    if (!key.empty()) {
      if (table_page != nullptr) write_text(*table_page, "<BR>&nbsp;&nbsp;&nbsp;");
      if (period_page != nullptr) write_text(*period_page, "<BR>&nbsp;&nbsp;&nbsp;");
    }
  } while (!key.empty());
}

}  // namespace

char letter_at(const std::string& letters, int i) {
  // A short letter line gives the character with code 0, as the lists
  // themselves get it, so links and anchors still agree.
  if (i < 1 || static_cast<std::size_t>(i) > letters.size()) return '\0';
  return letters[static_cast<std::size_t>(i) - 1];
}

int64_t sort_value(int k, uint64_t hits, int64_t kbytes, uint64_t visits) {
  switch (k) {
    case kByKbytes:
      return kbytes;
    case kByVisits:
      return static_cast<int64_t>(visits);
    default:
      return static_cast<int64_t>(hits);
  }
}

std::string sort_caption(int k) {
  HtmlId order = HtmlId::kNoOrder;
  switch (k) {
    case kByKey:
      order = HtmlId::kOrderByKey;
      break;
    case kByHits:
      order = HtmlId::kOrderByHits;
      break;
    case kByKbytes:
      order = HtmlId::kOrderByKbytes;
      break;
    case kByVisits:
      order = HtmlId::kOrderByVisits;
      break;
  }
  return cut_text(html_line(HtmlId::kSortedBy) + " " + html_line(order));
}

std::string value_caption(int k) {
  switch (k) {
    case kByKey:
      return html_line(HtmlId::kValueByKey);
    case kByHits:
      return html_line(HtmlId::kValueByHits);
    case kByKbytes:
      return html_line(HtmlId::kValueByKbytes);
    case kByVisits:
      return html_line(HtmlId::kValueByVisits);
    default:
      return "???";
  }
}

std::vector<std::string> dotted_entry_lines(std::string_view key, int64_t number,
                                            std::string_view caption) {
  std::vector<std::string> lines;
  std::string scratch;
  build_dotted_entry_lines(key, number, caption, scratch,
                           [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string dotted_total_line(std::string_view label, int64_t number) {
  std::string line(label);
  line += "  ";
  line += format_thousands(number);
  if (line.size() < kDottedWidth) line.insert(label.size() + 1, kDottedWidth - line.size(), '.');
  return cut_text(line);
}

void write_top_table(int slot, int k) {
  const int32_t n = list_snapshot(slot).count;
  if (n < 1) return;
  list_sort(slot, k);
  const CountedList& list = list_snapshot(slot);

  if (settings.text_out && report.period_text_file.is_open()) write_text_section(slot, k, list);

  const std::string& period = report.current_period;
  const bool separate = wants_table_pages(period);
  if (!settings.html_out && !separate) return;

  std::string letters;
  letters += list.list_letter;
  letters += list.sort_letter;
  OutputFile table_file;
  OutputFile* table_page = nullptr;
  OutputFile* period_page =
      settings.html_out && report.period_html_file.is_open() ? &report.period_html_file : nullptr;
  if (separate) {
    const std::string path = report_path(settings.html_dir, period + letters + ".html");
    // With a block writer the page is made in memory and created on the
    // writer's thread: a period has a page for each table.
    table_file = report.block_writer != nullptr ? memory_output(path) : create_output(path);
    table_page = &table_file;
    write_table_page_head(*table_page, period);
  }

  const int32_t shown = n > settings.html_tables ? settings.html_tables : n;
  const std::string caption_line =
      cut_text("<H3>Top " + std::to_string(shown) + " " + html_line(HtmlId::kOf) + " " +
               std::to_string(n) + " " + list.title + " " + sort_caption(k) + "</H3>");
  const std::string column_heads = "&nbsp;" + list.title + "&nbsp;</TH><TH>&nbsp;" +
                                   value_caption(k) + "&nbsp;</TH><TH>&nbsp;%&nbsp;</TH></TR>";
  if (table_page != nullptr) {
    write_line(*table_page, caption_line);
    write_line(*table_page, "<TABLE BORDER=2>");
    write_text(*table_page, "<TR><TH>" + column_heads);
  }
  if (period_page != nullptr) {
    write_text(*period_page, "<A NAME=\"" + letters + "\"> </A>");
    write_line(*period_page, caption_line);
    write_line(*period_page, "<TABLE BORDER=2>");
    write_text(*period_page, "<TR><TH ALIGN=RIGHT>&nbsp;N&nbsp;</TH><TH>" + column_heads);
  }

  const int64_t total = section_total(k, list);
  for (int32_t i = 1; i <= shown; ++i) {
    list_fetch(slot, i);
    const EntryValues& entry = lists.current_entry;
    const int64_t v = sort_value(k, entry.hits, entry.kbytes, entry.visits);
    if (table_page != nullptr) write_text(*table_page, "<TR><TD ALIGN=LEFT>");
    if (period_page != nullptr) {
      write_text(*period_page, "<TR><TD ALIGN=RIGHT>" + std::to_string(i) + "</TD><TD ALIGN=LEFT>");
    }
    // The link test looks at the raw key; only referrer lists carry links.
    const bool is_link = (slot == kExternalReferrers || slot == kSearchEngines) &&
                         entry.key.size() <= kKeyPieceWidth &&
                         (entry.key.starts_with("http://") || entry.key.starts_with("https://"));
    write_key_cell(table_page, period_page, entry.key, is_link);
    const std::string value_cells = "</TD><TD ALIGN=RIGHT>" + format_thousands(v) +
                                    "</TD><TD ALIGN=RIGHT>" + format_percent(v, total) +
                                    "</TD></TR>";
    if (table_page != nullptr) write_line(*table_page, value_cells);
    if (period_page != nullptr) write_line(*period_page, value_cells);
  }

  if (table_page != nullptr) {
    write_line(*table_page, "<TR><TH ALIGN=LEFT>" + html_line(HtmlId::kTotal) +
                                "</TH><TH ALIGN=RIGHT>" + format_thousands(total) +
                                "</TH><TH ALIGN=RIGHT>100.00</TH></TR>");
    write_line(*table_page, "</TABLE>");
    write_back_to_top(*table_page);
  }
  if (period_page != nullptr) {
    write_line(*period_page, "<TR><TH>&nbsp;&nbsp;&nbsp;</TH><TH ALIGN=LEFT>&nbsp;" +
                                 html_line(HtmlId::kTotal) + "&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;" +
                                 format_thousands(total) +
                                 "&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH></TR>");
    write_line(*period_page, "</TABLE><BR>");
    write_back_to_top(*period_page);
  }
  if (table_page != nullptr) {
    write_page_footer(*table_page);
    if (table_file.memory != nullptr) {
      const std::string path = table_file.path;
      write_new_file(report.block_writer, path, take_memory_output(table_file));
    } else {
      close_output(*table_page);
    }
  }
}

}  // namespace sorvik
