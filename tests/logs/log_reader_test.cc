#include "logs/log_reader.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "logs/log_reading_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// The log the tests read, and the source of its error-log entries.
const std::string kLog = "logs/a.23";

class LogReaderTest : public LogReadingTest {
 protected:

  // Fields 1 and 11 of every record of kLog written with `content`, read
  // with `options` and the direct reports. Afterwards last_ holds every
  // field of the last record.
  std::vector<std::string> read_all(const std::string& content, const ReaderOptions& options = {}) {
    write_file(kLog, content);
    open_log(kLog, {}, options);
    std::vector<std::string> records;
    while (read_record(record_, LogReporter{}) == kRecordFields) {
      records.push_back(std::string(record_.field[kFieldClient]) + "|" +
                        std::string(record_.field[kFieldAgent]));
      for (int i = 1; i <= kRecordFields; ++i) last_[i] = record_.field[i];
    }
    EXPECT_EQ(read_record(record_, LogReporter{}), 0);
    close_log();
    return records;
  }

  // The fields of record_ as texts of their own.
  std::array<std::string, kRecordFields + 1> record_texts() const {
    std::array<std::string, kRecordFields + 1> texts;
    for (int i = 1; i <= kRecordFields; ++i) texts[i] = record_.field[i];
    return texts;
  }

  static std::string entry(const std::string& text) {
    return "101112: Error in file " + kLog + "!\n        " + text + "!\n";
  }

  LogRecord record_;
  std::array<std::string, kRecordFields + 1> last_;
};

TEST_F(LogReaderTest, LineOfElevenTokensIsOneRecord) {
  write_file(kLog, log_line({.client = "1.2.3.4"}));
  open_log(kLog);
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  const std::array<std::string, 12> expected = {"",
                                                "1.2.3.4",
                                                "-",
                                                "-",
                                                "[06/Dec/2002:03:05:33",
                                                "+0100]",
                                                "GET /docs/ HTTP/1.0",
                                                "200",
                                                "2326",
                                                "www.example.org",
                                                "-",
                                                "Moz (X)"};
  EXPECT_EQ(record_texts(), expected);
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
}

TEST_F(LogReaderTest, BadLinesAreSkippedWithoutShiftingLaterRecords) {
  const auto before_line_feed = [](std::string line, const std::string& text) {
    return line.insert(line.size() - 1, text);
  };
  std::string open_quote = log_line({.client = "6", .agent = "open"});
  open_quote.erase(open_quote.size() - 2, 1);
  const std::string content = log_line({.client = "1"}) + "2 - - [x +0100] \"GET /\" 200 1 h\n" +
                              log_line({.client = "3"}) + "4 x" + log_line({.client = ""}) +
                              "\n  \n\r\n" + before_line_feed(log_line({.client = "5"}), "  ") +
                              " " + log_line({.client = "x"}) + "a \"b c\n" + open_quote +
                              before_line_feed(log_line({.client = "7", .agent = "crlf"}), "\r") +
                              "c8 - - x [y] \"GET / HTTP/1.0\" 200 1 h \"-\" \"-\"\n";
  EXPECT_EQ(read_all(content),
            (std::vector<std::string>{"1|Moz (X)", "3|Moz (X)", "5|Moz (X)", "6|open", "7|crlf"}));
  EXPECT_EQ(console_output(), "!!!!!");
  EXPECT_EQ(error_log_entries(),
            entry("Malformed line 2: 9 fields, line skipped") +
                entry("Malformed line 4: 12 fields, line skipped") +
                entry("Malformed line 9: 12 fields, line skipped") +
                entry("Malformed line 10: 2 fields, line skipped") +
                entry("Malformed line 13: 11 fields, field 4 does not fit, line skipped"));
}

