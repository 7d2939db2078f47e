#include "report/top_table.h"

#include <sys/stat.h>

#include <string>

#include "driver/run_stop.h"
#include "report/page_frame.h"
#include "report/period_report.h"
#include "report/report_fixture.h"

namespace sorvik {
namespace {

class TopTableTest : public ReportTest {
 protected:
  // Opens the period's files under fixed names, without their heads, so that
  // they hold exactly the sections written.
  void begin_period(const std::string& period) {
    report.current_period = period;
    if (settings.text_out) report.period_text_file = create_output("period.txt");
    if (settings.html_out) report.period_html_file = create_output("period.html");
  }
  void end_period() {
    close_output(report.period_text_file);
    close_output(report.period_html_file);
  }
  static int count_of(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
      ++count;
    }
    return count;
  }
};

TEST_F(TopTableTest, ShortEntryGetsADotLeaderToSixtyCharacters) {
  const std::vector<std::string> lines = dotted_entry_lines("/index.html", 3, "Hits");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "/index.html " + std::string(46, '.') + " 3 Hits");
}

TEST_F(TopTableTest, HundredCharacterKeyBreaksBeforeTheNumber) {
  const std::string key(100, 'k');
  const std::vector<std::string> lines = dotted_entry_lines(key, 1234, "Hits");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(53, 'k'));
  EXPECT_EQ(lines[1], "   " + std::string(47, 'k') + " ... 1,234 Hits");
}

TEST_F(TopTableTest, KeyThatFillsTheFirstLineLeavesOnlyTheNumberBelow) {
  const std::vector<std::string> lines = dotted_entry_lines(std::string(53, 'k'), 1234, "Hits");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(53, 'k'));
  EXPECT_EQ(lines[1], "    " + std::string(50, '.') + " 1,234 Hits");
}

TEST_F(TopTableTest, KeyOf255BytesKeepsItsNumber) {
  const std::vector<std::string> lines = dotted_entry_lines(std::string(255, 'k'), 1234, "Hits");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::string(53, 'k'));
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(lines[i], "   " + std::string(50, 'k'));
  EXPECT_EQ(lines[5], "   kk " + std::string(48, '.') + " 1,234 Hits");
}

TEST_F(TopTableTest, LastEntryLineWithItsCaptionIsCutAt255Bytes) {
  const std::vector<std::string> lines = dotted_entry_lines("k", 1, std::string(300, 'c'));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "k " + std::string(56, '.') + " 1 " + std::string(194, 'c'));
}

TEST_F(TopTableTest, TotalLineHasOneDotLeaderBetweenLabelAndNumber) {
  EXPECT_EQ(dotted_total_line("Volume", 1234), "Volume " + std::string(47, '.') + " 1,234");
  EXPECT_EQ(dotted_total_line(std::string(60, 'v'), 5), std::string(60, 'v') + "  5");
  EXPECT_EQ(dotted_total_line(std::string(300, 'v'), 5), std::string(255, 'v'));
}

TEST_F(TopTableTest, SortKeysSelectQuantityAndCaptions) {
  EXPECT_EQ(sort_value(1, 5, 7, 9), 5);
  EXPECT_EQ(sort_value(2, 5, 7, 9), 5);
  EXPECT_EQ(sort_value(3, 5, 7, 9), 7);
  EXPECT_EQ(sort_value(4, 5, 7, 9), 9);
  EXPECT_EQ(sort_value(6, 5, 7, 9), 5);
  EXPECT_EQ(sort_caption(1), "H13 H4");
  EXPECT_EQ(sort_caption(4), "H13 H7");
  EXPECT_EQ(sort_caption(0), "H13 H8");
  EXPECT_EQ(value_caption(1), "H9");
  EXPECT_EQ(value_caption(3), "H11");
  EXPECT_EQ(value_caption(5), "???");
}

TEST_F(TopTableTest, EmptyListWritesNothingAnywhere) {
  begin_period("2002w23");
  write_top_table(5, 2);
  end_period();
  EXPECT_EQ(read_file("period.txt"), "");
  EXPECT_EQ(read_file("period.html"), "");
  EXPECT_FALSE(file_exists("2002w23eh.html"));
  EXPECT_EQ(list_snapshot(5).sort_letter, 'u');
}

