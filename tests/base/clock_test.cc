#include "base/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "support/test_support.h"

namespace sorvik {
namespace {

using ClockTest = SorvikTest;

std::time_t second_now() {
  return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

// Whether the clock, asked twice, gave the C library's local time of one
// second both times; false when a second began in between.
bool gives_local_time() {
  const std::time_t before = second_now();
  const LocalTime first = clock_now();
  const LocalTime again = clock_now();
  if (second_now() != before) return false;
  std::tm parts{};
  localtime_r(&before, &parts);
  for (const LocalTime& t : {first, again}) {
    EXPECT_EQ(t.year, parts.tm_year + 1900);
    EXPECT_EQ(t.month, parts.tm_mon + 1);
    EXPECT_EQ(t.day, parts.tm_mday);
    EXPECT_EQ(t.hour, parts.tm_hour);
    EXPECT_EQ(t.minute, parts.tm_min);
    EXPECT_EQ(t.second, parts.tm_sec);
    EXPECT_GE(t.hundredths, 0);
    EXPECT_LE(t.hundredths, 99);
  }
  return true;
}

// The system clock gives the C library's local time when asked again within
// a second, whose conversion it keeps, and again in the next second.
TEST_F(ClockTest, SystemClockGivesTheLocalTimeOfEachSecond) {
  reset_clock();
  for (int second = 0; second < 2; ++second) {
    int tries = 0;
    while (!gives_local_time()) ASSERT_LT(++tries, 3) << "a second began during each try";
    const std::time_t asked = second_now();
    while (second_now() == asked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace
}  // namespace sorvik