TEST_F(LogReaderTest, CombinedAndCommonLinesBecomeElevenFields) {
  settings.host_url = "www.ex.org";
  const std::string head = "- u [06/Dec/2002:03:05:33 +0100] \"GET /a HTTP/1.1\" 404 -";
  write_file(kLog, "c1 " + head + " \"http://r/\" \"Moz (C)\"\n" + "c2 " + head + "\n" +
                       log_line({.client = "c3"}) + "c4 " + head + " \"-\"\n" +
                       "c5 - - [t +0] \"r\" 1\n");
  using Fields = std::array<std::string, 12>;
  const auto record = [&](const std::string& client, const std::string& server,
                          const std::string& referrer, const std::string& agent) {
    return Fields{
        "",  client, "-",      "u",  "[06/Dec/2002:03:05:33", "+0100]", "GET /a HTTP/1.1", "404",
        "-", server, referrer, agent};
  };
  open_log(kLog);
  settings.host_url = "changed after the open";
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_EQ(record_texts(), record("c1", "www.ex.org", "http://r/", "Moz (C)"));
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_EQ(record_texts(), record("c2", "www.ex.org", "-", "-"));
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_EQ(record_.field[kFieldServerHost], "www.example.org");
  EXPECT_EQ(record_.field[kFieldAgent], "Moz (X)");
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
  EXPECT_EQ(console_output(), "!!");
  EXPECT_EQ(error_log_entries(), entry("Malformed line 4: 9 fields, line skipped") +
                                     entry("Malformed line 5: 7 fields, line skipped"));

  // Without a site name field 9 holds a byte that no referrer can hold.
  settings.host_url.clear();
  read_all("c1 " + head + "\n");
  EXPECT_EQ(last_[kFieldServerHost], std::string(1, '\0'));
}

// Escapes split between two reads: a line of two reads and more whose first
// piece ends in the backslash of \" and whose second ends in the first
// backslash of \\. Wrongly read, the first ends the quotes early (more
// tokens), the second makes the agent's opening quote an escaped one.
TEST_F(LogReaderTest, EscapesSplitBetweenReadsAreCutAsOne) {
  std::string line = "1 - - [t +0] \"r\" 1 2 h \"";
  line += std::string(64 * 1024 - 1 - line.size(), 'a') + "\\\" b ";
  line += std::string(128 * 1024 - 1 - line.size(), 'b') + "\\\\\" \"agent\"\n";
  ASSERT_EQ(line[64 * 1024 - 1], '\\');
  ASSERT_EQ(line.substr(128 * 1024 - 1, 3), "\\\\\"");
  EXPECT_EQ(read_all(line), (std::vector<std::string>{"1|agent"}));
  EXPECT_EQ(console_output(), "");
}

// Records, malformed lines, lines too long to be cut in one pass or to fit
// one read, escapes, byte 0s and carriage returns: every choice of options
// gives the same records, marks and error-log entries.
TEST_F(LogReaderTest, EveryReaderOptionGivesTheSameRecordsAndReports) {
  std::string content;
  for (int n = 0; n < 3000; ++n) {
    const std::string client = std::to_string(n);
    switch (n % 6) {
      case 0:
        content += log_line({.client = client, .agent = "a \\\"q\\\" " + std::string(n % 5, '\0')});
        break;
      case 1:
        content += client + " - - [t +0] \"r\" 200 1 \"ref\" \"x\r\n";
        break;
      case 2:
        content += log_line({.client = client, .agent = std::string(n % 9000, 'g')});
        break;
      case 3:
        content += client + " bad line\n";
        break;
      default:
        content += log_line({.client = client, .server = ""});
    }
    if (n % 1000 == 999) content += log_line({.client = client, .agent = std::string(70000, 'l')});
  }
  const auto read_with = [&](const ReaderOptions& options) {
    const std::size_t entries_before = error_log_entries().size();
    std::string seen;
    for (const std::string& record : read_all(content, options))
      seen += record.substr(0, 40) + "\n";
    return seen + take_console_output() + error_log_entries().substr(entries_before);
  };
  const std::string usual = read_with({});
  EXPECT_EQ(usual, read_with({.plain_line_cutting = false}));
  EXPECT_EQ(usual, read_with({.reading_thread = false}));
  EXPECT_EQ(usual, read_with({.plain_line_cutting = false, .reading_thread = false}));
  EXPECT_EQ(usual, read_with({.directory_hints = false}));
  EXPECT_NE(usual.find(std::string(500, '!') + "101112: Error"), std::string::npos);
}

