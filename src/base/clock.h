// The local date and time: the system clock's, or fixed readings that tests
// give as data.
#ifndef SORVIK_BASE_CLOCK_H_
#define SORVIK_BASE_CLOCK_H_

#include <cstddef>
#include <ctime>
#include <vector>

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

struct ClockState {
  // Fixed readings: when there are any, clock_now gives them in turn and the
  // last one ever after; when there are none, the system clock's time.
  std::vector<LocalTime> readings;
  std::size_t next_reading = 0;
  // The system clock's last second asked for and its local date and time:
  // error-log entries ask for the time once each, and a run may write many
  // of them within one second.
  std::time_t second = -1;
  std::tm parts{};
};

extern ClockState clock_state;

// The system clock, no fixed readings.
void reset_clock();

// The current local time.
LocalTime clock_now();

// Whole days from 30 December 1899 to the date of `t`.
int days_since_1899(const LocalTime& t);

}  // namespace sorvik

#endif  // SORVIK_BASE_CLOCK_H_
