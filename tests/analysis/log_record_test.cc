#include "analysis/log_record.h"

#include <gtest/gtest.h>

#include <string_view>

namespace sorvik {
namespace {

// The request line's words as the counting takes them: the method up to the
// first blank, the path as the second word, whatever the line's shape.
TEST(RequestLineTest, MethodAndPathAreTheFirstTwoWords) {
  struct Case {
    std::string_view request;
    std::size_t method_end;
    std::string_view path;
  };
  const Case cases[] = {
      {"GET /docs/ HTTP/1.0", 3, "/docs/"},
      {"HEAD /a.html", 4, "/a.html"},
      {"GET", std::string_view::npos, ""},
      {"", std::string_view::npos, ""},
      {"GET ", 3, ""},
      {" /lead HTTP/1.1", 0, "/lead"},
      {"GET  /two-blanks", 3, ""},
      {"PROPFIND /dav/x HTTP/1.1 extra", 8, "/dav/x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(method_end(c.request), c.method_end) << c.request;
    EXPECT_EQ(requested_path(c.request), c.path) << c.request;
  }
}

}  // namespace
}  // namespace sorvik
