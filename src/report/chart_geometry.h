// Geometry of the bar charts on the report pages, in whole pixels: where
// the bars go and how long they are, which values the value axis marks, and
// how wide the slots of the categories are. Pure functions of their
// arguments; no value, however large or small, divides by zero or overflows.
#ifndef SORVIK_REPORT_CHART_GEOMETRY_H_
#define SORVIK_REPORT_CHART_GEOMETRY_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sorvik {

// One bar, measured from the corner where the two axes meet.
struct ChartBar {
  int offset = 0;     // where the bar starts across the category axis
  int thickness = 0;  // its width across the category axis
  int length = 0;     // how far it reaches along the value axis
};

// One mark of the value axis.
struct AxisTick {
  int64_t value = 0;
  int position = 0;  // distance from the axis's zero, in pixels
};

// The largest of `values`; 0 when there are none or none is above 0.
int64_t largest_value(std::span<const int64_t> values);

// The pixels along an axis of `reach` pixels that `value` covers when
// `largest` fills the axis, rounded to the nearest pixel. A value above 0
// covers at least one pixel, so that a small count is not drawn as none; a
// value of 0 or below, a `largest` of 0 or below, or a `reach` of 0 or below
// gives 0. A value above `largest` is taken as `largest`.
int scaled_length(int64_t value, int64_t largest, int reach);

// One bar per value: bar i in the slot from i * slot to (i + 1) * slot
// across the category axis, centred in it and about 70 % of it wide (at least
// one pixel), its length scaled to the largest of the values over `reach`.
std::vector<ChartBar> lay_out_bars(std::span<const int64_t> values, int slot, int reach);

// The marks of a value axis of `reach` pixels that ends at `largest`: 0 and
// each multiple of the step up to `largest`, the step being the smallest of
// 1, 2 or 5 times a power of ten that needs at most `most_steps` steps
// (taken as at least 1). A `largest` of 0 or below gives the one mark 0.
std::vector<AxisTick> axis_ticks(int64_t largest, int reach, int most_steps);

// The width of a category's slot when `count` categories share `extent`
// pixels, kept between `narrowest` and `widest`: many categories make the
// chart wider than `extent` rather than their slots narrower than `narrowest`.
// No category gives `widest`.
int slot_width(std::size_t count, int extent, int narrowest, int widest);

// Every how many slots a category label is written so that labels
// `label_width` pixels wide do not overlap: 1 when each fits its slot.
std::size_t label_stride(int slot, int label_width);

}  // namespace sorvik

#endif  // SORVIK_REPORT_CHART_GEOMETRY_H_
