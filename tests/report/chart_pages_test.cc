#include "report/chart_pages.h"

#include <functional>
#include <string>

#include "report/formats.h"
#include "report/report_fixture.h"
#include "report/top_table.h"
#include "stats/result_lists.h"

namespace sorvik {
namespace {

class ChartPagesTest : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    settings.html_charts = true;
  }

  // What `draw` writes on a page of its own.
  static std::string drawn(const std::function<void(PageWriter&)>& draw) {
    PageWriter page = PageWriter::create("chart.html");
    draw(page);
    page.finish();
    return read_file("chart.html");
  }

  // The text alternative of the one chart in `page`.
  static std::string summary_of(const std::string& page) {
    const std::size_t start = page.find("aria-label=\"");
    if (start == std::string::npos) return "(no chart)";
    const std::size_t from = start + 12;
    return page.substr(from, page.find('"', from) - from);
  }

  static void add_result(int mode, const std::string& name, int64_t visits) {
    insert_result(mode, ResultEntry{name, "access.1", true, visits * 10, visits * 100, visits});
  }
};

TEST_F(ChartPagesTest, NothingWithoutTheSettingOrForAListWithoutAChart) {
  add_entry(kHours, "10", 3);
  add_entry(kFiles, "/a.html", 3);
  add_result(kModeMonths, "2026m01", 5);
  EXPECT_EQ(drawn([](PageWriter& page) { write_list_chart(page, kFiles); }), "");
  settings.html_charts = false;
  EXPECT_EQ(drawn([](PageWriter& page) {
              write_list_chart(page, kHours);
              write_periods_chart(page, kModeMonths, "H33");
              write_recent_months_chart(page);
            }),
            "");
}

// The chart stands between the section's heading and its table, which stays
// as it is without charts.
TEST_F(ChartPagesTest, PeriodPageChartStandsAboveItsUnchangedTable) {
  add_entry(kStatusCodes, "200 OK", 3);
  const auto section = [](PageWriter& page) {
    write_period_page_table(page, kStatusCodes, kByHits, list_snapshot(kStatusCodes));
  };
  std::string with_chart = drawn(section);
  const std::size_t start = with_chart.find("</H3>\n<svg ");
  const std::size_t end = with_chart.find("</svg>\n<TABLE BORDER=2>\n");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  settings.html_charts = false;
  EXPECT_EQ(with_chart.erase(start + 6, end + 7 - (start + 6)), drawn(section));
}

TEST_F(ChartPagesTest, HoursChartHasEveryHourInClockOrder) {
  add_entry(kHours, "13", 2, 5);
  add_entry(kHours, "00", 1, 0);
  add_entry(kHours, "13", 1, 1);
  add_entry(kHours, "xx", 9, 9);  // no hour: a table row, but no bar
  const std::string page = drawn([](PageWriter& page) { write_list_chart(page, kHours); });
  std::string expected = "L20";
  for (int hour = 0; hour < 24; ++hour) {
    expected += (hour == 0 ? ": " : "; ") + format_two_digits(hour) + ": H10 " +
                (hour == 0    ? "1"
                 : hour == 13 ? "3"
                              : "0") +
                ", H11 " + (hour == 13 ? "6" : "0");
  }
  EXPECT_EQ(summary_of(page), expected + ".");
}

TEST_F(ChartPagesTest, BarListsShowTheLeadingEntriesInListOrder) {
  for (int i = 1; i <= 25; ++i) add_entry(kStatusCodes, "code " + std::to_string(i), 100 - i);
  for (int i = 1; i <= 12; ++i) add_entry(kBrowsers, "b" + std::to_string(i), 1);
  add_entry(kBrowsers, "<b>Firefox</b>", 11);
  list_sort(kBrowsers, kByHits);
  std::string page = drawn([](PageWriter& page) { write_list_chart(page, kStatusCodes); });
  EXPECT_TRUE(summary_of(page).starts_with("Top 20 H22 25 L11: code 1 99 H10 (4.55 %); code 2"));
  EXPECT_NE(summary_of(page).find("; code 20 80 H10"), std::string::npos);
  EXPECT_EQ(summary_of(page).find("code 21"), std::string::npos);
  page = drawn([](PageWriter& page) { write_list_chart(page, kBrowsers); });
  EXPECT_TRUE(summary_of(page).starts_with(
      "Top 10 H22 13 L18: &lt;b&gt;Firefox&lt;/b&gt; 11 H10 (47.83 %); b1 1 H10"));
}

TEST_F(ChartPagesTest, OverviewChartsShowEachRunModeOldestFirst) {
  add_result(kModeWeeks, "2026w10", 3);
  add_result(kModeWeeks, "2025w50", 1);
  add_result(kModeWeeks, "2026w02", 2);
  std::string page = drawn([](PageWriter& page) { write_periods_chart(page, kModeWeeks, "H34"); });
  EXPECT_EQ(summary_of(page),
            "H34: 2025w50: H38 10, H39 100, H40 1; 2026w02: H38 20, H39 200, H40 2; "
            "2026w10: H38 30, H39 300, H40 3.");
  // No period: the axes alone.
  page = drawn([](PageWriter& page) { write_periods_chart(page, kModeYears, "H32"); });
  EXPECT_EQ(summary_of(page), "H32.");
  EXPECT_NE(page.find("<path "), std::string::npos);
}

TEST_F(ChartPagesTest, IndexChartShowsTheMonthsOfTheLatestTwoYears) {
  const auto recent_months = [](PageWriter& page) { write_recent_months_chart(page); };
  EXPECT_EQ(drawn(recent_months), "");  // no month recorded: no table and no chart
  add_result(kModeMonths, "2026m03", 7);
  add_result(kModeMonths, "2024m12", 1);
  add_result(kModeMonths, "2025m01", 2);
  add_result(kModeMonths, "2026m01", 4);
  EXPECT_EQ(summary_of(drawn(recent_months)),
            "H33: 2025m01: H40 2; 2026m01: H40 4; 2026m03: H40 7.");
}

}  // namespace
}  // namespace sorvik
