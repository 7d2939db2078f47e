#include "report/period_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "driver/console.h"
#include "driver/run_stop.h"
#include "report/page_frame.h"
#include "report/report_fixture.h"

namespace sorvik {
namespace {

class PeriodReportTest : public ReportTest {
 protected:
  // A table-of-contents row for slot p; `marks` holds one character per sort
  // key 1..4, "X" where the period page has that section.
  static std::string toc_row(int p, const std::string& marks) {
    std::string row = "<TR><TD>L" + std::to_string(p) + "</TD>\n";
    for (int e = 1; e <= 4; ++e) {
      if (marks[e - 1] == 'X') {
        row += std::string("<TD ALIGN=CENTER><A HREF=\"#") + kTestListLetters[p - 1] +
               kTestSortLetters[e] + "\">X</A></TD>";
      } else {
        row += "<TD ALIGN=CENTER>-</TD>";
      }
    }
    return row + "</TR>\n";
  }
};

TEST_F(PeriodReportTest, TextFileBeginsWithTheUnderlinedHeading) {
  settings.html_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  close_output(report.period_text_file);
  EXPECT_EQ(read_file("2002w23.txt"), "Week 23 of 2002\n---------------\n\n");
  EXPECT_FALSE(file_exists("2002w23.html"));
}

TEST_F(PeriodReportTest, HeadingIsCutAt255BytesAndUnderlinedToMatch) {
  settings.html_out = false;
  open_period_report("2002y", std::string(300, 'h'));
  close_output(report.period_text_file);
  EXPECT_EQ(read_file("2002y.txt"), std::string(255, 'h') + "\n" + std::string(255, '-') + "\n\n");
}

TEST_F(PeriodReportTest, WeekPageHeadHasPathHeadingsAndTableOfContents) {
  settings.text_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  close_output(report.period_html_file);
  std::string expected =
      header("Weblog H14 http://example.org") +
      "<A NAME=\"ptop\"></A>Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>\n"
      "<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"weeks.html\">H17H18</A> ==> Log "
      "2002w23\n"
      "<H1>Weblog H14 http://example.org</H1>\n"
      "<H2>H19 2002 H20 23</H2>\n"
      "<TABLE BORDER=2><TR><TH>&nbsp;H51&nbsp;</TH>\n"
      "<TH>&nbsp;S1&nbsp;</TH><TH>&nbsp;S2&nbsp;</TH><TH>&nbsp;S3&nbsp;</TH>"
      "<TH>&nbsp;S4&nbsp;</TH></TR>\n";
  expected += toc_row(1, "-XX-") + toc_row(2, "---X") + toc_row(3, "-X--");
  for (int p = 4; p <= 6; ++p) expected += toc_row(p, "-XX-");
  for (int p = 7; p <= 19; ++p) expected += toc_row(p, "-X--");
  expected += toc_row(20, "X---") + "</TABLE>\n";
  EXPECT_EQ(read_file("2002w23.html"), expected);
  EXPECT_FALSE(file_exists("2002w23.txt"));
  EXPECT_EQ(report.current_period, "2002w23");
}

TEST_F(PeriodReportTest, MonthAndYearPagesLinkTheirOverviewAndNumberTheHeading) {
  settings.text_out = false;
  open_period_report("2002m05", "May 2002");
  close_output(report.period_html_file);
  const std::string month = read_file("2002m05.html");
  EXPECT_NE(month.find("<A HREF=\"monthes.html\">H16H18</A> ==> Log 2002m05\n"), std::string::npos);
  EXPECT_NE(month.find("\n<H2>H19 2002 H21 05</H2>\n"), std::string::npos);

  // A year has no number part, but the blank after the year stays.
  open_period_report("2002y", "Year 2002");
  close_output(report.period_html_file);
  const std::string year = read_file("2002y.html");
  EXPECT_NE(year.find("<A HREF=\"years.html\">H15H18</A> ==> Log 2002y\n"), std::string::npos);
  EXPECT_NE(year.find("\n<H2>H19 2002 </H2>\n"), std::string::npos);
}

TEST_F(PeriodReportTest, PeriodNameFromLogDataIsEscapedOnThePage) {
  settings.text_out = false;
  open_period_report("2<&>w\"1", "odd");
  close_output(report.period_html_file);
  const std::string page = read_file("2<&>w\"1.html");
  EXPECT_NE(page.find("==> Log 2&lt;&amp;&gt;w&quot;1\n"), std::string::npos);
  EXPECT_NE(page.find("\n<H2>H19 2&lt;&amp;&gt; H20 &quot;1</H2>\n"), std::string::npos);
}

TEST_F(PeriodReportTest, WithBothOutputsOffNothingIsCreatedButThePeriodIsSet) {
  settings.text_out = false;
  settings.html_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  close_period_report(5);
  EXPECT_FALSE(file_exists("2002w23.txt"));
  EXPECT_FALSE(file_exists("2002w23.html"));
  EXPECT_EQ(report.current_period, "2002w23");
}

TEST_F(PeriodReportTest, CloseWritesTheVolumeLineAndTheFooter) {
  settings.html_copyright = "(c)";
  open_period_report("2002w23", "Week 23 of 2002");
  close_period_report(1234);
  EXPECT_EQ(read_file("2002w23.txt"), "Week 23 of 2002\n---------------\n\n\nH25 " +
                                          std::string(50, '.') + " 1,234 kB\n");
  const std::string page = read_file("2002w23.html");
  EXPECT_EQ(page.substr(page.size() - footer().size()), footer());
  EXPECT_FALSE(report.period_text_file.is_open());
  EXPECT_FALSE(report.period_html_file.is_open());
}

TEST_F(PeriodReportTest, SecondReportOfAPeriodReplacesItsFiles) {
  write_file("2002w23.txt", std::string(5000, 'x'));
  settings.html_out = false;
  open_period_report("2002w23", "Week");
  close_period_report(0);
  EXPECT_EQ(read_file("2002w23.txt"), "Week\n----\n\n\nH25 " + std::string(54, '.') + " 0 kB\n");
}

TEST_F(PeriodReportTest, HtmlDirWithTrailingSlashStillGetsThePage) {
  ASSERT_EQ(mkdir("html", 0755), 0);
  settings.html_dir = "html/";
  settings.text_out = false;
  open_period_report("2002w23", "Week");
  EXPECT_EQ(report.period_html_file.path, "html//2002w23.html");
  close_period_report(0);
  EXPECT_TRUE(file_exists("html/2002w23.html"));
}

TEST_F(PeriodReportTest, TextFileThatCannotBeCreatedStopsWithStatus3) {
  settings.target_dir = "missing";
  try {
    open_period_report("2002w23", "Week");
    FAIL() << "the run went on";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitFileNotCreated);
    EXPECT_TRUE(stop.wait_for_key);
  }
  EXPECT_EQ(console_output(), "H1 missing/2002w23.txt\nH2\nH3 2\n");
}

TEST_F(PeriodReportTest, PageThatCannotBeCreatedNamesItsDoubleSlashPath) {
  settings.html_dir = "missing/";
  settings.text_out = false;
  EXPECT_THROW(open_period_report("2002m05", "May"), RunStop);
  EXPECT_EQ(console_output(), "H1 missing//2002m05.html\nH2\nH3 2\n");
}

// The period flush writes these sections, in this order.
const std::vector<std::pair<int, int>> kSections = {
    {1, 2},  {1, 3},  {2, 4},  {3, 2},  {4, 2},  {4, 3},  {5, 2},  {5, 3},
    {6, 2},  {6, 3},  {7, 2},  {8, 2},  {9, 2},  {10, 2}, {13, 2}, {14, 2},
    {15, 2}, {16, 2}, {11, 2}, {12, 2}, {17, 2}, {18, 2}, {19, 2}, {20, 1}};

TEST_F(PeriodReportTest, EveryContentsLinkFindsItsSectionAnchor) {
  settings.html_week = false;
  for (int slot = 1; slot <= 20; ++slot) add_entry(slot, "key" + std::to_string(slot), 1, 1, 1);
  open_period_report("2002w23", "Week");
  for (const auto& [slot, key] : kSections) write_top_table(slot, key);
  close_period_report(0);
  const std::string page = read_file("2002w23.html");

  std::vector<std::string> links;
  const std::regex link("<A HREF=\"#(..)\">X</A>");
  for (std::sregex_iterator it(page.begin(), page.end(), link), end; it != end; ++it) {
    links.push_back((*it)[1]);
  }
  std::vector<std::string> anchors;
  const std::regex anchor("<A NAME=\"(..)\"> </A>");
  for (std::sregex_iterator it(page.begin(), page.end(), anchor), end; it != end; ++it) {
    anchors.push_back((*it)[1]);
  }
  ASSERT_EQ(anchors.size(), 24u);
  for (std::size_t i = 0; i < kSections.size(); ++i) {
    const auto& [slot, key] = kSections[i];
    EXPECT_EQ(anchors[i], std::string(1, kTestListLetters[slot - 1]) + kTestSortLetters[key]);
  }
  std::sort(links.begin(), links.end());
  std::sort(anchors.begin(), anchors.end());
  EXPECT_EQ(links, anchors);
}

}  // namespace
}  // namespace sorvik