TEST_F(LogReaderTest, EveryByteIsUsed) {
  // 1024 * 100 + 5 bytes, ending in a line without line feed; one line is
  // longer than a read and has its carriage return as the read's last byte.
  const std::string head = "0 - - [06/Dec/2002:03:05:33 +0100] \"GET /\" 200 1 h \"";
  std::string content = head + std::string(64 * 1024 - head.size() - 7, 'r') + "\" long\r\n";
  ASSERT_EQ(content[64 * 1024 - 1], '\r');
  std::vector<std::string> expected = {"0|long"};
  while (content.size() < 1024 * 100 - 300) {
    expected.push_back(std::to_string(expected.size()) + "|Moz (X)");
    content += log_line({.client = std::to_string(expected.size() - 1)});
  }
  std::string last = log_line({.client = "last", .agent = "end"});
  last.back() = '\r';
  content += std::string(1024 * 100 + 5 - content.size() - last.size(), '\n') + last;
  expected.push_back("last|end");
  EXPECT_EQ(read_all(content), expected);
  EXPECT_EQ(console_output(), "");
  EXPECT_TRUE(read_all("").empty());
}

TEST_F(LogReaderTest, UnopenableLogEndsTheRunWithAnIoReport) {
  try {
    open_log("missing.log");
    FAIL();
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line, "Cannot open missing.log: No such file or directory");
  }
}

TEST_F(LogReaderTest, LongFileKeepsMarksInStepWithRecordsAndCanBeLeftEarly) {
  // Far more lines than are read ahead, with a malformed line every 700.
  std::string content;
  std::vector<int64_t> marks_before;  // "!" marks due before record k
  int64_t malformed = 0;
  for (int n = 1; n <= 20000; ++n) {
    if (n % 700 == 0) {
      content += "bad line\n";
      ++malformed;
    } else {
      content += log_line({.client = std::to_string(n)});
      marks_before.push_back(malformed);
    }
  }
  write_file(kLog, content);
  open_log(kLog);
  std::size_t records = 0;
  while (read_record(record_, LogReporter{}) == kRecordFields) {
    ASSERT_LT(records, marks_before.size());
    ASSERT_EQ(static_cast<int64_t>(console_output().size()), marks_before[records]) << records;
    ++records;
  }
  EXPECT_EQ(records, marks_before.size());
  EXPECT_EQ(console_output(), std::string(static_cast<std::size_t>(malformed), '!'));
  EXPECT_EQ(record_.field[kFieldClient], "20000");
  close_log();

  // Left after three records while the rest is still being read ahead; the
  // next file starts from its own first line.
  open_log(kLog);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_EQ(record_.field[kFieldClient], "3");
  write_file("b.log", log_line({.client = "b1"}));
  open_log("b.log");
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_EQ(record_.field[kFieldClient], "b1");
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
  // A reader left open is ended by the reset as well.
  open_log(kLog);
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  reset_log_reader();
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
}

