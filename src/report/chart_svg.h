// Bar charts drawn as inline SVG for the report pages: a column chart of
// one or more series over the same categories, and a list of horizontal bars
// with their shares. No script, no external file; the bars are dark on
// white, every series is named by a caption and every bar by its category, so
// a chart reads the same in black and white. Each chart carries its figures
// as text (an aria-label on role="img", a <title> and a <desc>) for screen
// readers and text browsers.
//
// Only the chart's own tags and the numbers of its geometry are written as
// markup; every text (labels, captions, formatted numbers, the summary) as
// text of the page writer, escaped, so that a label from log data cannot
// break out of the SVG. Texts of the language file are escaped here too: a
// caption or title is plain text inside an SVG, never markup.
#ifndef SORVIK_REPORT_CHART_SVG_H_
#define SORVIK_REPORT_CHART_SVG_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/page_writer.h"

namespace sorvik {

// One quantity counted per category: its caption ("Hits") and one value per
// category, in the order of the categories' labels.
struct ChartSeries {
  std::string caption;
  std::vector<int64_t> values;
};

// How large a column chart is drawn: the width its categories share (more
// categories than fit widen the chart), and the height of each panel.
struct ColumnChartSize {
  int extent = 600;
  int panel_height = 120;
};
inline constexpr ColumnChartSize kFullColumnChart{600, 120};
inline constexpr ColumnChartSize kSmallColumnChart{360, 60};

// Writes a column chart: the categories side by side, labelled along the
// bottom by `labels` (thinned out where they would overlap); one panel per
// series, stacked, each with its caption, its own value axis and its bars
// scaled to its own largest value, with the value above each bar where it
// fits. No categories, or only zeros, give the panels with their axes and no
// bars. A series with fewer values than labels counts 0 for the rest.
void draw_column_chart(PageWriter& page, std::string_view title,
                       std::span<const std::string> labels, std::span<const ChartSeries> series,
                       ColumnChartSize size);

// Writes a list of horizontal bars, one per label, largest first as given:
// the label above its bar, the value and its share of `total` after it, and
// a value axis below. No labels give the axes alone.
void draw_bar_list(PageWriter& page, std::string_view title, std::span<const std::string> labels,
                   const ChartSeries& series, int64_t total);

// The text alternative of a column chart: `title`, then each category with
// its values, "Hours: 00: Hits 12, kB 3; 01: Hits 0, kB 0." (numbers by
// format_thousands). Just `title` when there are no categories.
std::string column_chart_summary(std::string_view title, std::span<const std::string> labels,
                                 std::span<const ChartSeries> series);

// The text alternative of a bar list: `title`, then each label with its
// value, caption and share, "Browsers: Firefox 12 Hits (60.00 %); ..."
// (shares by format_percent). Just `title` when there are no labels.
std::string bar_list_summary(std::string_view title, std::span<const std::string> labels,
                             const ChartSeries& series, int64_t total);

}  // namespace sorvik

#endif  // SORVIK_REPORT_CHART_SVG_H_
