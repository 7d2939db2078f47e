#include "logs/request_parser.h"

#include <algorithm>
#include <array>
#include <limits>

#include "base/console.h"
#include "base/error_log.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "stats/text_hash.h"

namespace sorvik {

namespace {

// Converts a non-empty run of ASCII digits; false for anything else.
bool convert_digits(std::string_view text, uint16_t& value) {
  if (text.empty()) return false;
  unsigned result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  value = static_cast<uint16_t>(result);
  return true;
}

// A two-character field: with a leading "0" only the second character counts.
bool convert_two_digits(std::string_view text, uint16_t& value) {
  if (!text.empty() && text[0] == '0') text.remove_prefix(1);
  return convert_digits(text, value);
}

// An optional "+" or "-" followed by ASCII digits, within signed 64 bits.
bool convert_size(std::string_view text, int64_t& size) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  // Accumulating negatively reaches the most negative value too. Up to 18
  // digits stay within range; only longer numbers are checked digit by digit.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const bool may_overflow = text.size() > 18;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (may_overflow && value < (kMin + digit) / 10) return false;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == kMin) return false;
    value = -value;
  }
  size = value;
  return true;
}

char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void stop_on_bad_size(const LogRecord& record, const RecordPlace& place) {
  const std::string number = std::to_string(place.record_number);
  console_line();
  console_line(cut_text(messages_line(MessageId::kPressKey) + " " + number));
  console_line(cut_text(messages_line(MessageId::kBadSize) +
                        "String=" + std::string(record.field[kFieldSize]) +
                        "IP= " + std::string(record.field[kFieldClient])));
  error_log_entry(place.log_path, "Error, line: " + number + ", file length conversion, String= " +
                                      std::string(record.field[kFieldSize]) +
                                      ", IP= " + std::string(record.field[kFieldClient]));
  stop_run(kExitBadSize, true);
}

void stop_on_bad_time_stamp(const LogRecord& record, const RecordPlace& place) {
  console_line();
  console_line("Line: " + std::to_string(place.record_number));
  console_line(cut_text(messages_line(MessageId::kBadTimeStamp) +
                        std::string(record.field[kFieldTimeStamp])));
  error_log_entry(place.log_path, "Time: Ip=" + std::string(record.field[kFieldClient]) +
                                      ", x2=" + std::string(record.field[kFieldIdentity]) +
                                      ", x3=" + std::string(record.field[kFieldUser]) +
                                      ", time=" + std::string(record.field[kFieldTimeStamp]));
  stop_run(kExitBadTime, true);
}

int month_number(std::string_view text) {
  const auto letter = [&](std::size_t i) { return i < text.size() ? text[i] : '\0'; };
  switch (letter(0)) {
    case 'A':
      return letter(1) == 'p' ? 4 : 8;
    case 'D':
      return 12;
    case 'F':
      return 2;
    case 'J':
      if (letter(1) == 'a') return 1;
      if (letter(1) == 'u') return letter(2) == 'n' ? 6 : 7;
      return 0;
    case 'M':
      return letter(2) == 'r' ? 3 : 5;
    case 'N':
      return 11;
    case 'O':
      return 10;
    case 'S':
      return 9;
    default:
      return 0;
  }
}

bool parse_time_stamp(std::string_view field, TimeStamp& stamp) {
  // The usual stamp, "[dd/Mon/yyyy:hh:mm:ss" with a digit at each digit's
  // place, is read at once; it gives what the steps below give for it.
  if (field.size() >= 21) {
    const auto at = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(field[i])) - unsigned{'0'};
    };
    // Day, year, hour, minute and second, two or four places each, each
    // place looked at once (a byte below "0" wraps to a large value).
    const std::array<unsigned, 12> d = {at(1),  at(2),  at(8),  at(9),  at(10), at(11),
                                        at(13), at(14), at(16), at(17), at(19), at(20)};
    if (std::all_of(d.begin(), d.end(), [](unsigned place) { return place <= 9; })) {
      const int month = month_number(field.substr(4, 3));
      if (month == 0) return false;
      stamp.year = static_cast<uint16_t>(d[2] * 1000 + d[3] * 100 + d[4] * 10 + d[5]);
      stamp.month = static_cast<uint16_t>(month);
      stamp.day = static_cast<uint16_t>(d[0] * 10 + d[1]);
      stamp.hour = static_cast<uint16_t>(d[6] * 10 + d[7]);
      stamp.minute = static_cast<uint16_t>(d[8] * 10 + d[9]);
      stamp.second = static_cast<uint16_t>(d[10] * 10 + d[11]);
      return true;
    }
  }
  TimeStamp parsed;
  if (!convert_digits(chars_at(field, 9, 12), parsed.year)) return false;
  parsed.month = static_cast<uint16_t>(month_number(chars_at(field, 5, 7)));
  if (parsed.month == 0) return false;
  if (!convert_two_digits(chars_at(field, 2, 3), parsed.day)) return false;
  if (!convert_two_digits(chars_at(field, 14, 15), parsed.hour)) return false;
  if (!convert_two_digits(chars_at(field, 17, 18), parsed.minute)) return false;
  if (!convert_two_digits(chars_at(field, 20, 21), parsed.second)) return false;
  stamp = parsed;
  return true;
}

