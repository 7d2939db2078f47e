// The system clock as local date and time, behind a seam that tests replace.
#ifndef SORVIK_BASE_CLOCK_H_
#define SORVIK_BASE_CLOCK_H_

#include <functional>

namespace sorvik {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
};

// The current local time; replaced by tests for fixed stamps.
extern std::function<LocalTime()> clock_source;

// Connects clock_source to the system clock.
void reset_clock();

inline LocalTime clock_now() { return clock_source(); }

// Whole days from 30 December 1899 to the date of `t`.
int days_since_1899(const LocalTime& t);

}  // namespace sorvik

#endif  // SORVIK_BASE_CLOCK_H_
