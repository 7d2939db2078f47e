#include "logs/request_parser.h"

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

TEST(TimeStampTest, MonthsDecideByTheirFirstLetters) {
  const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(month_number(names[m - 1]), m);
  const std::vector<std::pair<std::string, int>> odd = {
      {"Aqq", 8}, {"Jux", 7}, {"Mzr", 3}, {"Jxn", 0}, {"J", 0}, {"jan", 0}, {"Xyz", 0}, {"", 0}};
  for (const auto& [text, number] : odd) EXPECT_EQ(month_number(text), number) << text;
}

TEST(TimeStampTest, PacksTheExampleAndRejectsNonDigits) {
  TimeStamp t;
  ASSERT_TRUE(parse_time_stamp("[06/Dec/2002:03:05:33", t));
  EXPECT_EQ(pack_time(t), (22u << 25) | (12u << 21) | (6u << 16) | (3u << 11) | (5u << 5) | 16u);
  ASSERT_TRUE(parse_time_stamp("[00/Jan/1999:00:59:09 zone", t));
  EXPECT_EQ(t.day * 100 + t.minute, 59);
  for (const char* bad : {"[06/Xyz/2002:03:05:33", "[3x/Dec/2002:03:05:33", "[06/Dec/2O02:03:05:33",
                          "[06/Dec/+002:03:05:33", "[06/Dec/2002:0x:05:33", "[06/Dec/2002: 3:05:33",
                          "[06/Dec/2002:03:05:"}) {
    EXPECT_FALSE(parse_time_stamp(bad, t)) << bad;
  }
}

// Stamps of every shape, the usual one above all, give what reading them
// part by part gives: the year's four places, the month's letters, and the
// two places of day, hour, minute and second, where a leading "0" leaves the
// second place alone to count; any part that is no number fails the stamp.
TEST(TimeStampTest, StampsReadAtOnceAgreeWithTheirPartsReadOneByOne) {
  const auto part = [](const std::string& field, std::size_t first, std::size_t last) {
    return first > field.size() ? std::string() : field.substr(first - 1, last - first + 1);
  };
  const auto number = [](std::string text, bool two, int& value) {
    if (two && !text.empty() && text[0] == '0') text.erase(0, 1);
    if (text.empty()) return false;
    value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    return true;
  };
  std::mt19937 random(20261208);
  const std::string usual = "[06/Dec/2002:03:05:33 +0100";
  const std::string odd = "0123456789/: +-Ox\xff";
  for (int round = 0; round < 20000; ++round) {
    std::string field = usual.substr(0, 15 + random() % 13);
    for (int change = static_cast<int>(random() % 3); change > 0; --change) {
      field[random() % field.size()] = odd[random() % odd.size()];
    }
    int year = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int month = month_number(part(field, 5, 7));
    const bool valid =
        number(part(field, 9, 12), false, year) && month != 0 &&
        number(part(field, 2, 3), true, day) && number(part(field, 14, 15), true, hour) &&
        number(part(field, 17, 18), true, minute) && number(part(field, 20, 21), true, second);
    TimeStamp t{1, 1, 1, 1, 1, 1};
    ASSERT_EQ(parse_time_stamp(field, t), valid) << field;
    if (!valid) {
      EXPECT_EQ(t.year * 10 + t.month + t.day + t.hour + t.minute + t.second, 15) << field;
      continue;
    }
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({year, month, day, hour, minute, second}))
        << field;
  }
}

class ParseRequestTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.errlog_file = "errlog.txt";
    error_log_open();
    take_console_output();
    std::vector<std::string> lines(15);
    lines[1] = "Bad time: ";
    lines[3] = "Bad size ";
    lines[14] = "Error in line";
    set_group_lines(kMessages, lines);
    settings.default_file = "index.html";
    const std::array<std::string, kRecordFields + 1> example = {"",
                                                                "1.2.3.4",
                                                                "id",
                                                                "user",
                                                                "[06/Dec/2002:03:05:33",
                                                                "+0100]",
                                                                "GET /docs/ HTTP/1.0",
                                                                "200",
                                                                "2326",
                                                                "h",
                                                                "-",
                                                                "a"};
    fields_ = example;
    for (int i = 1; i <= kRecordFields; ++i) record_.field[i] = fields_[i];
  }
  RequestInfo parse() { return parse_request(record_, kPlace, LogReporter{}); }
  RequestInfo parse_with(int field, const std::string& value) {
    fields_[field] = value;
    record_.field[field] = fields_[field];
    return parse();
  }
  // The exit status of the stop that parsing ends in, 0 for none.
  int stop_status(int field, const std::string& value) {
    try {
      parse_with(field, value);
    } catch (const RunStop& stop) {
      EXPECT_TRUE(stop.wait_for_key);
      return stop.exit_status;
    }
    return 0;
  }
  static std::string entry(const std::string& text) {
    return "101112: Error in file logs/a.23!\n        " + text + "!\n";
  }

  static constexpr RecordPlace kPlace{"logs/a.23", 7};
  std::array<std::string, kRecordFields + 1> fields_;
  LogRecord record_;
};

TEST_F(ParseRequestTest, ExampleRecordIsADefaultPage) {
  const RequestInfo info = parse();
  EXPECT_EQ(info.path + " " + info.extension + " " + std::to_string(info.kbytes),
            "/docs/index.html .HTM 2");
  EXPECT_TRUE(info.is_page);
  EXPECT_EQ(info.size, 2326);
  EXPECT_EQ(info.time >> 25, 22u);
}

TEST_F(ParseRequestTest, SizesAreSigned64BitRoundedToKilobytes) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const std::vector<std::pair<std::string, std::pair<int64_t, int64_t>>> cases = {
      {"-", {0, 0}},
      {"511", {511, 0}},
      {"512", {512, 1}},
      {"1535", {1535, 1}},
      {"1536", {1536, 2}},
      {"+7", {7, 0}},
      {"-600", {-600, 0}},
      {"-1537", {-1537, -1}},
      {"3000000000", {3000000000, 2929688}},
      {"999999999999999999", {999999999999999999, 976562500000000}},
      {"-999999999999999999", {-999999999999999999, -976562499999999}},
      {"9223372036854775807", {kMax, kMax / 1024 + 1}},
      {"-9223372036854775808", {-kMax - 1, -(kMax / 1024)}}};
  for (const auto& [text, expected] : cases) {
    const RequestInfo info = parse_with(kFieldSize, text);
    EXPECT_EQ(std::make_pair(info.size, info.kbytes), expected) << text;
  }
}

TEST_F(ParseRequestTest, BadSizeStopsWithStatus5) {
  console_write("Reading a.23 ... ");
  EXPECT_EQ(stop_status(kFieldSize, "12a"), kExitBadSize);
  EXPECT_EQ(console_output(),
            "Reading a.23 ... \nError in line 7\nBad size String=12aIP= 1.2.3.4\n");
  EXPECT_EQ(error_log_entries(),
            entry("Error, line: 7, file length conversion, String= 12a, IP= 1.2.3.4"));
  for (const char* bad :
       {"", "+", "--5", " 5", "5 ", "0x10", "9223372036854775808", "-99999999999999999999"}) {
    EXPECT_EQ(stop_status(kFieldSize, bad), kExitBadSize) << bad;
  }
}

TEST_F(ParseRequestTest, BadTimeStopsWithStatus4) {
  EXPECT_EQ(stop_status(kFieldTimeStamp, "[3x/Dec/2002:03:05:33"), kExitBadTime);
  EXPECT_EQ(console_output(), "\nLine: 7\nBad time: [3x/Dec/2002:03:05:33\n");
  EXPECT_EQ(error_log_entries(),
            entry("Time: Ip=1.2.3.4, x2=id, x3=user, time=[3x/Dec/2002:03:05:33"));
}

