// A report fixture: report texts that name their own line ("H14" is HTML
// line 14, "L5" Lists line 5, "S2" Sort options line 2), list letters a..z,
// sort letters k h b v for keys 1..4, and site "example.org".
#ifndef SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_
#define SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_

#include <string>
#include <vector>

#include "base/message_table.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {

inline constexpr const char* kTestListLetters = "abcdefghijklmnopqrstuvwxyz";
inline constexpr const char* kTestSortLetters = "_khbvz";

class ReportTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    const auto numbered = [](const std::string& prefix, int count, const std::string& line0) {
      std::vector<std::string> lines{line0};
      for (int k = 1; k < count; ++k) lines.push_back(prefix + std::to_string(k));
      return lines;
    };
    set_group_lines(kHtml, numbered("H", 52, "H0"));
    set_group_lines(kLists, numbered("L", 28, kTestListLetters));
    set_group_lines(kSortOptions, numbered("S", 7, kTestSortLetters));
    message_table.list_letters = kTestListLetters;
    message_table.sort_letters = kTestSortLetters;
    for (int slot = 1; slot <= kListSlots; ++slot) {
      list_set_title(slot, lists_line(slot));
      list_set_letter(slot, kTestListLetters[slot - 1]);
    }
    settings.host_url = "example.org";
  }

  static void add_entry(int slot, const std::string& key, uint64_t hits, int64_t kbytes = 0) {
    lists.current_entry.key = key;
    lists.current_entry.hits = hits;
    lists.current_entry.kbytes = kbytes;
    lists.current_entry.visits = 1;
    list_add(slot);
  }

  // The nine header lines of a page titled `title`, at the fixture's time.
  static std::string header(const std::string& title) {
    return "<HTML>\n<HEAD>\n<TITLE>" + title +
           "</TITLE>\n<META NAME=\"GENERATOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"AUTHOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"CREATED\" CONTENT=\"20261207;10111213\">\n"
           "<META NAME=\"ROBOTS\" CONTENT=\"noindex\">\n</HEAD>\n<BODY BGCOLOR=#F0FFF0>\n";
  }
  static std::string footer() {
    return settings.html_copyright + "\n" + settings.generator_footer + "\n</BODY>\n</HTML>\n";
  }
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_REPORT_REPORT_FIXTURE_H_
