#include "report/index_pages.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/error_log.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class IndexPagesTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> html;
    for (int k = 0; k <= 51; ++k) html.push_back("H" + std::to_string(k));
    const std::vector<std::pair<int, std::string>> texts = {
        {13, " by "},        {24, "Top"},          {26, " index of"}, {27, " ==> Index"},
        {28, "Pages:"},      {29, "Years"},        {30, "Months"},    {31, "Weeks"},
        {32, "Yearly"},      {33, "Monthly"},      {34, "Weekly"},    {35, "Month"},
        {36, "Week"},        {37, "Year"},         {38, "Files"},     {39, "kBytes"},
        {40, "Visits"},      {42, "Index"},        {43, " list "},    {44, " statistics for "},
        {45, "Page"},        {46, "Period page "}, {48, " sort "},    {49, " HTML files found"},
        {50, "Total size: "}};
    for (const auto& [k, text] : texts) html[k] = text;
    set_group_lines(kHtml, html);

    std::vector<std::string> list_lines = {"abcdefghijklmnopqrstuvwxyz"};
    for (int i = 1; i <= 27; ++i) list_lines.push_back("List" + std::to_string(i));
    set_group_lines(kLists, list_lines);
    message_table.list_letters = list_lines[0];
    set_group_lines(kSortOptions, {"oskvdr", "Sort1", "Sort2", "Sort3", "Sort4", "Sort5", "Sort6"});
    message_table.sort_letters = "oskvdr";

    settings.html_dir = "html";
    settings.host_url = "www.example.org";
    settings.html_copyright = "(c)";
    settings.generator_footer = "gen";
    std::filesystem::create_directory("html");
  }

  // A whole page: the fixed header with `title`, then `body`, then the footer.
  static std::string page(const std::string& title, const std::string& body) {
    return "<HTML>\n<HEAD>\n<TITLE>" + title +
           "</TITLE>\n"
           "<META NAME=\"GENERATOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"AUTHOR\" CONTENT=\"Sorvik version 0.8\">\n"
           "<META NAME=\"CREATED\" CONTENT=\"20261207;10111213\">\n"
           "<META NAME=\"ROBOTS\" CONTENT=\"noindex\">\n"
           "</HEAD>\n"
           "<BODY BGCOLOR=#F0FFF0>\n" +
           body + "<A HREF=\"#ptop\">Top</A><BR><BR>\n(c)\ngen\n</BODY>\n</HTML>\n";
  }

  // The rows of an overview page: the text between its column heads and "</TABLE>".
  static std::string rows_of(const std::string& path) {
    const std::string text = read_file(path);
    const std::size_t heads = text.find("</TH></TR>\n");
    const std::size_t end = text.find("</TABLE>");
    if (heads == std::string::npos || end == std::string::npos) return "(no table)";
    return text.substr(heads + 11, end - heads - 11);
  }

  static void add_result(int mode, const std::string& name, int64_t files, int64_t kbytes,
                         int64_t visits) {
    ResultEntry entry;
    entry.name = name;
    entry.complete = true;
    entry.files = files;
    entry.kbytes = kbytes;
    entry.visits = visits;
    results.result_lists[mode].push_back(entry);
  }
};

TEST_F(IndexPagesTest, SwitchedOffWritesNoPageAndLeavesTheListEmpty) {
  write_file("html/2002m01.html", "x");
  add_result(2, "2002m01", 1, 2, 3);
  for (const bool html_out : {false, true}) {
    settings.html_out = html_out;
    settings.html_index = !html_out;
    write_overview_pages();
    write_index_page();
    EXPECT_EQ(list_snapshot(kPeriodPages).count, 0);
    EXPECT_FALSE(file_exists("html/index.html"));
    EXPECT_FALSE(file_exists("html/years.html"));
    EXPECT_FALSE(file_exists("html/monthes.html"));
    EXPECT_FALSE(file_exists("html/weeks.html"));
  }
  EXPECT_EQ(console_output(), "");
}

