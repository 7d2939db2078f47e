#include "base/clock.h"

#include <chrono>
#include <ctime>

namespace sorvik {

std::function<LocalTime()> clock_source;

namespace {

// The system clock. The local date and time of the last second asked for
// are kept: error-log entries ask for the time once each, and a run may
// write many of them within one second.
struct SystemClock {
  std::time_t second = -1;
  std::tm parts{};

  LocalTime operator()() {
    const auto now = std::chrono::system_clock::now();
    const auto since_epoch = now.time_since_epoch();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    if (seconds != second) {
      localtime_r(&seconds, &parts);
      second = seconds;
    }
    const auto centis =
        std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000 / 10;
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,           parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     static_cast<int>(centis)};
  }
};

}  // namespace

void reset_clock() { clock_source = SystemClock{}; }

int days_since_1899(const LocalTime& t) {
  using namespace std::chrono;
  const sys_days date{year{t.year} / month{static_cast<unsigned>(t.month)} /
                      day{static_cast<unsigned>(t.day)}};
  const sys_days origin{year{1899} / December / 30};
  return static_cast<int>((date - origin).count());
}

}  // namespace sorvik
