// Gzip-compressed access logs read through read_record: the records of the
// decompressed content, several members, and damaged files.
#include <sys/stat.h>
#include <zlib.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/error_log.h"
#include "base/settings.h"
#include "logs/log_reader.h"
#include "logs/log_reading_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// One gzip member of `text`. With `flush_at` > 0 the compressed bytes of
// text[0, flush_at) are flushed first and `*flushed` gets their end, so that
// the member cut there decompresses to exactly that part.
std::string gzip_member(std::string_view text, std::size_t flush_at = 0,
                        std::size_t* flushed = nullptr) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const auto feed = [&](std::string_view part, int flush) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
    stream.avail_in = static_cast<uInt>(part.size());
    EXPECT_NE(deflate(&stream, flush), Z_STREAM_ERROR);
  };
  if (flush_at > 0) {
    feed(text.substr(0, flush_at), Z_SYNC_FLUSH);
    *flushed = out.size() - stream.avail_out;
    text.remove_prefix(flush_at);
  }
  feed(text, Z_FINISH);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

// A line of the combined format, with escaped quotes in its agent.
std::string combined_line(const std::string& client) {
  return log_line({.client = client,
                   .server = "",
                   .referrer = "http://r.example/",
                   .agent = "Moz \\\"q\\\" (X)"});
}

// The log the tests read, and the source of its error-log entries.
const std::string kLog = "logs/a.gz";

class CompressedLogTest : public LogReadingTest {
 protected:
  void SetUp() override {
    LogReadingTest::SetUp();
    settings.host_url = "www.ex.org";
  }

  // Every field of every record of the file `path`.
  std::vector<std::string> read_all(const std::string& path) {
    open_log(path);
    std::vector<std::string> records;
    LogRecord record;
    while (read_record(record, LogReporter{}) == kRecordFields) {
      std::string joined;
      for (int i = 1; i <= kRecordFields; ++i) {
        joined += record.field[i];
        joined += '|';
      }
      records.push_back(joined);
    }
    EXPECT_EQ(read_record(record, LogReporter{}), 0);
    close_log();
    return records;
  }

  static std::string entry(const std::string& text) {
    return "101112: Error in file " + kLog + "!\n        " + text + "!\n";
  }
};

TEST_F(CompressedLogTest, CompressedFileGivesTheRecordsOfItsPlainCopy) {
  // Longer than several reads, mixed formats, a malformed line; three members
  // whose boundaries fall inside lines, then zero padding.
  std::string plain;
  for (int n = 0; n < 4000; ++n) {
    plain += n % 1000 == 999 ? "bad line\n" : combined_line(std::to_string(n));
    if (n % 3 == 0) plain += "c" + std::to_string(n) + " - - [t +0] \"r\" 404 -\n";
  }
  // The plain copy and the packed one are read under the same name, the
  // source of their error-log entries.
  write_file(kLog, plain);
  const std::vector<std::string> expected = read_all(kLog);
  ASSERT_EQ(expected.size(), 4000u - 4 + 1334);
  const std::string plain_log = error_log_entries();
  ASSERT_EQ(take_console_output(), "!!!!");

  const std::size_t third = plain.size() / 3 + 7;
  write_file(kLog, gzip_member(std::string_view(plain).substr(0, third)) +
                       gzip_member(std::string_view(plain).substr(third, third)) +
                       gzip_member(std::string_view(plain).substr(2 * third)) +
                       std::string(100, '\0'));
  EXPECT_EQ(read_all(kLog), expected);
  EXPECT_EQ(take_console_output(), "!!!!");
  EXPECT_EQ(error_log_entries(), plain_log + plain_log);

  write_file("empty.log", gzip_member(""));
  EXPECT_TRUE(read_all("empty.log").empty());
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(CompressedLogTest, DamagedFileKeepsItsCompleteLinesAndTheNextFileIsRead) {
  // Lines 1 and 2, then a cut in the middle of line 3.
  const std::string text = combined_line("1") + "bad\n" + combined_line("2") + combined_line("3");
  std::size_t flushed = 0;
  const std::string cut_member = gzip_member(text, text.size() - 20, &flushed);
  const std::string member_12 = gzip_member(combined_line("1") + "bad\n" + combined_line("2"));
  std::string bad_check = member_12;
  bad_check[bad_check.size() - 8] ^= 1;  // the CRC of the content
  // A member header followed by a block of the reserved type 3.
  const std::string bad_block = member_12 + member_12.substr(0, 10) + "\x07";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {cut_member.substr(0, flushed), "unexpected end of file"},
      {bad_block, "invalid block type"},
      {member_12 + "trailing text", "incorrect header check"},
      {bad_check, "incorrect data check"},
  };
  write_file("next.log", combined_line("next"));
  for (const auto& [bytes, damage] : cases) {
    error_log_close();
    write_file("errlog.txt", "");
    error_log_open();
    take_console_output();
    write_file(kLog, bytes);
    const std::vector<std::string> records = read_all(kLog);
    ASSERT_EQ(records.size(), 2u) << damage;
    EXPECT_EQ(records[1].substr(0, 2), "2|");
    EXPECT_EQ(take_console_output(), "!!") << damage;
    EXPECT_EQ(error_log_entries(),
              entry("Malformed line 2: 1 fields, line skipped") +
                  entry("Compressed file damaged: " + damage + ", rest of file skipped"));
    ASSERT_EQ(read_all("next.log").size(), 1u);
  }
}

// A reporter of its own gets the damage, with the file's path, instead of
// the console and the error log.
TEST_F(CompressedLogTest, DamageGoesToTheReporterGiven) {
  write_file(kLog, gzip_member(combined_line("1")) + "trailing text");
  std::string seen;
  LogReporter reporter;
  reporter.context = &seen;
  reporter.damaged_data = [](void* context, std::string_view path, std::string_view damage) {
    *static_cast<std::string*>(context) += std::string(path) + ": " + std::string(damage);
  };
  open_log(kLog);
  LogRecord record;
  EXPECT_EQ(read_record(record, reporter), kRecordFields);
  EXPECT_EQ(read_record(record, reporter), 0);
  EXPECT_EQ(seen, kLog + ": incorrect header check");
  EXPECT_EQ(console_output(), "");
  EXPECT_EQ(error_log_entries(), "");
}

}  // namespace
}  // namespace sorvik
