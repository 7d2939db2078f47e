#include "base/clock.h"

#include <chrono>

namespace sorvik {

ClockState clock_state;

void reset_clock() { clock_state = ClockState{}; }

LocalTime clock_now() {
  ClockState& clock = clock_state;
  if (!clock.readings.empty()) {
    const LocalTime reading = clock.readings[clock.next_reading];
    if (clock.next_reading + 1 < clock.readings.size()) ++clock.next_reading;
    return reading;
  }
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  if (seconds != clock.second) {
    localtime_r(&seconds, &clock.parts);
    clock.second = seconds;
  }
  const auto centis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
      1000 / 10;
  const std::tm& parts = clock.parts;
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,           parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     static_cast<int>(centis)};
}

int days_since_1899(const LocalTime& t) {
  using namespace std::chrono;
  const sys_days date{year{t.year} / month{static_cast<unsigned>(t.month)} /
                      day{static_cast<unsigned>(t.day)}};
  const sys_days origin{year{1899} / December / 30};
  return static_cast<int>((date - origin).count());
}

}  // namespace sorvik
