// A report fixture: a language table whose report texts name their own line
// ("H14" is HTML line 14, "L5" Lists line 5, "S2" Sort options line 2), list
// titles and letters set as the configuration sets them, and the fixed page
// header and footer those texts give.
#ifndef SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_
#define SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_

#include <string>
#include <vector>

#include "driver/message_table.h"
#include "driver/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {

// List letters a..z for slots 1..26; sort letters k, h, b, v for keys 1..4.
inline constexpr const char* kTestListLetters = "abcdefghijklmnopqrstuvwxyz";
inline constexpr const char* kTestSortLetters = "_khbvz";

class ReportTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    set_group_lines(kHtml, numbered("H", 52));
    std::vector<std::string> list_lines = numbered("L", 28);
    list_lines[0] = kTestListLetters;
    set_group_lines(kLists, list_lines);
    std::vector<std::string> sort_lines = numbered("S", 7);
    sort_lines[0] = kTestSortLetters;
    set_group_lines(kSortOptions, sort_lines);
    message_table.list_letters = kTestListLetters;
    message_table.sort_letters = kTestSortLetters;
    for (int slot = 1; slot <= kListSlots; ++slot) {
      list_set_title(slot, lists_line(slot));
      list_set_letter(slot, kTestListLetters[slot - 1]);
    }
    settings.host_url = "example.org";
  }

  // Adds a new entry to `slot`.
  static void add_entry(int slot, const std::string& key, uint64_t hits, int64_t kbytes = 0,
                        uint64_t visits = 1) {
    lists.current_entry.key = key;
    lists.current_entry.hits = hits;
    lists.current_entry.kbytes = kbytes;
    lists.current_entry.visits = visits;
    list_add(slot);
  }

  // The nine header lines of a page titled `title`, at the fixture's time.
  static std::string header(const std::string& title) {
    return "<HTML>\n<HEAD>\n<TITLE>" + title +
           "</TITLE>\n"
           "<META NAME=\"GENERATOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"AUTHOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"CREATED\" CONTENT=\"20261207;10111213\">\n"
           "<META NAME=\"ROBOTS\" CONTENT=\"noindex\">\n"
           "</HEAD>\n"
           "<BODY BGCOLOR=#F0FFF0>\n";
  }

  static std::string footer() {
    return settings.html_copyright + "\n" + settings.generator_footer + "\n</BODY>\n</HTML>\n";
  }

 private:
  static std::vector<std::string> numbered(const std::string& prefix, int count) {
    std::vector<std::string> lines;
    for (int k = 0; k < count; ++k) lines.push_back(prefix + std::to_string(k));
    return lines;
  }
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_
