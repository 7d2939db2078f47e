// Fuzzes the HTML writing of hostile keys: the input's lines are the keys of
// one list, whose section is written to a week's period page and its own table
// page. Every byte of a key must reach the pages escaped: the pages may hold
// no tag but the writer's own, no stray ">" or quote, and no "&" that does
// not begin one of the writer's entities. The first input byte picks the list
// (the referrer lists write links) and the sort key.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "fuzz_support.h"
#include "report/page_frame.h"
#include "report/period_report.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

constexpr std::string_view kTags[] = {
    "HTML",   "/HTML", "HEAD", "/HEAD", "TITLE", "/TITLE", "META", "BODY", "/BODY",
    "A",      "/A",    "H1",   "/H1",   "H2",    "/H2",    "H3",   "/H3",  "TABLE",
    "/TABLE", "TR",    "/TR",  "TH",    "/TH",   "TD",     "/TD",  "BR",
};
constexpr std::string_view kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&nbsp;", "&copy;"};

// Language texts that carry no markup of their own: "H14" is HTML line 14.
void place_language_texts() {
  MessageTable& table = message_table;
  const auto place = [&](Group g, const std::string& line0, const std::string& prefix, int count) {
    table.group_start[g] = table.entry_count + 1;
    for (int k = 0; k < count; ++k) {
      table.entries[++table.entry_count] = k == 0 ? line0 : prefix + std::to_string(k);
    }
    table.group_end[g] = table.entry_count;
  };
  place(kHtml, "H0", "H", 52);
  place(kLists, "abcdefghijklmnopqrstuvwxyz", "L", 28);
  place(kSortOptions, "_khbvz", "S", 7);
  table.list_letters = "abcdefghijklmnopqrstuvwxyz";
  table.sort_letters = "_khbvz";
  for (int slot = 1; slot <= kListSlots; ++slot) {
    list_set_title(slot, lists_line(slot));
    list_set_letter(slot, table.list_letters[slot - 1]);
  }
}

bool is_tag(std::string_view name) {
  for (std::string_view tag : kTags) {
    if (tag == name) return true;
  }
  return false;
}

bool starts_entity(std::string_view rest) {
  for (std::string_view entity : kEntities) {
    if (rest.starts_with(entity)) return true;
  }
  return false;
}

void check_markup(const std::string& page) {
  fuzz::check(!page.empty(), "page not written");
  std::string_view rest = page;
  while (!rest.empty()) {
    const char c = rest.front();
    if (c == '<') {
      const std::size_t close = rest.find('>');
      fuzz::check(close != std::string_view::npos, "a tag without its end");
      const std::string_view tag = rest.substr(1, close - 1);
      fuzz::check(is_tag(tag.substr(0, tag.find(' '))), "a tag the writer does not write");
      fuzz::check(tag.find('<') == std::string_view::npos, "a \"<\" inside a tag");
      std::size_t quotes = 0;
      for (const char t : tag) quotes += t == '"' ? 1 : 0;
      fuzz::check(quotes % 2 == 0, "a quote too many inside a tag");
      for (std::size_t at = tag.find('&'); at != std::string_view::npos; at = tag.find('&', at + 1))
        fuzz::check(starts_entity(tag.substr(at)), "a bare \"&\" inside a tag");
      rest.remove_prefix(close + 1);
      continue;
    }
    // The path line's arrows are the writer's own text.
    if (rest.starts_with("==>")) {
      rest.remove_prefix(3);
      continue;
    }
    fuzz::check(c != '>' && c != '"', "a bare \">\" or quote in the text");
    if (c == '&') fuzz::check(starts_entity(rest), "a bare \"&\" in the text");
    rest.remove_prefix(1);
  }
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  if (size == 0) return 0;
  fuzz::reset_for_input();
  place_language_texts();
  settings.host_url = "example.org";
  settings.html_copyright = "Copyright line";
  settings.html_tables = 1000;
  const uint8_t control = data[0];
  // One of the period lists, and one of the sort keys kByKey to kByVisits.
  const int slot = 1 + control % kPeriodListSlots;
  const int sort_key = kByKey + (control / kPeriodListSlots) % 4;
  std::string_view keys = fuzz::as_text(data + 1, size - 1);
  uint64_t hits = 1;
  for (;;) {
    const std::size_t end = keys.find('\n');
    lists.current_entry.key = std::string(keys.substr(0, end));
    lists.current_entry.hits = hits++;
    lists.current_entry.kbytes = static_cast<int64_t>(lists.current_entry.key.size());
    lists.current_entry.visits = 1;
    list_add(slot);
    if (end == std::string_view::npos) break;
    keys.remove_prefix(end + 1);
  }
  std::string letters;
  letters += list_snapshot(slot).list_letter;
  try {
    open_period_report("2002w23", "Week 23");
    write_top_table(slot, sort_key);
    close_period_report(1);
    letters += list_snapshot(slot).sort_letter;
  } catch (const RunStop&) {
    fuzz::fail("writing the pages stopped the run");
  }
  check_markup(fuzz::read_whole_file("2002w23.html"));
  check_markup(fuzz::read_whole_file("2002w23" + letters + ".html"));
  return 0;
}