TEST_F(IndexPagesTest, EmptyDirectoryGivesHeadsWithoutRows) {
  write_overview_pages();
  EXPECT_EQ(console_output(), "0 HTML files found\nTotal size: 0\n");
  EXPECT_EQ(read_file("html/years.html"),
            page("Weblog statistics for  http://www.example.org",
                 "<A NAME=\"ptop\"></A>\n"
                 "Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==>\n"
                 "<A HREF=\"index.html\">Index</A> ==> Yearly\n"
                 "<H1>Yearly statistics for http://www.example.org</H1>\n"
                 "Pages:<UL>\n"
                 "<LI><A HREF=\"years.html\">Yearly</A>,</LI>\n"
                 "</UL>\n"
                 "<TABLE BORDER><TR><TH>&nbsp;Year&nbsp;</TH><TH>&nbsp;Page&nbsp;</TH></TR>\n"
                 "</TABLE>\n"));
  const std::string months = read_file("html/monthes.html");
  EXPECT_NE(months.find("<A HREF=\"index.html\">Index</A> ==> Monthly\n"
                        "<H1>Monthly statistics for http://www.example.org</H1>\n"
                        "Pages:<UL>\n"
                        "<LI><A HREF=\"monthes.html\">Monthly</A>,</LI>\n"
                        "</UL>\n"
                        "<TABLE BORDER><TR><TH>&nbsp;Year&nbsp;</TH><TH>&nbsp;Month&nbsp;</TH>"
                        "<TH>&nbsp;Page&nbsp;</TH></TR>\n</TABLE>\n"),
            std::string::npos);
  const std::string weeks = read_file("html/weeks.html");
  EXPECT_NE(weeks.find("<LI><A HREF=\"weeks.html\">Weekly</A>.</LI>\n</UL>\n"
                       "<TABLE BORDER><TR><TH>&nbsp;Year&nbsp;</TH><TH>&nbsp;Week&nbsp;</TH>"
                       "<TH>&nbsp;Page&nbsp;</TH></TR>\n</TABLE>\n"),
            std::string::npos);
}

TEST_F(IndexPagesTest, ListsEveryMatchingFileWithItsSizeInBytes) {
  write_file("html/2002m01.html", std::string(1200, 'x'));
  write_file("html/2002w01.html", std::string(300, 'x'));
  write_file("html/index.html", std::string(5000, 'x'));
  write_file("html/2002m01.txt", "x");
  write_overview_pages();
  EXPECT_EQ(console_output(), "2 HTML files found\nTotal size: 1,500\n");
  const CountedList& pages = list_snapshot(kPeriodPages);
  ASSERT_EQ(pages.count, 2);
  EXPECT_EQ(pages.entries[0].key, "2002w01.html");
  EXPECT_EQ(pages.entries[0].hits, 1u);
  EXPECT_EQ(pages.entries[0].kbytes, 300);
  EXPECT_EQ(pages.entries[0].visits, 0u);
  EXPECT_EQ(pages.entries[1].key, "2002m01.html");
}

TEST_F(IndexPagesTest, RunStopsAtThePagesOfAnotherRunMode) {
  for (const char* name : {"2001m01.html", "2001w01.html", "2002m01.html", "2002w01.html"}) {
    write_file(std::string("html/") + name, "x");
  }
  write_overview_pages();
  EXPECT_EQ(rows_of("html/monthes.html"),
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2002</TD>\n"
            "<TD ROWSPAN=1 VALIGN=TOP>01</TD>\n"
            "<TD>Period page 2002m01.html list 0 sort 0</TD></TR>\n");
  EXPECT_EQ(rows_of("html/years.html"), "");
}

TEST_F(IndexPagesTest, OnlyRunModeWithPagesShowsEveryYear) {
  for (const char* name : {"2001m12.html", "2002m01.html", "2002m02.html"}) {
    write_file(std::string("html/") + name, "x");
  }
  write_overview_pages();
  EXPECT_EQ(rows_of("html/monthes.html"),
            "<TR><TD ROWSPAN=2 VALIGN=TOP>2002</TD>\n"
            "<TD ROWSPAN=1 VALIGN=TOP>02</TD>\n"
            "<TD>Period page 2002m02.html list 0 sort 0</TD></TR>\n"
            "<TR><TD ROWSPAN=1 VALIGN=TOP>01</TD>\n"
            "<TD>Period page 2002m01.html list 0 sort 0</TD></TR>\n"
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2001</TD>\n"
            "<TD ROWSPAN=1 VALIGN=TOP>12</TD>\n"
            "<TD>Period page 2001m12.html list 0 sort 0</TD></TR>\n");
}

