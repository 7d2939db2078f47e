// The number and date formats of the reports: grouped thousands, two-digit
// fields, percentages and the creation stamp of a page.
#ifndef SORVIK_REPORT_FORMATS_H_
#define SORVIK_REPORT_FORMATS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace sorvik {

// Decimal digits of `n` with `settings.ksep` in front of every complete group
// of three that has a digit to its left; a negative number gets a leading "-".
std::string format_thousands(int64_t n);
// The longest text format_thousands gives: a sign, 20 digits, 6 separators.
inline constexpr std::size_t kThousandsSize = 27;
// format_thousands into `out` (kThousandsSize bytes); the number of bytes.
std::size_t format_thousands_into(char* out, int64_t n);
// `n` taken as an unsigned 16-bit number, with a "0" in front of one digit.
std::string format_two_digits(int n);
// "YYYYMMDD;HHMMSSCC" from two clock readings: the date, then the time.
std::string created_stamp();
// value * 100 / total in extended precision, six wide with two decimals and
// `settings.decsep` as decimal mark; "-" when total is zero or negative.
std::string format_percent(int64_t value, int64_t total);

}  // namespace sorvik

#endif  // SORVIK_REPORT_FORMATS_H_
