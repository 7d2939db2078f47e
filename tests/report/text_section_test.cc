#include "report/text_section.h"

#include <string>
#include <vector>

#include "support/test_support.h"

namespace sorvik {
namespace {

using TextSectionTest = SorvikTest;

TEST_F(TextSectionTest, DottedLinesAreSixtyWideAndEntriesNeverLoseTheNumber) {
  EXPECT_EQ(dotted_entry_lines("/index.html", 3, "Hits"),
            std::vector<std::string>{"/index.html " + std::string(46, '.') + " 3 Hits"});
  // 100 bytes with 1,234: 53 on the first line, the rest indented.
  EXPECT_EQ(dotted_entry_lines(std::string(100, 'k'), 1234, "Hits"),
            (std::vector<std::string>{std::string(53, 'k'),
                                      "   " + std::string(47, 'k') + " ... 1,234 Hits"}));
  // 255 bytes: no cut, the number ends the sixth line.
  const std::vector<std::string> lines = dotted_entry_lines(std::string(255, 'k'), 1234, "Hits");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "   " + std::string(50, 'k'));
  EXPECT_EQ(lines[5], "   kk " + std::string(48, '.') + " 1,234 Hits");
  // Only the last line with its caption is cut at 255 bytes.
  EXPECT_EQ(dotted_entry_lines("k", 1, std::string(300, 'c'))[0],
            "k " + std::string(56, '.') + " 1 " + std::string(194, 'c'));
  // The total line: label, one dot leader, number; cut at 255 bytes.
  EXPECT_EQ(dotted_total_line("Volume", 1234), "Volume " + std::string(47, '.') + " 1,234");
  EXPECT_EQ(dotted_total_line(std::string(60, 'v'), 5), std::string(60, 'v') + "  5");
  EXPECT_EQ(dotted_total_line(std::string(300, 'v'), 5), std::string(255, 'v'));
}

}  // namespace
}  // namespace sorvik
