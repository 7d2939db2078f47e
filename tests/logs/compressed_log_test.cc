// Gzip-compressed access logs read through read_record: the records of the
// decompressed content, several members, and damaged files.
#include <zlib.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/error_log.h"
#include "base/settings.h"
#include "logs/log_reader.h"
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

std::string log_line(const std::string& client) {
  return client +
         " - - [06/Dec/2002:03:05:33 +0100] \"GET /docs/ HTTP/1.0\" 200 2326 "
         "\"http://r.example/\" \"Moz \\\"q\\\" (X)\"\n";
}

class CompressedLogTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.errlog_file = "errlog.txt";
    settings.host_url = "www.ex.org";
    error_log_open();
    take_console_output();
    analysis.current_log_path = "logs/a.gz";
  }
  void TearDown() override {
    reset_log_reader();
    SorvikTest::TearDown();
  }

  // Every field of every record of the file `path`.
  std::vector<std::string> read_all(const std::string& path) {
    open_log(path);
    std::vector<std::string> records;
    while (read_record() == kRecordFields) {
      std::string joined;
      for (int i = 1; i <= kRecordFields; ++i) {
        joined += analysis.record.field[i];
        joined += '|';
      }
      records.push_back(joined);
    }
    EXPECT_EQ(read_record(), 0);
    close_log();
    return records;
  }

  static std::string entry(const std::string& text) {
    return "101112: Error in file logs/a.gz!\n        " + text + "!\n";
  }
};

TEST_F(CompressedLogTest, CompressedFileGivesTheRecordsOfItsPlainCopy) {
  // Longer than several reads, mixed formats, a malformed line; three members
  // whose boundaries fall inside lines, then zero padding.
  std::string plain;
  for (int n = 0; n < 4000; ++n) {
    plain += n % 1000 == 999 ? "bad line\n" : log_line(std::to_string(n));
    if (n % 3 == 0) plain += "c" + std::to_string(n) + " - - [t +0] \"r\" 404 -\n";
  }
  write_file("plain.log", plain);
  const std::size_t third = plain.size() / 3 + 7;
  write_file("packed.log", gzip_member(std::string_view(plain).substr(0, third)) +
                               gzip_member(std::string_view(plain).substr(third, third)) +
                               gzip_member(std::string_view(plain).substr(2 * third)) +
                               std::string(100, '\0'));
  const std::vector<std::string> expected = read_all("plain.log");
  ASSERT_EQ(expected.size(), 4000u - 4 + 1334);
  const std::string plain_log = error_log_entries();
  ASSERT_EQ(take_console_output(), "!!!!");

  EXPECT_EQ(read_all("packed.log"), expected);
  EXPECT_EQ(take_console_output(), "!!!!");
  EXPECT_EQ(error_log_entries(), plain_log + plain_log);

  write_file("empty.log", gzip_member(""));
  EXPECT_TRUE(read_all("empty.log").empty());
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(CompressedLogTest, DamagedFileKeepsItsCompleteLinesAndTheNextFileIsRead) {
  // Lines 1 and 2, then a cut in the middle of line 3.
  const std::string text = log_line("1") + "bad\n" + log_line("2") + log_line("3");
  std::size_t flushed = 0;
  const std::string cut_member = gzip_member(text, text.size() - 20, &flushed);
  const std::string member_12 = gzip_member(log_line("1") + "bad\n" + log_line("2"));
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
  write_file("next.log", log_line("next"));
  for (const auto& [bytes, damage] : cases) {
    error_log_close();
    write_file("errlog.txt", "");
    error_log_open();
    take_console_output();
    write_file("a.gz", bytes);
    const std::vector<std::string> records = read_all("a.gz");
    ASSERT_EQ(records.size(), 2u) << damage;
    EXPECT_EQ(records[1].substr(0, 2), "2|");
    EXPECT_EQ(take_console_output(), "!!") << damage;
    EXPECT_EQ(error_log_entries(),
              entry("Malformed line 2: 1 fields, line skipped") +
                  entry("Compressed file damaged: " + damage + ", rest of file skipped"));
    ASSERT_EQ(read_all("next.log").size(), 1u);
  }
}

}  // namespace
}  // namespace sorvik
