#include "report/chart_svg.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "report/chart_geometry.h"
#include "report/formats.h"

namespace sorvik {
namespace {

// Sizes in pixels of the drawing, for a text size of 11 pixels.
constexpr int kCharWidth = 7;     // room taken by one character, wide enough for digits
constexpr int kPad = 8;           // blank border around the drawing
constexpr int kTickLength = 4;    // tick marks outside the axis
constexpr int kCaptionBand = 16;  // a series' caption above its panel
constexpr int kHeadroom = 14;     // room for the value above the longest bar
constexpr int kPanelGap = 8;      // between one panel's axis and the next caption
constexpr int kLabelBand = 16;    // category labels below the last panel
constexpr int kNarrowestSlot = 3;
constexpr int kWidestSlot = 60;
constexpr int kEmptyPlotWidth = 120;   // a chart without categories still shows its axes
constexpr int kColumnStepPixels = 30;  // at most one axis mark per this many pixels
// The bar list: each row a label line above a bar; bars reach this far.
constexpr int kRowLabel = 14;
constexpr int kRowBar = 12;
constexpr int kRowGap = 6;
constexpr int kBarReach = 320;
constexpr int kListStepPixels = 80;
constexpr int kWidestList = 800;  // longer labels are cut off by the drawing's edge

// Fills of the panels, one dark to light per series so they differ in grey
// as well; bars are outlined in black so that even the lightest prints.
constexpr const char* kFills[] = {"#2F5F8F", "#6F97BF", "#A7C3DF"};

std::string number(int value) { return std::to_string(value); }

std::string fill_of(std::size_t series) { return kFills[std::min(series, std::size(kFills) - 1)]; }

int text_width(std::string_view words) { return static_cast<int>(words.size()) * kCharWidth; }

// format_percent without its leading blanks, and "%" when it is a number.
std::string share_text(int64_t value, int64_t total) {
  std::string share = format_percent(value, total);
  share.erase(0, share.find_first_not_of(' '));
  if (share != "-") share += " %";
  return share;
}

int64_t value_at(const ChartSeries& series, std::size_t i) {
  return i < series.values.size() ? series.values[i] : 0;
}

// The opening tag with the text alternative, and a white ground. The
// summary is the name (aria-label) and title that screen readers announce,
// and the description that text browsers, which drop an SVG's title, show.
void open_svg(PageWriter& page, int width, int height, std::string_view summary) {
  page.markup("<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"" + number(width) +
              "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(width) + " " +
              number(height) + "\" font-family=\"sans-serif\" font-size=\"11\" aria-label=\"");
  page.text(summary).markup("\">\n<title>").text(summary);
  page.markup("</title>\n<desc>").text(summary);
  page.markup("</desc>\n<rect x=\"0\" y=\"0\" width=\"" + number(width) + "\" height=\"" +
              number(height) + "\" fill=\"#FFFFFF\" stroke=\"#808080\"/>\n");
}

void write_text_at(PageWriter& page, int x, int y, std::string_view words) {
  page.markup("<text x=\"" + number(x) + "\" y=\"" + number(y) + "\">")
      .text(words)
      .markup("</text>\n");
}

// The two axes as one line: up the value axis from its end, along the
// category axis.
void write_axes(PageWriter& page, int left, int top, int bottom, int right) {
  page.markup("<path d=\"M" + number(left) + " " + number(top) + " V" + number(bottom) + " H" +
              number(right) + "\" fill=\"none\" stroke=\"#000000\"/>\n");
}

// One panel of a column chart, its caption band starting at `top`.
void write_panel(PageWriter& page, const ChartSeries& series, std::size_t index, std::size_t count,
                 int left, int top, int slot, int reach) {
  const int plot_top = top + kCaptionBand + kHeadroom;
  const int base = plot_top + reach;
  const int right = left + std::max(static_cast<int>(count) * slot, kEmptyPlotWidth);
  page.markup("<text x=\"" + number(left) + "\" y=\"" + number(top + 12) +
              "\" font-weight=\"bold\">")
      .text(series.caption)
      .markup("</text>\n");

  std::vector<int64_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = value_at(series, i);
  const int64_t largest = largest_value(values);
  const std::vector<AxisTick> ticks =
      axis_ticks(largest, reach, std::max(1, reach / kColumnStepPixels));
  page.markup("<g stroke=\"#C0C0C0\">\n");
  for (const AxisTick& tick : ticks) {
    const std::string y = number(base - tick.position);
    page.markup("<line x1=\"" + number(left - kTickLength) + "\" y1=\"" + y + "\" x2=\"" +
                number(right) + "\" y2=\"" + y + "\"/>\n");
  }
  page.markup("</g>\n<g text-anchor=\"end\">\n");
  for (const AxisTick& tick : ticks) {
    write_text_at(page, left - kTickLength - 2, base - tick.position + 4,
                  format_thousands(tick.value));
  }
  page.markup("</g>\n<g fill=\"" + fill_of(index) +
              "\" stroke=\"#000000\" stroke-width=\"0.5\">\n");
  const std::vector<ChartBar> bars = lay_out_bars(values, slot, reach);
  for (const ChartBar& bar : bars) {
    if (bar.length == 0) continue;
    page.markup("<rect x=\"" + number(left + bar.offset) + "\" y=\"" + number(base - bar.length) +
                "\" width=\"" + number(bar.thickness) + "\" height=\"" + number(bar.length) +
                "\"/>\n");
  }
  page.markup("</g>\n");
  // The values stand above the bars when every one of them fits its slot;
  // some bars with and some without would look like missing figures.
  if (text_width(format_thousands(largest)) <= slot) {
    page.markup("<g text-anchor=\"middle\">\n");
    for (std::size_t i = 0; i < count; ++i) {
      write_text_at(page, left + static_cast<int>(i) * slot + slot / 2, base - bars[i].length - 3,
                    format_thousands(values[i]));
    }
    page.markup("</g>\n");
  }
  write_axes(page, left, plot_top - kHeadroom, base, right);
}

}  // namespace

std::string column_chart_summary(std::string_view title, std::span<const std::string> labels,
                                 std::span<const ChartSeries> series) {
  std::string summary(title);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    summary += i == 0 ? ": " : "; ";
    summary += labels[i];
    for (std::size_t s = 0; s < series.size(); ++s) {
      summary += s == 0 ? ": " : ", ";
      summary += series[s].caption + " " + format_thousands(value_at(series[s], i));
    }
  }
  summary += '.';
  return summary;
}

