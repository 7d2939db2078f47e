#include "report/formats.h"

#include <charconv>
#include <cstdio>

#include "base/clock.h"
#include "base/settings.h"

namespace sorvik {

std::size_t format_thousands_into(char* out, int64_t n) {
  // The magnitude is taken unsigned so that the most negative value has one.
  const uint64_t magnitude =
      n < 0 ? uint64_t{0} - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  char digits[20];
  const char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const auto count = static_cast<std::size_t>(end - digits);
  char* at = out;
  if (n < 0) *at++ = '-';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) *at++ = settings.ksep;
    *at++ = digits[i];
  }
  return static_cast<std::size_t>(at - out);
}

std::string format_thousands(int64_t n) {
  char text[kThousandsSize];
  return std::string(text, format_thousands_into(text, n));
}

std::string format_two_digits(int n) {
  const std::string digits = std::to_string(static_cast<uint16_t>(n));
  return digits.size() == 1 ? "0" + digits : digits;
}

std::string created_stamp() {
  const LocalTime date = clock_now();
  const LocalTime time = clock_now();
  std::string stamp = std::to_string(date.year);
  stamp += format_two_digits(date.month);
  stamp += format_two_digits(date.day);
  stamp += ';';
  stamp += format_two_digits(time.hour);
  stamp += format_two_digits(time.minute);
  stamp += format_two_digits(time.second);
  stamp += format_two_digits(time.hundredths);
  return stamp;
}

std::string format_percent(int64_t value, int64_t total) {
  if (total <= 0) return "-";
  // Extended precision decides the rounding of x.xx5 cases; snprintf is
  // byte-exact here because the program never changes the C locale.
  const long double percent =
      static_cast<long double>(value) * 100.0L / static_cast<long double>(total);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%6.2Lf", percent);
  std::string out = buffer;
  for (char& c : out) {
    if (c == '.') c = settings.decsep;
  }
  return out;
}

}  // namespace sorvik