TEST_F(TopTableTest, OneEntryAppearsInAllThreePlaces) {
  add_entry(5, "/index.html", 3, 10);
  begin_period("2002w23");
  write_top_table(5, 2);
  end_period();
  EXPECT_EQ(read_file("period.txt"),
            "1 L5H13 H5\n"
            "/index.html " + std::string(46, '.') + " 3 H10\n"
            "---\n");
  EXPECT_EQ(read_file("period.html"),
            "<A NAME=\"eh\"> </A><H3>Top 1 H22 1 L5 H13 H5</H3>\n"
            "<TABLE BORDER=2>\n"
            "<TR><TH ALIGN=RIGHT>&nbsp;N&nbsp;</TH><TH>&nbsp;L5&nbsp;</TH><TH>&nbsp;H10&nbsp;</TH>"
            "<TH>&nbsp;%&nbsp;</TH></TR><TR><TD ALIGN=RIGHT>1</TD><TD ALIGN=LEFT>/index.html\n"
            "</TD><TD ALIGN=RIGHT>3</TD><TD ALIGN=RIGHT>100.00</TD></TR>\n"
            "<TR><TH>&nbsp;&nbsp;&nbsp;</TH><TH ALIGN=LEFT>&nbsp;H23&nbsp;</TH>"
            "<TH ALIGN=RIGHT>&nbsp;3&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH></TR>\n"
            "</TABLE><BR>\n"
            "<A HREF=\"#ptop\">H24</A><BR><BR>\n");
  EXPECT_EQ(read_file("2002w23eh.html"),
            header("WeblogH14 http://example.org") +
                "<A NAME=\"ptop\"></A>Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>\n"
                "<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"weeks.html\">H17H18</A> ==> "
                "Log 2002w23\n"
                "<H1>WeblogH14 http://example.org</H1>\n"
                "<H2>H192002H2023</H2>\n"
                "<H3>Top 1 H22 1 L5 H13 H5</H3>\n"
                "<TABLE BORDER=2>\n"
                "<TR><TH>&nbsp;L5&nbsp;</TH><TH>&nbsp;H10&nbsp;</TH><TH>&nbsp;%&nbsp;</TH></TR>"
                "<TR><TD ALIGN=LEFT>/index.html\n"
                "</TD><TD ALIGN=RIGHT>3</TD><TD ALIGN=RIGHT>100.00</TD></TR>\n"
                "<TR><TH ALIGN=LEFT>H23</TH><TH ALIGN=RIGHT>3</TH><TH ALIGN=RIGHT>100.00</TH></TR>\n"
                "</TABLE>\n"
                "<A HREF=\"#ptop\">H24</A><BR><BR>\n" +
                footer());
}

TEST_F(TopTableTest, YearTablePageHeadingHasNoNumberPart) {
  add_entry(20, "07", 3);
  begin_period("2002y");
  write_top_table(20, 1);
  end_period();
  const std::string page = read_file("2002ytk.html");
  EXPECT_NE(page.find("<A HREF=\"years.html\">H15H18</A> ==> Log 2002y\n"), std::string::npos);
  EXPECT_NE(page.find("\n<H2>H192002</H2>\n"), std::string::npos);
}

TEST_F(TopTableTest, PeriodPageShowsAtMostHtmlTablesRowsButTheTextFileAll) {
  settings.html_week = false;
  for (int i = 1; i <= 30; ++i) add_entry(7, "p" + std::to_string(i), static_cast<uint64_t>(i));
  begin_period("2002w23");
  write_top_table(7, 2);
  end_period();
  const std::string page = read_file("period.html");
  EXPECT_NE(page.find("<H3>Top 25 H22 30 L7 H13 H5</H3>"), std::string::npos);
  EXPECT_EQ(count_of(page, "<TD ALIGN=RIGHT>"), 25 * 3);
  // Sorted by hits: p30 first, p6 last.
  EXPECT_NE(page.find("<TD ALIGN=RIGHT>1</TD><TD ALIGN=LEFT>p30\n"), std::string::npos);
  EXPECT_NE(page.find("<TD ALIGN=RIGHT>25</TD><TD ALIGN=LEFT>p6\n"), std::string::npos);
  EXPECT_EQ(page.find(">p5\n"), std::string::npos);
  EXPECT_NE(page.find("&nbsp;465&nbsp;"), std::string::npos);  // total of all 30
  const std::string text = read_file("period.txt");
  EXPECT_EQ(count_of(text, " H10\n"), 30);
  EXPECT_EQ(text.substr(0, 14), "30 L7H13 H5\np3");
}

TEST_F(TopTableTest, ListsOfOneAndTwentyFiveAreShownWhole) {
  settings.html_week = false;
  for (int i = 1; i <= 25; ++i) add_entry(8, "g" + std::to_string(i), 1);
  add_entry(9, "only", 1);
  begin_period("2002w23");
  write_top_table(8, 2);
  write_top_table(9, 2);
  end_period();
  const std::string page = read_file("period.html");
  EXPECT_NE(page.find("<H3>Top 25 H22 25 L8 H13 H5</H3>"), std::string::npos);
  EXPECT_NE(page.find("<TD ALIGN=RIGHT>25</TD><TD ALIGN=LEFT>g25\n"), std::string::npos);
  EXPECT_NE(page.find("<H3>Top 1 H22 1 L9 H13 H5</H3>"), std::string::npos);
}