std::string bar_list_summary(std::string_view title, std::span<const std::string> labels,
                             const ChartSeries& series, int64_t total) {
  std::string summary(title);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const int64_t value = value_at(series, i);
    summary += i == 0 ? ": " : "; ";
    summary += labels[i] + " " + format_thousands(value) + " " + series.caption + " (" +
               share_text(value, total) + ")";
  }
  summary += '.';
  return summary;
}

void draw_column_chart(PageWriter& page, std::string_view title,
                       std::span<const std::string> labels, std::span<const ChartSeries> series,
                       ColumnChartSize size) {
  const std::size_t count = labels.size();
  const int slot = slot_width(count, size.extent, kNarrowestSlot, kWidestSlot);
  const int reach = std::max(size.panel_height, 1);
  // The value axes line up: all panels leave room for the longest mark.
  int mark_width = text_width("0");
  for (const ChartSeries& one : series) {
    std::vector<int64_t> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = value_at(one, i);
    const int64_t largest = largest_value(values);
    mark_width = std::max(mark_width, text_width(format_thousands(largest)));
  }
  const int left = kPad + mark_width + kTickLength + 4;
  const int plot_width = std::max(static_cast<int>(count) * slot, kEmptyPlotWidth);
  const int panel_block = kCaptionBand + kHeadroom + reach + kPanelGap;
  const int panels = static_cast<int>(series.size());
  const int width = left + plot_width + kPad;
  const int height = kPad + panels * panel_block + kLabelBand + kPad;

  open_svg(page, width, height, column_chart_summary(title, labels, series));
  for (std::size_t s = 0; s < series.size(); ++s) {
    write_panel(page, series[s], s, count, left, kPad + static_cast<int>(s) * panel_block, slot,
                reach);
  }
  int label_width = 0;
  for (const std::string& label : labels) label_width = std::max(label_width, text_width(label));
  const std::size_t stride = label_stride(slot, label_width);
  const int label_y = kPad + panels * panel_block - kPanelGap + 13;
  page.markup("<g text-anchor=\"middle\">\n");
  for (std::size_t i = 0; i < count; i += stride) {
    write_text_at(page, left + static_cast<int>(i) * slot + slot / 2, label_y, labels[i]);
  }
  page.markup("</g>\n</svg>\n");
}

