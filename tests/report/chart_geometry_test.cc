#include "report/chart_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace sorvik {
namespace {

constexpr int64_t kHuge = std::numeric_limits<int64_t>::max();

std::vector<int> lengths(const std::vector<int64_t>& values, int reach) {
  std::vector<int> out;
  for (const ChartBar& bar : lay_out_bars(values, 10, reach)) out.push_back(bar.length);
  return out;
}

std::vector<int64_t> tick_values(int64_t largest, int most_steps) {
  std::vector<int64_t> out;
  for (const AxisTick& tick : axis_ticks(largest, 100, most_steps)) out.push_back(tick.value);
  return out;
}

TEST(ChartGeometryTest, BarsScaleToTheLargestValue) {
  EXPECT_EQ(lengths({}, 100), std::vector<int>{});
  EXPECT_EQ(lengths({0, 0, 0}, 100), (std::vector<int>{0, 0, 0}));  // no division by zero
  EXPECT_EQ(lengths({7}, 100), std::vector<int>{100});
  EXPECT_EQ(lengths({5, 5, 5}, 100), (std::vector<int>{100, 100, 100}));
  EXPECT_EQ(lengths({1, 2, 4, 0}, 100), (std::vector<int>{25, 50, 100, 0}));
  EXPECT_EQ(lengths({1, 2}, 3), (std::vector<int>{2, 3}));  // 1.5 rounds up
  // Beside one huge value a small count keeps one pixel; nothing overflows.
  EXPECT_EQ(lengths({kHuge, 1, 0, kHuge / 2}, 120), (std::vector<int>{120, 1, 0, 60}));
  EXPECT_EQ(lengths({-5, 10}, 100), (std::vector<int>{0, 100}));
}

TEST(ChartGeometryTest, ScaledLengthGuardsItsEdges) {
  EXPECT_EQ(scaled_length(5, 0, 100), 0);
  EXPECT_EQ(scaled_length(5, 10, 0), 0);
  EXPECT_EQ(scaled_length(50, 10, 100), 100);  // above the largest: the whole axis
  EXPECT_EQ(scaled_length(kHuge, kHuge, std::numeric_limits<int>::max()),
            std::numeric_limits<int>::max());
}

TEST(ChartGeometryTest, BarsAreCentredInTheirSlots) {
  const std::vector<ChartBar> bars = lay_out_bars(std::vector<int64_t>{1, 2}, 20, 10);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0].offset, 3);
  EXPECT_EQ(bars[0].thickness, 14);
  EXPECT_EQ(bars[1].offset, 23);
  // A slot too narrow for a gap still has a bar one pixel wide.
  EXPECT_EQ(lay_out_bars(std::vector<int64_t>{1}, 1, 10)[0].thickness, 1);
  EXPECT_EQ(lay_out_bars(std::vector<int64_t>{1}, 0, 10)[0].thickness, 1);
}

TEST(ChartGeometryTest, AxisMarksStepByOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_EQ(tick_values(0, 4), std::vector<int64_t>{0});
  EXPECT_EQ(tick_values(-3, 4), std::vector<int64_t>{0});
  EXPECT_EQ(tick_values(1, 4), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(tick_values(7, 4), (std::vector<int64_t>{0, 2, 4, 6}));
  EXPECT_EQ(tick_values(10, 4), (std::vector<int64_t>{0, 5, 10}));
  EXPECT_EQ(tick_values(1234, 4), (std::vector<int64_t>{0, 500, 1000}));
  EXPECT_EQ(tick_values(7, 0), (std::vector<int64_t>{0, 5}));  // at least one step
  // The largest int64_t: the step is the greatest that fits, and the last
  // mark does not wrap around.
  EXPECT_EQ(tick_values(kHuge, 1), (std::vector<int64_t>{0, 5000000000000000000}));
  EXPECT_EQ(tick_values(kHuge, 4).back(), 8000000000000000000);
  const std::vector<AxisTick> ticks = axis_ticks(10, 120, 4);
  EXPECT_EQ(ticks[1].position, 60);
  EXPECT_EQ(ticks[2].position, 120);
}

TEST(ChartGeometryTest, SlotsShareTheWidthWithinTheirLimits) {
  EXPECT_EQ(slot_width(24, 600, 3, 60), 25);
  EXPECT_EQ(slot_width(3, 600, 3, 60), 60);
  EXPECT_EQ(slot_width(1000, 600, 3, 60), 3);  // the chart grows instead
  EXPECT_EQ(slot_width(0, 600, 3, 60), 60);
  EXPECT_EQ(label_stride(25, 14), 1u);
  EXPECT_EQ(label_stride(25, 49), 3u);  // labels need their width and a gap
  EXPECT_EQ(label_stride(0, 10), 14u);
}

}  // namespace
}  // namespace sorvik