TEST_F(TopTableTest, ZeroOrNegativeHtmlTablesShowsOnlyTheTotalRow) {
  add_entry(7, "a", 2);
  add_entry(7, "b", 3);
  for (const int tables : {0, -3}) {
    settings.html_tables = tables;
    begin_period("2002w23");
    write_top_table(7, 2);
    end_period();
    const std::string caption = "<H3>Top " + std::to_string(tables) + " H22 2 L7 H13 H5</H3>\n";
    EXPECT_EQ(read_file("period.html"),
              "<A NAME=\"gh\"> </A>" + caption +
                  "<TABLE BORDER=2>\n"
                  "<TR><TH ALIGN=RIGHT>&nbsp;N&nbsp;</TH><TH>&nbsp;L7&nbsp;</TH>"
                  "<TH>&nbsp;H10&nbsp;</TH><TH>&nbsp;%&nbsp;</TH></TR>"
                  "<TR><TH>&nbsp;&nbsp;&nbsp;</TH><TH ALIGN=LEFT>&nbsp;H23&nbsp;</TH>"
                  "<TH ALIGN=RIGHT>&nbsp;5&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH></TR>\n"
                  "</TABLE><BR>\n"
                  "<A HREF=\"#ptop\">H24</A><BR><BR>\n");
    EXPECT_EQ(count_of(read_file("2002w23gh.html"), "<TR><TD"), 0);
    EXPECT_EQ(count_of(read_file("period.txt"), " H10\n"), 2);
  }
}

TEST_F(TopTableTest, ZeroTotalShowsDashesAndAFixedHundred) {
  settings.decsep = ',';
  add_entry(4, "/a/", 1, 0);
  add_entry(4, "/b/", 1, 0);
  begin_period("2002w23");
  write_top_table(4, 3);
  end_period();
  const std::string page = read_file("period.html");
  EXPECT_EQ(count_of(page, "<TD ALIGN=RIGHT>0</TD><TD ALIGN=RIGHT>-</TD>"), 2);
  EXPECT_NE(page.find("&nbsp;0&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;"), std::string::npos);
  EXPECT_NE(read_file("2002w23db.html").find("<TH ALIGN=RIGHT>100.00</TH>"), std::string::npos);
}

TEST_F(TopTableTest, PercentCellsFollowDecsepButTheTotalRowDoesNot) {
  settings.html_week = false;
  settings.decsep = ',';
  settings.ksep = '.';
  add_entry(7, "a", 1000);
  add_entry(7, "b", 7000);
  begin_period("2002w23");
  write_top_table(7, 2);
  end_period();
  const std::string page = read_file("period.html");
  EXPECT_NE(page.find("<TD ALIGN=RIGHT>7.000</TD><TD ALIGN=RIGHT> 87,50</TD>"), std::string::npos);
  EXPECT_NE(page.find("&nbsp;8.000&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;"), std::string::npos);
  EXPECT_NE(read_file("period.txt").find(" 7.000 H10\n"), std::string::npos);
}

TEST_F(TopTableTest, HostileKeysAreEscapedOnPagesAndRawInTheTextFile) {
  const std::string key = "/<script>alert(\"x\")</script>&y";
  add_entry(5, key, 1);
  begin_period("2002w23");
  write_top_table(5, 2);
  end_period();
  const std::string escaped = "/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;y\n";
  EXPECT_NE(read_file("period.html").find("<TD ALIGN=LEFT>" + escaped), std::string::npos);
  EXPECT_NE(read_file("2002w23eh.html").find("<TD ALIGN=LEFT>" + escaped), std::string::npos);
  EXPECT_EQ(read_file("period.html").find("<script"), std::string::npos);
  EXPECT_EQ(read_file("2002w23eh.html").find("<script"), std::string::npos);
  EXPECT_NE(read_file("period.txt").find(key + " ."), std::string::npos);
}

TEST_F(TopTableTest, ReferrerOfAtMost70CharactersIsALinkOnThePeriodPageOnly) {
  const std::string url = "http://example.com/?q=\"a\"&b=<c>" + std::string(39, 'x');
  ASSERT_EQ(url.size(), 70u);
  add_entry(14, url, 1);
  begin_period("2002w23");
  write_top_table(14, 2);
  end_period();
  const std::string escaped = html_escape(url);
  EXPECT_NE(read_file("period.html")
                .find("<TD ALIGN=LEFT><A HREF=\"" + escaped + "\">" + escaped + "</A>\n</TD>"),
            std::string::npos);
  EXPECT_NE(read_file("2002w23nh.html").find("<TD ALIGN=LEFT>" + escaped + "\n</TD>"),
            std::string::npos);
}

