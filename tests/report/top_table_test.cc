#include "report/top_table.h"

#include <filesystem>
#include <string>

#include "base/block_writer.h"
#include "base/run_stop.h"
#include "report/page_frame.h"
#include "report/period_report.h"
#include "report/report_fixture.h"

namespace sorvik {
namespace {

class TopTableTest : public ReportTest {
 protected:
  // Writes the section of `slot` by `key` for `period` into period files
  // without heads, so that they hold exactly the section.
  void write_section(int slot, int key, const std::string& period = "2002w23") {
    report.current_period = period;
    if (settings.text_out) report.period_text_file = create_output("period.txt");
    if (settings.html_out) report.period_page = PageWriter::create("period.html");
    write_top_table(slot, key);
    finish_blocks(report.block_writer);
    close_output(report.period_text_file);
    report.period_page.finish();
  }
  static bool has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
  }
  static int count_of(const std::string& text, const std::string& piece) {
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
      ++count;
    return count;
  }
};

TEST_F(TopTableTest, EmptyListIsSkippedAndOneEntryAppearsInAllThreePlaces) {
  write_section(5, 2);
  EXPECT_EQ(read_file("period.txt") + read_file("period.html"), "");
  EXPECT_FALSE(file_exists("2002w23eh.html"));

  add_entry(5, "/index.html", 3, 10);
  write_section(5, 2);
  EXPECT_EQ(read_file("period.txt"),
            "1 L5H13 H5\n/index.html " + std::string(46, '.') + " 3 H10\n---\n");
  const std::string rows =
      "/index.html\n</TD><TD ALIGN=RIGHT>3</TD><TD ALIGN=RIGHT>100.00</TD></TR>\n";
  EXPECT_EQ(read_file("period.html"),
            "<A NAME=\"eh\"> </A><H3>Top 1 H22 1 L5 H13 H5</H3>\n<TABLE BORDER=2>\n"
            "<TR><TH ALIGN=RIGHT>&nbsp;N&nbsp;</TH><TH>&nbsp;L5&nbsp;</TH><TH>&nbsp;H10&nbsp;</TH>"
            "<TH>&nbsp;%&nbsp;</TH></TR><TR><TD ALIGN=RIGHT>1</TD><TD ALIGN=LEFT>" +
                rows +
                "<TR><TH>&nbsp;&nbsp;&nbsp;</TH><TH ALIGN=LEFT>&nbsp;H23&nbsp;</TH>"
                "<TH ALIGN=RIGHT>&nbsp;3&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH></TR>\n"
                "</TABLE><BR>\n<A HREF=\"#ptop\">H24</A><BR><BR>\n");
  EXPECT_EQ(
      read_file("2002w23eh.html"),
      header("WeblogH14 http://example.org") +
          "<A NAME=\"ptop\"></A>Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>\n"
          "<A HREF=\"index.html\">Log-Index</A> ==> <A HREF=\"weeks.html\">H17H18</A> ==> "
          "Log 2002w23\n<H1>WeblogH14 http://example.org</H1>\n<H2>H192002H2023</H2>\n"
          "<H3>Top 1 H22 1 L5 H13 H5</H3>\n<TABLE BORDER=2>\n"
          "<TR><TH>&nbsp;L5&nbsp;</TH><TH>&nbsp;H10&nbsp;</TH><TH>&nbsp;%&nbsp;</TH></TR>"
          "<TR><TD ALIGN=LEFT>" +
          rows +
          "<TR><TH ALIGN=LEFT>H23</TH><TH ALIGN=RIGHT>3</TH><TH ALIGN=RIGHT>100.00</TH></TR>\n"
          "</TABLE>\n<A HREF=\"#ptop\">H24</A><BR><BR>\n" +
          footer());
}

TEST_F(TopTableTest, PeriodPageShowsAtMostHtmlTablesRowsButTheTextFileAll) {
  settings.html_week = false;
  for (int i = 1; i <= 30; ++i) add_entry(7, "p" + std::to_string(i), static_cast<uint64_t>(i));
  add_entry(8, "only", 1);
  write_section(7, 2);
  const std::string page = read_file("period.html");
  EXPECT_TRUE(has(page, "<H3>Top 25 H22 30 L7 H13 H5</H3>"));
  EXPECT_EQ(count_of(page, "<TR><TD"), 25);
  EXPECT_TRUE(has(page, "<TD ALIGN=RIGHT>25</TD><TD ALIGN=LEFT>p6\n"));  // by hits
  EXPECT_TRUE(has(page, "&nbsp;465&nbsp;"));                             // the total of all 30
  EXPECT_EQ(count_of(read_file("period.txt"), " H10\n"), 30);
  write_section(8, 2);
  EXPECT_TRUE(has(read_file("period.html"), "<H3>Top 1 H22 1 L8 H13 H5</H3>"));
  list_set_title(8, std::string(255, 't'));  // the caption line is cut at 255 bytes
  write_section(8, 2);
  EXPECT_TRUE(has(read_file("period.html"), "<H3>Top 1 H22 1 " + std::string(239, 't') + "\n"));
}

TEST_F(TopTableTest, ZeroOrNegativeHtmlTablesLeavesOnlyTheTotalRow) {
  add_entry(7, "a", 2);
  add_entry(7, "b", 3);
  for (const int tables : {0, -3}) {
    settings.html_tables = tables;
    write_section(7, 2);
    const std::string page = read_file("period.html");
    EXPECT_TRUE(has(page, "<H3>Top " + std::to_string(tables) + " H22 2 L7 H13 H5</H3>"));
    EXPECT_TRUE(has(page, "</TH></TR><TR><TH>&nbsp;&nbsp;&nbsp;</TH>"));
    EXPECT_EQ(count_of(page + read_file("2002w23gh.html"), "<TR><TD"), 0);
    EXPECT_EQ(count_of(read_file("period.txt"), " H10\n"), 2);
  }
}

TEST_F(TopTableTest, ZeroTotalAndCommaDecsepLeaveTheTotalRowAtAFixedHundred) {
  settings.decsep = ',';
  add_entry(4, "/a/", 1, 0);
  write_section(4, 3);
  EXPECT_TRUE(has(read_file("period.html"), "<TD ALIGN=RIGHT>0</TD><TD ALIGN=RIGHT>-</TD>"));
  EXPECT_TRUE(has(read_file("period.html"), "&nbsp;0&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;100.00&"));
  EXPECT_TRUE(has(read_file("2002w23db.html"), "<TH ALIGN=RIGHT>100.00</TH>"));
  add_entry(7, "a", 1000);
  add_entry(7, "b", 7000);
  write_section(7, 2);
  EXPECT_TRUE(
      has(read_file("period.html"), "<TD ALIGN=RIGHT>7,000</TD><TD ALIGN=RIGHT> 87,50</TD>"));
  EXPECT_TRUE(has(read_file("period.html"), "<TH ALIGN=RIGHT>&nbsp;100.00&nbsp;</TH>"));
}

TEST_F(TopTableTest, HostileKeysAreEscapedOnPagesAndRawInTheTextFile) {
  const std::string key = "/<script>alert(\"x\")</script>&y";
  add_entry(5, key, 1);
  write_section(5, 2);
  const std::string escaped =
      "<TD ALIGN=LEFT>/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;y\n";
  for (const std::string& page : {read_file("period.html"), read_file("2002w23eh.html")}) {
    EXPECT_TRUE(has(page, escaped));
    EXPECT_FALSE(has(page, "<script"));
  }
  EXPECT_TRUE(has(read_file("period.txt"), key + " ."));
}

TEST_F(TopTableTest, ReferrerLinksNeedExactSchemeAndAtMost70RawBytes) {
  const std::string link = "http://x/?" + std::string(55, 'a') + "&b<>c";  // 70 raw bytes
  const std::string split = std::string(69, 'a') + "&bcdef";  // piece ends with the "&"
  const std::string too_long = "http://" + std::string(64, 'u');
  for (const std::string& key : {link, split, too_long, std::string("HTTP://x/")}) {
    add_entry(kExternalReferrers, key, 1);
  }
  add_entry(5, "http://x/", 1);
  write_section(5, 2);
  EXPECT_FALSE(has(read_file("period.html"), "HREF=\"http"));
  write_section(kExternalReferrers, 2);
  const std::string page = read_file("period.html");
  const std::string escaped = "http://x/?" + std::string(55, 'a') + "&amp;b&lt;&gt;c";
  EXPECT_TRUE(has(page, "<TD ALIGN=LEFT><A HREF=\"" + escaped + "\">" + escaped + "</A>\n</TD>"));
  EXPECT_TRUE(has(page, std::string(69, 'a') + "&amp;\n<BR>&nbsp;&nbsp;&nbsp;bcdef\n</TD>"));
  EXPECT_TRUE(has(page, too_long.substr(0, 70) + "\n<BR>&nbsp;&nbsp;&nbsp;u\n</TD>"));
  EXPECT_EQ(count_of(page, "<A HREF=\"h"), 1);
  EXPECT_EQ(count_of(page, "<A HREF=\"H"), 0);
  // The table page carries no links at all.
  EXPECT_TRUE(has(read_file("2002w23nh.html"), "<TD ALIGN=LEFT>" + escaped + "\n</TD>"));
}

TEST_F(TopTableTest, SecureReferrerKeysAreLinksUnderTheSameRule) {
  const std::string link = "https://x/?" + std::string(59, 'a');  // 70 bytes
  const std::string too_long = link + "b";
  add_entry(kSearchEngines, link, 2);
  add_entry(kSearchEngines, too_long, 1);
  add_entry(kSearchEngines, "HTTPS://x/", 1);
  write_section(kSearchEngines, 2);
  const std::string page = read_file("period.html");
  EXPECT_TRUE(has(page, "<TD ALIGN=LEFT><A HREF=\"" + link + "\">" + link + "</A>\n</TD>"));
  EXPECT_TRUE(has(page, too_long.substr(0, 70) + "\n<BR>&nbsp;&nbsp;&nbsp;b\n</TD>"));
  EXPECT_EQ(count_of(page, "<A HREF=\"h"), 1);
}

TEST_F(TopTableTest, TablePagesFollowTheRunModeSwitch) {
  add_entry(20, "07", 1);
  settings.html_month = false;
  write_section(20, 1, "2002m05");
  EXPECT_FALSE(file_exists("2002m05tk.html"));
  settings.html_out = false;
  write_section(20, 1, "2002y");
  EXPECT_TRUE(has(read_file("2002ytk.html"),
                  "Log 2002y\n<H1>WeblogH14 http://example.org</H1>\n"
                  "<H2>H192002</H2>\n"));
}

TEST_F(TopTableTest, TablePageThatCannotBeCreatedEndsTheRunWithAnIoError) {
  settings.html_dir = "missing/";
  settings.html_out = false;
  add_entry(5, "/a", 1);
  try {
    write_section(5, 2);
    FAIL() << "the run went on";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line,
              "Cannot create missing//2002w23eh.html: No such file or directory");
  }
}

// With a block writer a table page is made in memory and created on the
// writer's thread: the same bytes, and a failed creation ends the run when
// the period's blocks are finished.
TEST_F(TopTableTest, TablePagesCreatedByTheBlockWriterHoldTheSameBytes) {
  add_entry(5, "/index.html", 3, 10);
  add_entry(5, "/a&b.html", 1, 2);
  write_section(5, 2);
  const std::string direct = read_file("2002w23eh.html");
  std::filesystem::remove("2002w23eh.html");
  BlockWriter writer;
  report.block_writer = &writer;
  write_section(5, 2);
  EXPECT_EQ(read_file("2002w23eh.html"), direct);

  settings.html_dir = "missing/";
  const RunStop stop = stop_of([&] { write_section(5, 3); });
  report.block_writer = nullptr;
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_EQ(stop.console_line, "Cannot create missing//2002w23eb.html: No such file or directory");
}

}  // namespace
}  // namespace sorvik