TEST_F(IndexPagesTest, TablePagesComeBeforeTheirPeriodPageInOneNumberCell) {
  for (const char* name : {"2002m05.html", "2002m05as.html", "2002m05ck.html", "2002m04zq.html"}) {
    write_file(std::string("html/") + name, "x");
  }
  write_overview_pages();
  EXPECT_EQ(rows_of("html/monthes.html"),
            "<TR><TD ROWSPAN=4 VALIGN=TOP>2002</TD>\n"
            "<TD ROWSPAN=3 VALIGN=TOP>05</TD>\n"
            "<TD><A HREF=\"2002m05ck.html\">List3 by Sort2</A></TD></TR>\n"
            "<TR><TD><A HREF=\"2002m05as.html\">List1 by Sort1</A></TD></TR>\n"
            "<TR><TD>Period page 2002m05.html list 0 sort 0</TD></TR>\n"
            "<TR><TD ROWSPAN=1 VALIGN=TOP>04</TD>\n"
            "<TD>Period page 2002m04zq.html list 26 sort 0</TD></TR>\n");
}

TEST_F(IndexPagesTest, YearPagesReadTheirLettersRightAfterTheModeLetter) {
  for (const char* name : {"2002y.html", "2002ys.html", "2002yas.html", "2001y.html"}) {
    write_file(std::string("html/") + name, "x");
  }
  write_overview_pages();
  EXPECT_EQ(rows_of("html/years.html"),
            "<TR><TD ROWSPAN=3 VALIGN=TOP>2002</TD>\n"
            "<TD>Period page 2002ys.html list 19 sort 0</TD></TR>\n"
            "<TR><TD><A HREF=\"2002yas.html\">List1 by Sort1</A></TD></TR>\n"
            "<TR><TD>Period page 2002y.html list 0 sort 0</TD></TR>\n"
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2001</TD>\n"
            "<TD>Period page 2001y.html list 0 sort 0</TD></TR>\n");
}

TEST_F(IndexPagesTest, StrayAndHostileFileNamesAreListedEscaped) {
  // Names beginning with "2" and ending in ".html" are listed whatever they
  // hold; a short one still has a mode letter at character 5.
  for (const char* name : {"2.html", "2stray.html", "2<&\"yas.html", "2>&<y.html"}) {
    write_file(std::string("html/") + name, "x");
  }
  write_overview_pages();
  EXPECT_EQ(console_output(), "4 HTML files found\nTotal size: 4\n");
  EXPECT_EQ(rows_of("html/monthes.html"),
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2.ht</TD>\n"
            "<TD ROWSPAN=1 VALIGN=TOP>l</TD>\n"
            "<TD>Period page 2.html list 0 sort 0</TD></TR>\n");
  EXPECT_EQ(rows_of("html/years.html"),
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2&gt;&amp;&lt;</TD>\n"
            "<TD>Period page 2&gt;&amp;&lt;y.html list 0 sort 0</TD></TR>\n"
            "<TR><TD ROWSPAN=1 VALIGN=TOP>2&lt;&amp;&quot;</TD>\n"
            "<TD><A HREF=\"2&lt;&amp;&quot;yas.html\">List1 by Sort1</A></TD></TR>\n");
}