TEST_F(TopTableTest, KeyOf71CharactersIsNeverALinkAndTakesTwoLines) {
  settings.html_week = false;
  const std::string url = "http://" + std::string(64, 'u');
  add_entry(15, url, 1);
  begin_period("2002w23");
  write_top_table(15, 2);
  end_period();
  EXPECT_NE(read_file("period.html")
                .find("<TD ALIGN=LEFT>" + url.substr(0, 70) + "\n<BR>&nbsp;&nbsp;&nbsp;u\n</TD>"),
            std::string::npos);
  EXPECT_EQ(read_file("period.html").find("HREF=\"http"), std::string::npos);
}

TEST_F(TopTableTest, OnlyExactLowerCaseSchemeInReferrerListsMakesALink) {
  settings.html_week = false;
  add_entry(14, "HTTP://example.com/", 1);
  add_entry(15, "https://example.com/", 1);
  add_entry(5, "http://example.com/", 1);
  begin_period("2002w23");
  write_top_table(14, 2);
  write_top_table(15, 2);
  write_top_table(5, 2);
  end_period();
  EXPECT_EQ(read_file("period.html").find("<A HREF=\"h"), std::string::npos);
  EXPECT_EQ(read_file("period.html").find("<A HREF=\"H"), std::string::npos);
}

TEST_F(TopTableTest, LongKeysAreSplitOnTheRawTextThenEscaped) {
  settings.html_week = false;
  // Byte 70 is "&": the first piece ends with its entity, and the raw key of
  // 70 bytes stays a link although its escaped form is longer.
  const std::string split_key = std::string(69, 'a') + "&bcdef";
  const std::string link_key = "http://x/?" + std::string(55, 'a') + "&b<>c";
  ASSERT_EQ(link_key.size(), 70u);
  add_entry(14, split_key, 2);
  add_entry(14, link_key, 1);
  begin_period("2002w23");
  write_top_table(14, 2);
  end_period();
  const std::string page = read_file("period.html");
  EXPECT_NE(page.find(std::string(69, 'a') + "&amp;\n<BR>&nbsp;&nbsp;&nbsp;bcdef\n</TD>"),
            std::string::npos);
  EXPECT_NE(page.find("<A HREF=\"http://x/?" + std::string(55, 'a') + "&amp;b&lt;&gt;c\">"),
            std::string::npos);
}

TEST_F(TopTableTest, KeyOf255CharactersTakesFourPieces) {
  settings.html_week = false;
  const std::string key = std::string(70, 'a') + std::string(70, 'b') + std::string(70, 'c') +
                          std::string(45, 'd');
  add_entry(5, key, 1);
  begin_period("2002w23");
  write_top_table(5, 2);
  end_period();
  const std::string gap = "\n<BR>&nbsp;&nbsp;&nbsp;";
  EXPECT_NE(read_file("period.html")
                .find(key.substr(0, 70) + gap + key.substr(70, 70) + gap + key.substr(140, 70) +
                      gap + key.substr(210) + "\n</TD>"),
            std::string::npos);
}

TEST_F(TopTableTest, EmptyKeyStillGivesOneLine) {
  settings.html_week = false;
  add_entry(10, "", 4);
  begin_period("2002w23");
  write_top_table(10, 2);
  end_period();
  EXPECT_NE(read_file("period.html").find("<TD ALIGN=LEFT>\n</TD><TD ALIGN=RIGHT>4</TD>"),
            std::string::npos);
}

TEST_F(TopTableTest, TablePagesFollowTheRunModeSwitch) {
  add_entry(5, "/a", 1);
  settings.html_month = false;
  begin_period("2002m05");
  write_top_table(5, 2);
  end_period();
  EXPECT_FALSE(file_exists("2002m05eh.html"));

  settings.html_out = false;
  settings.text_out = false;
  settings.html_week = true;
  begin_period("2002w23");
  write_top_table(5, 3);
  EXPECT_TRUE(file_exists("2002w23eb.html"));

  settings.html_year = false;
  begin_period("2002y");
  write_top_table(5, 2);
  EXPECT_FALSE(file_exists("2002yeh.html"));
}

TEST_F(TopTableTest, TablePageGoesToHtmlDirWithItsDoubleSlash) {
  ASSERT_EQ(mkdir("html", 0755), 0);
  settings.html_dir = "html/";
  settings.html_out = false;
  add_entry(5, "/a", 1);
  begin_period("2002w23");
  write_top_table(5, 2);
  EXPECT_TRUE(file_exists("html/2002w23eh.html"));
}

TEST_F(TopTableTest, TablePageThatCannotBeCreatedEndsTheRunWithAnIoError) {
  settings.html_dir = "missing";
  settings.html_out = false;
  add_entry(5, "/a", 1);
  begin_period("2002w23");
  try {
    write_top_table(5, 2);
    FAIL() << "the run went on";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line, "Cannot create missing/2002w23eh.html: No such file or directory");
  }
}

}  // namespace
}  // namespace sorvik
