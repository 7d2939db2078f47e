#include "report/chart_svg.h"

#include <functional>
#include <string>
#include <vector>

#include "base/settings.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

using ChartSvgTest = SorvikTest;

// What `draw` writes on a page of its own.
std::string drawn(const std::function<void(PageWriter&)>& draw) {
  PageWriter page = PageWriter::create("chart.html");
  draw(page);
  page.finish();
  return read_file("chart.html");
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Checks what an XML parser would reject: every tag closed in order, no
// stray "<" or "&" in text, no quote inside an attribute value. The e2e
// browser test parses the charts of whole runs with a real XML parser.
::testing::AssertionResult well_formed(const std::string& svg) {
  std::vector<std::string> open;
  for (std::size_t at = 0; at < svg.size();) {
    const std::size_t lt = svg.find('<', at);
    const std::string words = svg.substr(at, lt - at);
    for (std::size_t amp = words.find('&'); amp != std::string::npos;
         amp = words.find('&', amp + 1)) {
      if (words.compare(amp, 4, "&lt;") != 0 && words.compare(amp, 4, "&gt;") != 0 &&
          words.compare(amp, 5, "&amp;") != 0 && words.compare(amp, 6, "&quot;") != 0) {
        return ::testing::AssertionFailure() << "bare & in: " << words;
      }
    }
    if (lt == std::string::npos) break;
    const std::size_t gt = svg.find('>', lt);
    if (gt == std::string::npos) return ::testing::AssertionFailure() << "unclosed tag";
    const std::string tag = svg.substr(lt + 1, gt - lt - 1);
    if (tag.find('<') != std::string::npos || occurrences(tag, "\"") % 2 != 0) {
      return ::testing::AssertionFailure() << "broken tag: " << tag;
    }
    const std::string name = tag.substr(0, tag.find_first_of(" />"));
    if (tag.front() == '/') {
      if (open.empty() || open.back() != tag.substr(1)) {
        return ::testing::AssertionFailure() << "misnested </" << tag.substr(1) << ">";
      }
      open.pop_back();
    } else if (tag.back() != '/') {
      open.push_back(name);
    }
    at = gt + 1;
  }
  if (!open.empty()) return ::testing::AssertionFailure() << "unclosed <" << open.back() << ">";
  return ::testing::AssertionSuccess();
}

TEST_F(ChartSvgTest, ColumnChartStatesItsFiguresAsText) {
  settings.ksep = '.';
  const std::vector<std::string> labels = {"00", "01", "02"};
  const std::vector<ChartSeries> series = {{"Hits", {1200, 0, 7}}, {"kB", {3, 4}}};
  const std::string svg = drawn([&](PageWriter& page) {
    draw_column_chart(page, "Hours", labels, series, kFullColumnChart);
  });
  const std::string summary = "Hours: 00: Hits 1.200, kB 3; 01: Hits 0, kB 4; 02: Hits 7, kB 0.";
  EXPECT_EQ(column_chart_summary("Hours", labels, series), summary);
  EXPECT_TRUE(svg.starts_with("<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "));
  EXPECT_NE(svg.find(" aria-label=\"" + summary + "\">\n<title>" + summary + "</title>\n<desc>" +
                     summary + "</desc>\n"),
            std::string::npos);
  EXPECT_TRUE(well_formed(svg));
  // Four bars (the zeros have none) besides the white ground.
  EXPECT_EQ(occurrences(svg, "<rect "), 5);
  // Labels, each panel's values, and the marks 0 500 1.000 and 0 1 2 3 4.
  EXPECT_EQ(occurrences(svg, "<text x=\"") - occurrences(svg, "font-weight"), 3 + 6 + 3 + 5);
}

TEST_F(ChartSvgTest, EmptyChartsKeepTheirAxes) {
  const std::string columns = drawn([](PageWriter& page) {
    draw_column_chart(page, "Months", {}, std::vector<ChartSeries>{{"Visits", {}}},
                      kSmallColumnChart);
  });
  EXPECT_TRUE(well_formed(columns));
  EXPECT_EQ(occurrences(columns, "<rect "), 1);
  EXPECT_EQ(occurrences(columns, "<path "), 1);
  EXPECT_NE(columns.find("aria-label=\"Months.\""), std::string::npos);

  const std::string bars = drawn([](PageWriter& page) {
    draw_bar_list(page, "Browsers", {}, ChartSeries{"Hits", {}}, 0);
  });
  EXPECT_TRUE(well_formed(bars));
  EXPECT_EQ(occurrences(bars, "<rect "), 1);
  EXPECT_EQ(occurrences(bars, "<path "), 1);
}

TEST_F(ChartSvgTest, BarListShowsValuesAndShares) {
  settings.decsep = ',';
  const std::vector<std::string> labels = {"200 OK", "404 Not Found"};
  const ChartSeries hits{"Hits", {3, 1}};
  EXPECT_EQ(bar_list_summary("Status codes", labels, hits, 4),
            "Status codes: 200 OK 3 Hits (75,00 %); 404 Not Found 1 Hits (25,00 %).");
  EXPECT_EQ(bar_list_summary("S", labels, hits, 0),
            "S: 200 OK 3 Hits (-); 404 Not Found 1 Hits (-).");
  const std::string svg =
      drawn([&](PageWriter& page) { draw_bar_list(page, "Status codes", labels, hits, 4); });
  EXPECT_TRUE(well_formed(svg));
  EXPECT_NE(svg.find(">3 (75,00 %)</text>"), std::string::npos);
  EXPECT_NE(svg.find("width=\"320\" height=\"12\""), std::string::npos);  // the largest
  EXPECT_NE(svg.find("width=\"107\" height=\"12\""), std::string::npos);  // a third of it
}

TEST_F(ChartSvgTest, HostileLabelsAndSeparatorsStayEscaped) {
  settings.ksep = '<';
  const std::string hostile = "Firefox/\"><script>alert('&x')</script>";
  const std::vector<std::string> labels = {hostile, "a&b"};
  const std::string columns = drawn([&](PageWriter& page) {
    draw_column_chart(page, "T<i>", labels, std::vector<ChartSeries>{{"\"kB\"", {5000, 1}}},
                      kFullColumnChart);
  });
  const std::string bars = drawn([&](PageWriter& page) {
    draw_bar_list(page, "T<i>", labels, ChartSeries{"<b>", {5000, 1}}, 5001);
  });
  for (const std::string& svg : {columns, bars}) {
    EXPECT_TRUE(well_formed(svg)) << svg;
    EXPECT_EQ(svg.find("<script"), std::string::npos);
    EXPECT_EQ(svg.find("<i>"), std::string::npos);
    EXPECT_NE(svg.find("Firefox/&quot;&gt;&lt;script&gt;alert('&amp;x')&lt;/script&gt;"),
              std::string::npos);
    EXPECT_NE(svg.find("5&lt;000"), std::string::npos);
  }
}

}  // namespace
}  // namespace sorvik
