#include "report/formats.h"

#include <cstdint>
#include <limits>
#include <string>

#include "base/clock.h"
#include "base/settings.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

using FormatsTest = SorvikTest;

TEST_F(FormatsTest, FormatThousandsGroupsDigitsAndKeepsTheSignInFront) {
  EXPECT_EQ(format_thousands(0), "0");
  EXPECT_EQ(format_thousands(999), "999");
  EXPECT_EQ(format_thousands(1000), "1,000");
  EXPECT_EQ(format_thousands(1234567), "1,234,567");
  EXPECT_EQ(format_thousands(-123456), "-123,456");
  EXPECT_EQ(format_thousands(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808");
  EXPECT_EQ(format_two_digits(7), "07");
  EXPECT_EQ(format_two_digits(123), "123");
}

TEST_F(FormatsTest, FormatPercentIsSixWideWithTwoDecimalsAndDecsep) {
  EXPECT_EQ(format_percent(1, 3), " 33.33");
  EXPECT_EQ(format_percent(2, 3), " 66.67");
  EXPECT_EQ(format_percent(1, 200), "  0.50");
  EXPECT_EQ(format_percent(25, 2), "1250.00");  // wider, not cut
  EXPECT_EQ(format_percent(5, 0), "-");
  EXPECT_EQ(format_percent(5, -4), "-");
  // 0.075 and 0.225 lie just off the halfway point; a double rounds them the
  // other way.
  EXPECT_EQ(format_percent(3, 4000), "  0.08");
  EXPECT_EQ(format_percent(9, 4000), "  0.22");
  // Separators swapped.
  settings.decsep = ',';
  settings.ksep = '.';
  EXPECT_EQ(format_percent(1, 8), " 12,50");
  EXPECT_EQ(format_thousands(1234567), "1.234.567");
}

TEST_F(FormatsTest, CreatedStampTakesTheDateAndTheTimeFromTwoReadings) {
  EXPECT_EQ(created_stamp(), "20261207;10111213");
  clock_state.readings = {LocalTime{2026, 12, 31, 23, 59, 59, 99}, LocalTime{2027, 1, 1, 0, 0, 0, 5}};
  EXPECT_EQ(created_stamp(), "20261231;00000005");  // old date, new time
}

}  // namespace
}  // namespace sorvik