// Request lines and the path, extension and kind of request they give.
const std::vector<std::pair<std::string, std::string>> kPathCases = {
    {"GET /a.b/c HTTP/1.0", "/a.b/c .B/C file"},
    {"GET /x.jpeg", "/x.jpeg .JPE file"},
    {"HEAD /I.HTML HTTP/1.0", "/I.HTML .HTM page"},
    {"GET /cgi/count", "/cgi/count  page"},
    {"GET /s?q=a.gif H", "/s?q=a.gif .GIF file"},
    {"GET  /x HTTP/1.0", "  page"},
    {"GET", "  page"},
    {"POST /f.gif HTTP/1.0", "  page"},
    {"get /x.gif", "  page"}};

// How far apart two records lie is counted by the calendar, leap days and
// the turn of a century included.
TEST(CalendarSecondsTest, CountFromTheStartOf1970) {
  const auto seconds = [](const char* stamp) {
    TimeStamp time;
    EXPECT_TRUE(parse_time_stamp(stamp, time)) << stamp;
    return calendar_seconds(time);
  };
  EXPECT_EQ(seconds("[01/Jan/1970:00:00:00"), 0);
  EXPECT_EQ(seconds("[29/Feb/2024:12:00:01"), 1709208001);
  EXPECT_EQ(seconds("[01/Mar/2000:00:00:00"), 951868800);
  EXPECT_EQ(seconds("[01/Jan/2027:00:00:00") - seconds("[31/Dec/2026:23:00:00"), 3600);
}

TEST_F(ParseRequestTest, PathAndExtensionDecidePages) {
  for (const auto& [request, expected] : kPathCases) {
    const RequestInfo info = parse_with(kFieldRequest, request);
    EXPECT_EQ(info.path + " " + info.extension + (info.is_page ? " page" : " file"), expected);
  }
  EXPECT_EQ(console_output(), "!!");
  EXPECT_EQ(error_log_entries(),
            entry("Unknown command in line 7: POST") + entry("Unknown command in line 7: get"));
}

// A reporter of its own gets the unknown method with the record's place,
// instead of the console and the error log.
TEST_F(ParseRequestTest, UnknownMethodGoesToTheReporterGiven) {
  std::string seen;
  LogReporter reporter;
  reporter.context = &seen;
  reporter.unknown_method = [](void* context, const RecordPlace& place, std::string_view method) {
    *static_cast<std::string*>(context) += std::string(place.log_path) + " " +
                                           std::to_string(place.record_number) + " " +
                                           std::string(method) + ";";
  };
  record_.field[kFieldRequest] = "PUT /x";
  parse_request(record_, {"logs/b.1", 9}, reporter);
  record_.field[kFieldRequest] = "GET /x";
  parse_request(record_, {"logs/b.1", 10}, reporter);
  EXPECT_EQ(seen, "logs/b.1 9 PUT;");
  EXPECT_EQ(console_output(), "");
  EXPECT_EQ(error_log_entries(), "");
}

// The texts of a request are reused from one record to the next (a method
// or an extension is kept when it repeats): whatever came before, each
// request gives what it gives parsed fresh.
TEST_F(ParseRequestTest, ARequestParsedAfterAnyOtherGivesWhatItGivesAlone) {
  const auto shown = [](const RequestInfo& info) {
    return info.method + "|" + info.path + "|" + info.extension +
           (info.is_page ? "|page" : "|file");
  };
  for (const auto& [before, ignored] : kPathCases) {
    for (const auto& [request, expected] : kPathCases) {
      RequestInfo info;
      record_.field[kFieldRequest] = before;
      parse_request_into(record_, kPlace, LogReporter{}, info);
      record_.field[kFieldRequest] = request;
      parse_request_into(record_, kPlace, LogReporter{}, info);
      EXPECT_EQ(shown(info), shown(parse())) << before << " then " << request;
    }
  }
}

}  // namespace
}  // namespace sorvik
