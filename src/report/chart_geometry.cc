#include "report/chart_geometry.h"

#include <algorithm>

namespace sorvik {
namespace {

// Share of its slot that a bar covers, in tenths; the rest parts the bars.
constexpr int kBarTenths = 7;
// Room left between two neighbouring category labels.
constexpr int kLabelGap = 4;

// The smallest step of 1, 2 or 5 times a power of ten with which `largest`
// is reached in at most `most_steps` steps. The search ends at 10^18 at the
// latest, where 5 * 10^18 still fits and covers any int64_t in one step.
int64_t tick_step(int64_t largest, int most_steps) {
  for (int64_t magnitude = 1;; magnitude *= 10) {
    for (const int64_t multiple : {1, 2, 5}) {
      const int64_t step = multiple * magnitude;
      if (largest / step <= most_steps) return step;
    }
  }
}

}  // namespace

int64_t largest_value(std::span<const int64_t> values) {
  int64_t largest = 0;
  for (const int64_t value : values) largest = std::max(largest, value);
  return largest;
}

int scaled_length(int64_t value, int64_t largest, int reach) {
  if (value <= 0 || largest <= 0 || reach <= 0) return 0;
  value = std::min(value, largest);
  // 128 bits hold value * reach * 2 for any int64_t value and int reach.
  using Wide = unsigned __int128;
  const Wide twice = static_cast<Wide>(value) * static_cast<Wide>(reach) * 2;
  const Wide rounded = (twice + static_cast<Wide>(largest)) / (static_cast<Wide>(largest) * 2);
  return std::max(1, static_cast<int>(rounded));
}

std::vector<ChartBar> lay_out_bars(std::span<const int64_t> values, int slot, int reach) {
  slot = std::max(slot, 1);
  const int thickness = std::max(1, slot * kBarTenths / 10);
  const int64_t largest = largest_value(values);
  std::vector<ChartBar> bars;
  bars.reserve(values.size());
  int start = 0;
  for (const int64_t value : values) {
    bars.push_back(
        {start + (slot - thickness) / 2, thickness, scaled_length(value, largest, reach)});
    start += slot;
  }
  return bars;
}

std::vector<AxisTick> axis_ticks(int64_t largest, int reach, int most_steps) {
  std::vector<AxisTick> ticks{{0, 0}};
  if (largest <= 0) return ticks;
  const int64_t step = tick_step(largest, std::max(most_steps, 1));
  for (int64_t value = step; value <= largest; value += step) {
    ticks.push_back({value, scaled_length(value, largest, reach)});
    // The next multiple would pass the largest int64_t: this one was the last.
    if (value > largest - step) break;
  }
  return ticks;
}

int slot_width(std::size_t count, int extent, int narrowest, int widest) {
  if (count == 0) return widest;
  const std::size_t share = extent > 0 ? static_cast<std::size_t>(extent) / count : 0;
  if (share < static_cast<std::size_t>(std::max(narrowest, 0))) return narrowest;
  return std::min(static_cast<int>(share), widest);
}

std::size_t label_stride(int slot, int label_width) {
  slot = std::max(slot, 1);
  const int needed = label_width + kLabelGap;
  if (needed <= slot) return 1;
  return static_cast<std::size_t>((needed + slot - 1) / slot);
}

}  // namespace sorvik