PackedTime pack_time(const TimeStamp& stamp) {
  // Each value keeps only the bits of its place, so an out-of-range day or
  // hour cannot spill into its neighbour; the year wraps as unsigned.
  const uint32_t year = static_cast<uint32_t>(stamp.year) - 1980u;
  return ((year & 0x7Fu) << 25) | ((stamp.month & 0xFu) << 21) | ((stamp.day & 0x1Fu) << 16) |
         ((stamp.hour & 0x1Fu) << 11) | ((stamp.minute & 0x3Fu) << 5) |
         ((stamp.second / 2u) & 0x1Fu);
}

int64_t calendar_day_seconds(const TimeStamp& stamp) {
  // Days from 1 March of year 0 by whole eras of 400 years, so that the
  // leap days fall at the ends of years (the civil-from-days arithmetic).
  const int64_t month = stamp.month;
  const int64_t year = static_cast<int64_t>(stamp.year) - (month <= 2 ? 1 : 0);
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const int64_t days = era * 146097 + day_of_era - 719468 + (static_cast<int64_t>(stamp.day) - 1);
  return days * 86400;
}

int64_t calendar_seconds(const TimeStamp& stamp) {
  return calendar_day_seconds(stamp) + static_cast<int64_t>(stamp.hour) * 3600 +
         static_cast<int64_t>(stamp.minute) * 60 + stamp.second;
}

RequestInfo parse_request(const LogRecord& record, const RecordPlace& place,
                          const LogReporter& reporter) {
  RequestInfo info;
  parse_request_into(record, place, reporter, info);
  return info;
}

void classify_path(std::string_view path, std::string& extension, bool& is_page) {
  is_page = true;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) {
    extension.clear();
    return;
  }
  // Made on the stack: most requests' extension is the one before. The
  // room of eight bytes lets the compiler see that the comparisons' word
  // loads stay inside it.
  const std::string_view from = path.substr(dot, 4);
  std::array<char, 8> upper{};
  for (std::size_t i = 0; i < 4; ++i) {
    upper[i] = i < from.size() ? upper_ascii(from[i]) : '\0';
  }
  const std::string_view made(upper.data(), from.size());
  assign_if_changed(extension, made);
  is_page = same_text(made, ".HTM");
}

void parse_request_into(const LogRecord& record, const RecordPlace& place,
                        const LogReporter& reporter, RequestInfo& info) {
  // The texts keep their capacity from one request to the next.
  info.size = 0;
  info.path.clear();

  if (record.field[kFieldSize] != "-" && !convert_size(record.field[kFieldSize], info.size))
    stop_on_bad_size(record, place);

  TimeStamp stamp;
  if (!parse_time_stamp(record.field[kFieldTimeStamp], stamp))
    stop_on_bad_time_stamp(record, place);
  info.time = pack_time(stamp);
  // Most requests fall on the day of the one before.
  if (stamp.year != info.day.year || stamp.month != info.day.month || stamp.day != info.day.day) {
    info.day = stamp;
    info.day_seconds = calendar_day_seconds(stamp);
  }
  info.seconds = info.day_seconds + static_cast<int64_t>(stamp.hour) * 3600 +
                 static_cast<int64_t>(stamp.minute) * 60 + stamp.second;

  const std::string_view request = record.field[kFieldRequest];
  assign_if_changed(info.method, request.substr(0, method_end(request)));
  info.is_page = true;
  if (same_text(info.method, "GET") || same_text(info.method, "HEAD")) {
    info.path.assign(requested_path(request));
    if (!info.path.empty() && info.path.back() == '/') append_cut(info.path, settings.default_file);
    classify_path(info.path, info.extension, info.is_page);
  } else {
    // Counted as a page under an empty path: the request line of an unknown
    // method says nothing reliable about what was asked for.
    info.extension.clear();
    reporter.unknown_method(reporter.context, place, info.method);
  }

  // Rounded half up in units of 1024 bytes, truncating towards zero; split so
  // that the largest sizes cannot overflow.
  info.kbytes = info.size >= 0 ? info.size / 1024 + (info.size % 1024 + 512) / 1024
                               : (info.size + 512) / 1024;
}

}  // namespace sorvik