// A reporter of its own gets every report instead of the console and the
// error log; here, as a counting child reads a piece of a file, its own
// lines only, numbered from its first, and its bytes as they are even where
// they begin like compressed data.
TEST_F(LogReaderTest, APieceOfAFileReportsItsOwnLinesToTheReporterGiven) {
  const std::string head = log_line({.client = "1"}) + "bad line\n";
  const std::string middle =
      "\x1f\x8b" + log_line({.client = "2"}) + "\nbad line\n" + log_line({.client = "3"});
  write_file(kLog, head + middle + log_line({.client = "4"}));
  std::vector<std::string> seen;
  LogReporter reporter;
  reporter.context = &seen;
  reporter.malformed_line = [](void* context, std::string_view path, const MalformedLine& line) {
    static_cast<std::vector<std::string>*>(context)->push_back(std::string(path) + " line " +
                                                               std::to_string(line.line) + ": " +
                                                               std::to_string(line.fields));
  };
  open_log(kLog, LogPiece{head.size(), head.size() + middle.size()});
  while (read_record(record_, reporter) == kRecordFields) {
    seen.emplace_back(record_.field[kFieldClient]);
  }
  EXPECT_EQ(log_lines_read(), 4);
  open_log(kLog, LogPiece{head.size() + middle.size(), LogPiece::kToEnd});
  while (read_record(record_, reporter) == kRecordFields) {
    seen.emplace_back(record_.field[kFieldClient]);
  }
  EXPECT_EQ(log_lines_read(), 1);
  close_log();
  EXPECT_EQ(seen, (std::vector<std::string>{"\x1f\x8b"
                                            "2",
                                            kLog + " line 3: 2", "3", "4"}));
  EXPECT_EQ(console_output(), "");
  EXPECT_EQ(error_log_entries(), "");
}

TEST_F(LogReaderTest, FailedReadEndsTheRunWithAnIoReport) {
  ASSERT_EQ(mkdir("logs.d", 0755), 0);
  open_log("logs.d");
  try {
    read_record(record_, LogReporter{});
    FAIL();
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line, "Cannot read logs.d: Is a directory");
  }
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
}

// The counting asks for list entries some records ahead by the hints the
// reading thread made; a hint that names another key only wastes the ask.
TEST_F(LogReaderTest, HintsNameTheKeysOfTheRecordsAhead) {
  settings.host_url = "www.ex.org";
  const std::string rest = " - - [06/Dec/2002:03:05:33 +0100] ";
  write_file(kLog, log_line({.client = "c1"}) + "c2" + rest +
                       "\"GET /a/b.gif HTTP/1.1\" 200 9 \"-\" \"M\"\n" + "bad line\n" + "c3" +
                       rest + "\"HEAD x.htm\" 200 9\n");
  open_log(kLog);
  RecordHints hints;
  EXPECT_FALSE(peek_record_hints(1, hints));  // nothing read yet
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  EXPECT_FALSE(peek_record_hints(0, hints));
  ASSERT_TRUE(peek_record_hints(1, hints));
  EXPECT_EQ(hints.client, list_key_hash("c2"));
  EXPECT_EQ(hints.path, list_key_hash("/a/b.gif"));
  EXPECT_EQ(hints.directory, list_key_hash("/a/"));
  EXPECT_FALSE(peek_record_hints(2, hints));  // the malformed line
  ASSERT_TRUE(peek_record_hints(3, hints));
  EXPECT_EQ(hints.client, list_key_hash("c3"));
  EXPECT_EQ(hints.path, list_key_hash("x.htm"));
  EXPECT_EQ(hints.directory, list_key_hash(""));
  EXPECT_FALSE(peek_record_hints(5, hints));  // past the file's end

  // The record read last has its own hints while its fields stay as read.
  ASSERT_TRUE(current_record_hints(record_, hints));
  EXPECT_EQ(hints.client, list_key_hash("c1"));
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  ASSERT_TRUE(current_record_hints(record_, hints));
  EXPECT_EQ(hints.client, list_key_hash("c2"));
  EXPECT_EQ(hints.path, list_key_hash("/a/b.gif"));
  EXPECT_EQ(hints.path_size, 8u);
  const std::string client = std::string(record_.field[kFieldClient]);
  record_.field[kFieldClient] = client;
  EXPECT_FALSE(current_record_hints(record_, hints));
  ASSERT_EQ(read_record(record_, LogReporter{}), kRecordFields);
  const std::string request = std::string(record_.field[kFieldRequest]);
  record_.field[kFieldRequest] = request;
  EXPECT_FALSE(current_record_hints(record_, hints));
  EXPECT_EQ(read_record(record_, LogReporter{}), 0);
  close_log();
}

}  // namespace
}  // namespace sorvik
