// Whole runs over logs as real servers write them: the combined and the
// common format, compressed files and IPv6 clients. The reference for every
// output byte is a run over the same requests written in the eleven-field
// format.
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/program.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

namespace fs = std::filesystem;

const std::string kSource = SORVIK_SOURCE_DIR;

struct Request {
  std::string client, time, request, status, size, referrer, agent;
};

const char kFirefox[] = "Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0";
const char kChrome[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
// As a server writes an agent with quotes in it.
const char kQuotingBot[] = "QuoteBot/1.0 (\\\"polite\\\"; C:\\\\bots)";

// Weeks 49 and 50 of 2026; the requests with referrer and agent "-" can be
// written in the common format.
const std::vector<Request> kWeek49 = {
    {"192.0.2.10", "30/Nov/2026:09:15:02", "GET / HTTP/1.1", "200", "5120", "-", kFirefox},
    {"192.0.2.10", "30/Nov/2026:09:15:03", "GET /img/logo.gif HTTP/1.1", "200", "2048",
     "http://www.example.org/", kFirefox},
    {"2001:db8::7", "01/Dec/2026:10:00:00", "GET /docs/ HTTP/1.1", "200", "3000",
     "http://search.example/find?q=ipv6+logs", kChrome},
    {"::ffff:198.51.100.7", "01/Dec/2026:11:00:00", "GET /docs/guide.html HTTP/1.1", "200", "10240",
     "http://www.example.org/docs/", kChrome},
    {"203.0.113.5", "02/Dec/2026:08:00:00", "GET /missing.html HTTP/1.1", "404", "-", "-", "-"},
    {"198.51.100.7", "02/Dec/2026:09:00:00", "GET /q?\\\"x\\\" HTTP/1.1", "200", "70", "-",
     kQuotingBot},
};
const std::vector<Request> kWeek50 = {
    {"192.0.2.10", "07/Dec/2026:07:30:00", "GET /index.html HTTP/1.1", "200", "5120",
     "http://other.example/links.html", kFirefox},
    {"2001:db8::7", "07/Dec/2026:07:31:00", "GET /robots.txt HTTP/1.1", "200", "70", "-", "-"},
    {"203.0.113.5", "08/Dec/2026:18:00:00", "HEAD /docs/guide.html HTTP/1.1", "304", "0", "-", "-"},
    {"192.0.2.10", "09/Dec/2026:10:00:00", "GET /docs/guide.html HTTP/1.1", "200", "10240",
     "http://www.example.org/index.html", kFirefox},
};

std::string head_of(const Request& r) {
  return r.client + " - - [" + r.time + " +0100] \"" + r.request + "\" " + r.status + " " + r.size;
}

std::string eleven_fields(const Request& r) {
  return head_of(r) + " www.example.org \"" + r.referrer + "\" \"" + r.agent + "\"\n";
}

// Every third request, from the second on, stays in the eleven-field format;
// the others are
// written in the common format where they can be, else in the combined one.
std::string standard_formats(const std::vector<Request>& requests) {
  std::string text;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const Request& r = requests[i];
    if (i % 3 == 1) {
      text += eleven_fields(r);
    } else if (r.referrer == "-" && r.agent == "-") {
      text += head_of(r) + "\n";
    } else {
      text += head_of(r) + " \"" + r.referrer + "\" \"" + r.agent + "\"\n";
    }
  }
  return text;
}

std::string eleven_field_log(const std::vector<Request>& requests) {
  std::string text;
  for (const Request& r : requests) text += eleven_fields(r);
  return text;
}

// `text` as a gzip file of one member per line.
std::string gzip_lines(const std::string& text) {
  std::string packed;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start) + 1;
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string member(deflateBound(&stream, end - start), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + start));
    stream.avail_in = static_cast<uInt>(end - start);
    stream.next_out = reinterpret_cast<Bytef*>(member.data());
    stream.avail_out = static_cast<uInt>(member.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    member.resize(member.size() - stream.avail_out);
    deflateEnd(&stream);
    packed += member;
    start = end;
  }
  return packed;
}

class LogFormatsRunTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    fs::copy_file(kSource + "/examples/english.lng", "english.lng");
    resolver_.answer("8.8.8.8", "dns.example");
    resolver_.answer("192.0.2.10", "dsl-10.provider.example.DE");
    resolver_.answer("198.51.100.7", "gw.campus.example.edu");
    resolver_.install();
  }

  // A run over the two weeks as written by `week_49` and `week_50`, in fresh
  // output folders; returns the console and every output file as one text.
  std::string run(const std::string& week_49, const std::string& week_50,
                  const std::string& configuration = whole_run_configuration()) {
    fs::remove_all("logs");
    fs::remove_all("out");
    make_whole_run_folders();
    write_file("sorvik.conf", configuration);
    write_file("logs/access.49", week_49);
    write_file("logs/access.50", week_50);
    take_console_output();
    set_keys("x");
    EXPECT_EQ(run_program({"sorvik.conf"}), kExitNormal);
    return "=== console\n" + take_console_output() + output_transcript();
  }

  FakeResolver resolver_;
};

TEST_F(LogFormatsRunTest, StandardFormatsAndCompressedLogsReportAsTheirElevenFieldCopies) {
  const std::string reference = run(eleven_field_log(kWeek49), eleven_field_log(kWeek50));
  ASSERT_NE(reference.find("=== out/reports/2026w50.txt"), std::string::npos);
  EXPECT_EQ(run(standard_formats(kWeek49), standard_formats(kWeek50)), reference);
  EXPECT_EQ(run(gzip_lines(standard_formats(kWeek49)), gzip_lines(eleven_field_log(kWeek50))),
            reference);
}

TEST_F(LogFormatsRunTest, Ipv6ClientsAreCountedByTheirTextAndNeverLookedUp) {
  const std::string transcript =
      run(gzip_lines(standard_formats(kWeek49)), standard_formats(kWeek50));
  std::vector<std::string> looked_up = resolver_.lookups();
  std::sort(looked_up.begin(), looked_up.end());
  looked_up.erase(std::unique(looked_up.begin(), looked_up.end()), looked_up.end());
  EXPECT_EQ(looked_up,
            (std::vector<std::string>{"192.0.2.10", "198.51.100.7", "203.0.113.5", "8.8.8.8"}));
  EXPECT_EQ(read_file("out/host.dat"),
            "192.0.2.10=dsl-10.provider.example.DE;46363\n"
            "198.51.100.7=gw.campus.example.edu;46363\n"
            "203.0.113.5=(not found);46190\n");
  const std::string week = read_file("out/reports/2026w49.txt");
  for (const char* key :
       {"\n2001:db8::7=(Not found!) ...", "\n::ffff:198.51.100.7=(Not found!) ...",
        "\n198.51.100.7=gw.campus.example.edu ..."}) {
    EXPECT_NE(week.find(key), std::string::npos) << key << "\n" << week;
  }
}

TEST_F(LogFormatsRunTest, WithoutSiteNameNoReferrerOfAStandardLineIsInternal) {
  std::string configuration = whole_run_configuration();
  configuration.erase(configuration.find("Host_Url="),
                      std::string("Host_Url=www.example.org\n").size());
  run(standard_formats(kWeek49), standard_formats(kWeek50), configuration);
  const std::string year = read_file("out/reports/2026y.txt");
  EXPECT_EQ(year.find("Internal referrers"), std::string::npos) << year;
  EXPECT_NE(year.find("\nhttp://www.example.org/docs/ ..."), std::string::npos) << year;
}

}  // namespace
}  // namespace sorvik
