#include "report/period_report.h"

#include <string>

#include "base/run_stop.h"
#include "report/page_frame.h"
#include "report/report_fixture.h"

namespace sorvik {
namespace {

class PeriodReportTest : public ReportTest {
 protected:
  // A contents row for slot p; `marks` has "X" for each sort key 1..4 whose
  // section the period page carries.
  static std::string toc_row(int p, const std::string& marks) {
    std::string row = "<TR><TD>L" + std::to_string(p) + "</TD>\n";
    for (int e = 1; e <= 4; ++e) {
      row += marks[e - 1] != 'X'
                 ? std::string("<TD ALIGN=CENTER>-</TD>")
                 : std::string("<TD ALIGN=CENTER><A HREF=\"#") + kTestListLetters[p - 1] +
                       kTestSortLetters[e] + "\">X</A></TD>";
    }
    return row + "</TR>\n";
  }
};

TEST_F(PeriodReportTest, WeekPageHeadHasPathHeadingsAndTableOfContents) {
  settings.text_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  report.period_page.finish();
  std::string expected =
      header("Weblog H14 http://example.org") +
      "<A NAME=\"ptop\"></A>Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>\n"
      "<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"weeks.html\">H17H18</A> ==> Log 2002w23\n"
      "<H1>Weblog H14 http://example.org</H1>\n<H2>H19 2002 H20 23</H2>\n"
      "<TABLE BORDER=2><TR><TH>&nbsp;H51&nbsp;</TH>\n<TH>&nbsp;S1&nbsp;</TH><TH>&nbsp;S2&nbsp;</TH>"
      "<TH>&nbsp;S3&nbsp;</TH><TH>&nbsp;S4&nbsp;</TH></TR>\n";
  expected += toc_row(1, "-XX-") + toc_row(2, "---X") + toc_row(3, "-X--");
  for (int p = 4; p <= 6; ++p) expected += toc_row(p, "-XX-");
  for (int p = 7; p <= 19; ++p) expected += toc_row(p, "-X--");
  expected += toc_row(20, "X---") + "</TABLE>\n";
  EXPECT_EQ(read_file("2002w23.html"), expected);
  EXPECT_FALSE(file_exists("2002w23.txt"));
}

TEST_F(PeriodReportTest, MonthYearAndHostilePeriodNamesInPathAndHeading) {
  settings.text_out = false;
  open_period_report("2002m05", "May 2002");
  report.period_page.finish();
  const std::string month = read_file("2002m05.html");
  EXPECT_NE(month.find("\"monthes.html\">H16H18</A> ==> Log 2002m05\n<H1>"), std::string::npos);
  EXPECT_NE(month.find("\n<H2>H19 2002 H21 05</H2>\n"), std::string::npos);

  open_period_report("2002y", "Year 2002");  // no number, but the blank stays
  report.period_page.finish();
  const std::string year = read_file("2002y.html");
  EXPECT_NE(year.find("\"years.html\">H15H18</A> ==> Log 2002y\n"), std::string::npos);
  EXPECT_NE(year.find("\n<H2>H19 2002 </H2>\n"), std::string::npos);

  open_period_report("2<&>w\"1", "odd");
  report.period_page.finish();
  const std::string odd = read_file("2<&>w\"1.html");
  EXPECT_NE(odd.find("==> Log 2&lt;&amp;&gt;w&quot;1\n"), std::string::npos);
  EXPECT_NE(odd.find("\n<H2>H19 2&lt;&amp;&gt; H20 &quot;1</H2>\n"), std::string::npos);
}

TEST_F(PeriodReportTest, TextFileHasUnderlinedHeadingAndClosingVolumeLine) {
  write_file("2002w23.txt", std::string(5000, 'x'));  // replaced
  settings.html_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  close_period_report(1234);
  EXPECT_EQ(read_file("2002w23.txt"),
            "Week 23 of 2002\n---------------\n\n\nH25 " + std::string(50, '.') + " 1,234 kB\n");

  open_period_report("2002y", std::string(300, 'h'));
  close_period_report(0);
  EXPECT_EQ(read_file("2002y.txt"), std::string(255, 'h') + "\n" + std::string(255, '-') +
                                        "\n\n\nH25 " + std::string(54, '.') + " 0 kB\n");
}

TEST_F(PeriodReportTest, WithBothOutputsOffOnlyThePeriodIsSet) {
  settings.text_out = false;
  settings.html_out = false;
  open_period_report("2002w23", "Week 23 of 2002");
  close_period_report(5);
  EXPECT_FALSE(file_exists("2002w23.txt"));
  EXPECT_FALSE(file_exists("2002w23.html"));
  EXPECT_EQ(report.current_period, "2002w23");
}

TEST_F(PeriodReportTest, FileThatCannotBeCreatedStopsWithStatus3AfterAKey) {
  settings.target_dir = "missing";
  try {
    open_period_report("2002w23", "Week");
    FAIL() << "the run went on";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitFileNotCreated);
    EXPECT_TRUE(stop.wait_for_key);
  }
  EXPECT_EQ(take_console_output(), "H1 missing/2002w23.txt\nH2\nH3 2\n");

  settings.html_dir = "missing/";
  settings.text_out = false;
  EXPECT_THROW(open_period_report("2002m05", "May"), RunStop);
  EXPECT_EQ(console_output(), "H1 missing//2002m05.html\nH2\nH3 2\n");
}

}  // namespace
}  // namespace sorvik