void draw_bar_list(PageWriter& page, std::string_view title, std::span<const std::string> labels,
                   const ChartSeries& series, int64_t total) {
  const std::size_t count = labels.size();
  std::vector<int64_t> values(count);
  std::vector<std::string> value_texts(count);
  int widest_text = 0;
  int widest_label = 0;
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = value_at(series, i);
    value_texts[i] = format_thousands(values[i]) + " (" + share_text(values[i], total) + ")";
    widest_text = std::max(widest_text, text_width(value_texts[i]));
    widest_label = std::max(widest_label, text_width(labels[i]));
  }
  const int left = kPad + 2;
  const int row = kRowLabel + kRowBar + kRowGap;
  const int axis_y = kPad + static_cast<int>(count) * row + 2;
  // Wide enough for the longest bar and its figures, and for the labels up
  // to a limit; a longer label is cut off by the edge.
  const int bars_width = left + kBarReach + 6 + widest_text + kPad;
  const int width = std::max(bars_width, std::min(left + widest_label + kPad, kWidestList));
  const int height = axis_y + kLabelBand + kPad;
  open_svg(page, width, height, bar_list_summary(title, labels, series, total));

  const int64_t largest = largest_value(values);
  const std::vector<AxisTick> ticks = axis_ticks(largest, kBarReach, kBarReach / kListStepPixels);
  page.markup("<g stroke=\"#C0C0C0\">\n");
  for (const AxisTick& tick : ticks) {
    const std::string x = number(left + tick.position);
    page.markup("<line x1=\"" + x + "\" y1=\"" + number(kPad) + "\" x2=\"" + x + "\" y2=\"" +
                number(axis_y + kTickLength) + "\"/>\n");
  }
  page.markup("</g>\n");
  for (std::size_t i = 0; i < count; ++i) {
    const int top = kPad + static_cast<int>(i) * row;
    const int length = scaled_length(values[i], largest, kBarReach);
    write_text_at(page, left + 2, top + 11, labels[i]);
    if (length > 0) {
      page.markup("<rect x=\"" + number(left) + "\" y=\"" + number(top + kRowLabel) +
                  "\" width=\"" + number(length) + "\" height=\"" + number(kRowBar) + "\" fill=\"" +
                  fill_of(0) + "\" stroke=\"#000000\" stroke-width=\"0.5\"/>\n");
    }
    write_text_at(page, left + length + 6, top + kRowLabel + 10, value_texts[i]);
  }
  // The marks come after the rows, so that a text browser, which shows the
  // texts in their order, gives each label with its figures first.
  page.markup("<g text-anchor=\"middle\">\n");
  for (const AxisTick& tick : ticks) {
    write_text_at(page, left + tick.position, axis_y + kTickLength + 11,
                  format_thousands(tick.value));
  }
  page.markup("</g>\n");
  write_axes(page, left, kPad, axis_y, left + kBarReach);
  page.markup("</svg>\n");
}

}  // namespace sorvik
