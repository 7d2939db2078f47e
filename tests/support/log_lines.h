// Access-log lines for the tests, written in one place: a line from the
// parts a test varies, the others those of an ordinary request.
#ifndef SORVIK_TESTS_SUPPORT_LOG_LINES_H_
#define SORVIK_TESTS_SUPPORT_LOG_LINES_H_

#include <string>

namespace sorvik {

// The parts of a line. The time gets the zone " +0100]" and its "[", the
// request, referrer and agent their quotes; they are written as they are,
// escapes included.
struct LogLine {
  std::string client = "192.0.2.1";
  std::string time = "06/Dec/2002:03:05:33";
  std::string request = "GET /docs/ HTTP/1.0";
  std::string status = "200";
  std::string size = "2326";
  // Empty: left out, which makes the line one of the combined format.
  std::string server = "www.example.org";
  std::string referrer = "-";
  std::string agent = "Moz (X)";
};

// The line with its line feed, e.g. log_line({.client = "1.2.3.4"}):
// 1.2.3.4 - - [06/Dec/2002:03:05:33 +0100] "GET /docs/ HTTP/1.0" 200 2326
// www.example.org "-" "Moz (X)"
std::string log_line(const LogLine& line);

}  // namespace sorvik

#endif  // SORVIK_TESTS_SUPPORT_LOG_LINES_H_
