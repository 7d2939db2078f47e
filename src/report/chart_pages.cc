#include "report/chart_pages.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/message_table.h"
#include "base/settings.h"
#include "report/chart_svg.h"
#include "report/formats.h"
#include "report/sort_captions.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"

namespace sorvik {
namespace {

constexpr int kHoursOfDay = 24;
// Status codes are few, and each gets its bar; of the browsers and operating
// systems the chart shows the leaders, the table below has the rest.
constexpr int kStatusBars = 20;
constexpr int kClassBars = 10;

// The hour a key of the hours list stands for ("00" to "23"), or -1 for a
// key that names none; such a key keeps its table row but has no bar.
int hour_of(std::string_view key) {
  if (key.size() != 2 || key[0] < '0' || key[0] > '9' || key[1] < '0' || key[1] > '9') return -1;
  const int hour = (key[0] - '0') * 10 + (key[1] - '0');
  return hour < kHoursOfDay ? hour : -1;
}

// The year of a period name (its first four characters), or -1.
int year_of(std::string_view period) {
  int year = -1;
  const std::string_view digits = period.substr(0, 4);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), year);
  if (error != std::errc{} || end != digits.data() + 4) return -1;
  return year;
}

// Hits and kilobytes of each hour of the day, in clock order; an hour
// without requests stands with zeros.
void write_hours_chart(PageWriter& page, const CountedList& list) {
  std::vector<std::string> labels;
  for (int hour = 0; hour < kHoursOfDay; ++hour) labels.push_back(format_two_digits(hour));
  std::vector<ChartSeries> series = {{value_caption(kByHits), std::vector<int64_t>(kHoursOfDay)},
                                     {value_caption(kByKbytes), std::vector<int64_t>(kHoursOfDay)}};
  for (const ListEntry& entry : list.entries) {
    const int hour = hour_of(entry.key.view());
    if (hour < 0) continue;
    series[0].values[hour] += static_cast<int64_t>(entry.hits);
    series[1].values[hour] += entry.kbytes;
  }
  draw_column_chart(page, list.title, labels, series, kFullColumnChart);
}

// The leading entries of the list in its order, with their hits and shares.
void write_top_bars(PageWriter& page, int slot, const CountedList& list) {
  const int shown = std::min(list.count, slot == kStatusCodes ? kStatusBars : kClassBars);
  std::vector<std::string> labels;
  ChartSeries hits{value_caption(kByHits), {}};
  for (int i = 1; i <= shown; ++i) {
    const ListEntry* entry = list_entry_at(slot, i);
    labels.emplace_back(entry->key.view());
    hits.values.push_back(static_cast<int64_t>(entry->hits));
  }
  // Titled as the section's heading is: "Top 10 of 18 Browsers".
  draw_bar_list(page, top_caption(shown, list), labels, hits,
                static_cast<int64_t>(list.total_hits));
}

// The result entries of run mode `mode`, oldest period first: period names
// of one run mode sort by their time.
std::vector<const ResultEntry*> periods_in_order(int mode) {
  std::vector<const ResultEntry*> periods;
  for (const ResultEntry& entry : results.result_lists[mode]) periods.push_back(&entry);
  std::stable_sort(periods.begin(), periods.end(),
                   [](const ResultEntry* a, const ResultEntry* b) { return a->name < b->name; });
  return periods;
}

}  // namespace

bool list_has_chart(int slot) {
  return slot == kStatusCodes || slot == kBrowsers || slot == kOperatingSystems || slot == kHours;
}

void write_list_chart(PageWriter& page, int slot) {
  if (!settings.html_charts || !list_has_chart(slot)) return;
  const CountedList& list = list_snapshot(slot);
  if (slot == kHours) {
    write_hours_chart(page, list);
  } else {
    write_top_bars(page, slot, list);
  }
}

void write_periods_chart(PageWriter& page, int mode, const std::string& heading) {
  if (!settings.html_charts) return;
  std::vector<std::string> labels;
  std::vector<ChartSeries> series = {{html_line(HtmlId::kHitsColumn), {}},
                                     {html_line(HtmlId::kKbytesColumn), {}},
                                     {html_line(HtmlId::kVisitsColumn), {}}};
  for (const ResultEntry* period : periods_in_order(mode)) {
    labels.push_back(period->name);
    series[0].values.push_back(period->files);
    series[1].values.push_back(period->kbytes);
    series[2].values.push_back(period->visits);
  }
  draw_column_chart(page, heading, labels, series, kFullColumnChart);
}

void write_recent_months_chart(PageWriter& page) {
  if (!settings.html_charts) return;
  const std::vector<const ResultEntry*> months = periods_in_order(kModeMonths);
  if (months.empty()) return;
  int latest = -1;
  for (const ResultEntry* month : months) latest = std::max(latest, year_of(month->name));
  std::vector<std::string> labels;
  std::vector<ChartSeries> visits = {{html_line(HtmlId::kVisitsColumn), {}}};
  for (const ResultEntry* month : months) {
    const int year = year_of(month->name);
    if (year < 0 || year < latest - 1) continue;
    labels.push_back(month->name);
    visits[0].values.push_back(month->visits);
  }
  draw_column_chart(page, html_line(HtmlId::kMonths), labels, visits, kSmallColumnChart);
}

}  // namespace sorvik