TEST_F(IndexPagesTest, IndexListsPeriodsLatestFirstAndLinksExistingPages) {
  settings.errlog_file = "errlog.txt";
  error_log_open();
  add_result(1, "2001y", 10, 20, 30);
  add_result(1, "2002y", 1234, 5678901, 7);
  add_result(3, "2002w01", 1, 2, 3);
  add_result(3, "2002w02", 4, 5, 6);
  write_file("html/2002y.html", "x");
  write_file("html/2002w01.html", "x");
  take_console_output();

  write_index_page();
  EXPECT_EQ(take_console_output(), "Run mode 2 has no data!\nClosing index file.\n");
  EXPECT_EQ(read_file("html/index.html"),
            page("Weblog index of http://www.example.org",
                 "<A NAME=\"ptop\"></A>\n"
                 "Path: <A HREF=\"../index.html\" TARGET=\"_top\">Home</A> ==> Index\n"
                 "<H1> index of http://www.example.org</H1>\n"
                 "Pages:\n"
                 "<UL><LI><A HREF=\"years.html\">Years</A>,</LI>\n"
                 "<LI><A HREF=\"monthes.html\">Months</A>,</LI>\n"
                 "<LI><A HREF=\"weeks.html\">Weeks</A>.</LI></UL>\n"
                 "<H2>Yearly</H2>\n"
                 "<TABLE BORDER>\n"
                 "<TR><TH>&nbsp;Year&nbsp;</TH>"
                 "<TH ALIGN=RIGHT>&nbsp;Files&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;kBytes&nbsp;</TH>\n"
                 "<TH ALIGN=RIGHT>&nbsp;Visits&nbsp;</TH></TR>\n"
                 "<TR><TD ALIGN=LEFT><A HREF=\"2002y.html\">2002</A></TD><TD ALIGN=RIGHT>1,234"
                 "</TD><TD ALIGN=RIGHT>5,678,901</TD><TD ALIGN=RIGHT>7</TD></TR>\n"
                 "<TR><TD ALIGN=LEFT>2001</TD><TD ALIGN=RIGHT>10</TD><TD ALIGN=RIGHT>20"
                 "</TD><TD ALIGN=RIGHT>30</TD></TR>\n"
                 "</TABLE>\n"
                 "<H2>Monthly</H2>\n"
                 "<H2>Weekly</H2>\n"
                 "<TABLE BORDER>\n"
                 "<TR><TH>&nbsp;Year&nbsp;</TH><TH>&nbsp;Week&nbsp;</TH>"
                 "<TH ALIGN=RIGHT>&nbsp;Files&nbsp;</TH><TH ALIGN=RIGHT>&nbsp;kBytes&nbsp;</TH>\n"
                 "<TH ALIGN=RIGHT>&nbsp;Visits&nbsp;</TH></TR>\n"
                 "<TR><TD ALIGN=LEFT>2002</TD><TD ALIGN=RIGHT>02</TD><TD ALIGN=RIGHT>4"
                 "</TD><TD ALIGN=RIGHT>5</TD><TD ALIGN=RIGHT>6</TD></TR>\n"
                 "<TR><TD ALIGN=LEFT>2002</TD><TD ALIGN=RIGHT><A HREF=\"2002w01.html\">01</A>"
                 "</TD><TD ALIGN=RIGHT>1</TD><TD ALIGN=RIGHT>2</TD><TD ALIGN=RIGHT>3</TD></TR>\n"
                 "</TABLE>\n"));

  error_log_close();
  const std::string log = read_file("errlog.txt");
  EXPECT_NE(log.find("101112: Error in file html/index.html!\n"
                     "        Run mode 2 has no data!\n"),
            std::string::npos);
  EXPECT_EQ(log.find("Run mode 1"), std::string::npos);
  EXPECT_EQ(log.find("Run mode 3"), std::string::npos);
}

TEST_F(IndexPagesTest, IndexEscapesPeriodNamesAndChecksTheirPages) {
  settings.html_dir = "html/";  // the page is still found behind the double slash
  add_result(2, "2&<\"m\">", 1, 1, 1);
  write_file("html/2&<\"m\">.html", "x");
  write_index_page();
  const std::string index = read_file("html/index.html");
  EXPECT_NE(index.find("<TR><TD ALIGN=LEFT>2&amp;&lt;&quot;</TD><TD ALIGN=RIGHT>"
                       "<A HREF=\"2&amp;&lt;&quot;m&quot;&gt;.html\">&quot;&gt;</A></TD>"),
            std::string::npos);
}

}  // namespace
}  // namespace sorvik
