#include "logs/log_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// One log line in the accepted format, with the parts that tests vary.
std::string log_line(const std::string& client, const std::string& agent = "Moz (X)") {
  return client +
         " - - [06/Dec/2002:03:05:33 +0100] \"GET /docs/ HTTP/1.0\" 200 2326 www.ex.org "
         "\"-\" \"" +
         agent + "\"\n";
}

// The fields of analysis.record as texts of their own.
std::array<std::string, kRecordFields + 1> record_texts() {
  std::array<std::string, kRecordFields + 1> texts;
  for (int i = 1; i <= kRecordFields; ++i) texts[i] = analysis.record.field[i];
  return texts;
}

class LogReaderTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.errlog_file = "errlog.txt";
    error_log_open();
    take_console_output();
    analysis.current_log_path = "logs/a.23";
  }
  void TearDown() override {
    reset_log_reader();
    SorvikTest::TearDown();
  }

  // Fields 1 and 11 of every record of a file with `content`. Afterwards
  // analysis.record holds the last record, in copies of its fields, since
  // the reader's buffer goes with the file.
  std::vector<std::string> read_all(const std::string& content) {
    write_file("a.log", content);
    open_log("a.log");
    std::vector<std::string> records;
    while (read_record() == kRecordFields) {
      records.push_back(std::string(analysis.record.field[kFieldClient]) + "|" +
                        std::string(analysis.record.field[kFieldAgent]));
      for (int i = 1; i <= kRecordFields; ++i) last_fields_[i] = analysis.record.field[i];
    }
    EXPECT_EQ(read_record(), 0);
    close_log();
    for (int i = 1; i <= kRecordFields; ++i) analysis.record.field[i] = last_fields_[i];
    return records;
  }

  std::array<std::string, kRecordFields + 1> last_fields_;

  static std::string entry(const std::string& text) {
    return "101112: Error in file logs/a.23!\n        " + text + "!\n";
  }
};

TEST_F(LogReaderTest, LineOfElevenTokensIsOneRecord) {
  read_all(log_line("1.2.3.4"));
  const std::array<std::string, 12> expected = {"",
                                                "1.2.3.4",
                                                "-",
                                                "-",
                                                "[06/Dec/2002:03:05:33",
                                                "+0100]",
                                                "GET /docs/ HTTP/1.0",
                                                "200",
                                                "2326",
                                                "www.ex.org",
                                                "-",
                                                "Moz (X)"};
  EXPECT_EQ(record_texts(), expected);
}

TEST_F(LogReaderTest, BadLinesAreSkippedWithoutShiftingLaterRecords) {
  const auto before_line_feed = [](std::string line, const std::string& text) {
    return line.insert(line.size() - 1, text);
  };
  std::string open_quote = log_line("6", "open");
  open_quote.erase(open_quote.size() - 2, 1);
  const std::string content =
      log_line("1") + "2 - - [x +0100] \"GET /\" 200 1 h\n" + log_line("3") + "4 x" + log_line("") +
      "\n  \n\r\n" + before_line_feed(log_line("5"), "  ") + " " + log_line("x") + "a \"b c\n" +
      open_quote + before_line_feed(log_line("7", "crlf"), "\r");
  EXPECT_EQ(read_all(content),
            (std::vector<std::string>{"1|Moz (X)", "3|Moz (X)", "5|Moz (X)", "6|open", "7|crlf"}));
  EXPECT_EQ(console_output(), "!!!!");
  EXPECT_EQ(error_log_entries(), entry("Malformed line 2: 9 fields, line skipped") +
                                     entry("Malformed line 4: 12 fields, line skipped") +
                                     entry("Malformed line 9: 12 fields, line skipped") +
                                     entry("Malformed line 10: 2 fields, line skipped"));
}

TEST_F(LogReaderTest, CombinedAndCommonLinesBecomeElevenFields) {
  settings.host_url = "www.ex.org";
  const std::string head = "- u [06/Dec/2002:03:05:33 +0100] \"GET /a HTTP/1.1\" 404 -";
  write_file("a.log", "c1 " + head + " \"http://r/\" \"Moz (C)\"\n" + "c2 " + head + "\n" +
                          log_line("c3") + "c4 " + head + " \"-\"\n" + "c5 - - [t +0] \"r\" 1\n");
  using Fields = std::array<std::string, 12>;
  const auto record = [&](const std::string& client, const std::string& server,
                          const std::string& referrer, const std::string& agent) {
    return Fields{
        "",  client, "-",      "u",  "[06/Dec/2002:03:05:33", "+0100]", "GET /a HTTP/1.1", "404",
        "-", server, referrer, agent};
  };
  open_log("a.log");
  settings.host_url = "changed after the open";
  ASSERT_EQ(read_record(), kRecordFields);
  EXPECT_EQ(record_texts(), record("c1", "www.ex.org", "http://r/", "Moz (C)"));
  ASSERT_EQ(read_record(), kRecordFields);
  EXPECT_EQ(record_texts(), record("c2", "www.ex.org", "-", "-"));
  ASSERT_EQ(read_record(), kRecordFields);
  EXPECT_EQ(analysis.record.field[kFieldServerHost], "www.ex.org");
  EXPECT_EQ(analysis.record.field[kFieldAgent], "Moz (X)");
  EXPECT_EQ(read_record(), 0);
  EXPECT_EQ(console_output(), "!!");
  EXPECT_EQ(error_log_entries(), entry("Malformed line 4: 9 fields, line skipped") +
                                     entry("Malformed line 5: 7 fields, line skipped"));

  // Without a site name field 9 holds a byte that no referrer can hold.
  settings.host_url.clear();
  read_all("c1 " + head + "\n");
  EXPECT_EQ(record_texts(), record("c1", std::string(1, '\0'), "-", "-"));
}

// A stranger's blank, bracket or quote shifts the tokens of a line the
// server did not escape; such a line is skipped, naming the first token out
// of place, instead of being read with a stranger's text as its time stamp,
// status or size. A line of the right shape stays a record.
TEST_F(LogReaderTest, LinesWhoseTokensDoNotFitTheirFormatAreSkipped) {
  const std::string stamp = "[06/Dec/2002:03:05:33 +0100]";
  const std::string tail = " \"GET /a HTTP/1.1\" 200 512 \"-\" \"Moz\"\n";
  const std::string content =
      "c1 - a b " + stamp + tail + "c2 - [x y] " + stamp + tail + "c3 - a [07/Jan/1999:10:00:00 " +
      stamp + tail + "c4 - - " + stamp +
      " \"GET\" /hostadmin/?page=' HTTP/1.0\" 501 345 \"-\" \"Mozilla/4.75 (Nikto/1.32 )\"\n" +
      "c5 - - " + stamp + " \"GET / HTTP/1.0\" 2x0 1\n" + "c6 - - " + stamp +
      " \"GET / HTTP/1.0\" 200 +1\n" + "c7 - - x [y] \"GET / HTTP/1.0\" 200 1 h \"-\" \"-\"\n" +
      "c8 - - " + stamp + " \"GET / HTTP/1.0\" 200 -\n" +
      "c9 - - [bad stamp] \"GET / HTTP/1.0\" abc 12a h \"-\" \"-\"\n";
  EXPECT_EQ(read_all(content), (std::vector<std::string>{"c8|-", "c9|-"}));
  EXPECT_EQ(console_output(), "!!!!!!!");
  EXPECT_EQ(error_log_entries(),
            entry("Malformed line 1: 11 fields, field 4 does not fit, line skipped") +
                entry("Malformed line 2: 11 fields, field 4 does not fit, line skipped") +
                entry("Malformed line 3: 11 fields, field 5 does not fit, line skipped") +
                entry("Malformed line 4: 10 fields, field 7 does not fit, line skipped") +
                entry("Malformed line 5: 8 fields, field 7 does not fit, line skipped") +
                entry("Malformed line 6: 8 fields, field 8 does not fit, line skipped") +
                entry("Malformed line 7: 11 fields, field 4 does not fit, line skipped"));
}

TEST_F(LogReaderTest, BackslashEscapesHoldTheirCharacterInsideQuotes) {
  read_all(
      "a\\b - - [t +0] \"GET /q?\\\"x\\\" HTTP/1.0\" 200 1 u\\\"v w\" "
      "\"back\\\\\" \"A \\x22\\n\\\\\\\"\\\\\"\n");
  EXPECT_EQ(analysis.record.field[kFieldClient], "a\\b");
  EXPECT_EQ(analysis.record.field[kFieldRequest], "GET /q?\"x\" HTTP/1.0");
  EXPECT_EQ(analysis.record.field[kFieldServerHost],
            "u\\v w");  // outside quotes a backslash is a byte
  EXPECT_EQ(analysis.record.field[kFieldReferrer], "back\\");
  EXPECT_EQ(analysis.record.field[kFieldAgent], "A \\x22\\n\\\"\\");
  // A backslash ending a line inside quotes escapes nothing.
  EXPECT_EQ(read_all(log_line("1") + "2 - - [t +0] \"r\" 1 2 h \"-\" \"open\\\n"),
            (std::vector<std::string>{"1|Moz (X)", "2|open\\"}));

  // Escapes split between two reads: a line of two reads and more whose first
  // piece ends in the backslash of \" and whose second ends in the first
  // backslash of \\. Wrongly read, the first ends the quotes early (more
  // tokens), the second makes the agent's opening quote an escaped one.
  std::string line = "1 - - [t +0] \"r\" 1 2 h \"";
  line += std::string(64 * 1024 - 1 - line.size(), 'a') + "\\\" b ";
  line += std::string(128 * 1024 - 1 - line.size(), 'b') + "\\\\\" \"agent\"\n";
  ASSERT_EQ(line[64 * 1024 - 1], '\\');
  ASSERT_EQ(line.substr(128 * 1024 - 1, 3), "\\\\\"");
  EXPECT_EQ(read_all(line), (std::vector<std::string>{"1|agent"}));
  EXPECT_EQ(console_output(), "");
}

TEST_F(LogReaderTest, TokensAreCutAsWritten) {
  read_all(std::string(300, '1') + " \"\" \"-\" [" + std::string(1, '\0') +
           "t \"+0\"1] \"GET /a b\"c 2\r0 \"" +
           std::string("2\0"
                       "6",
                       3) +
           "\" a\"b c\"d - " + std::string(240, 'a') + "\"" + std::string(20, 'b') + "\"c   \n");
  const std::array<std::string, 12> expected = {
      "",          std::string(255, '1'),
      "",          "-",
      "[t",        "+01]",
      "GET /a bc", "2\r0",
      "26",        "ab cd",
      "-",         std::string(240, 'a') + std::string(15, 'b')};
  EXPECT_EQ(record_texts(), expected);
}

// Blanks and quotes are found a word of bytes at a time: tokens of every
// length up to three words, with runs of blanks and quotes that begin at
// every place in a word, cut as they do one byte at a time.
TEST_F(LogReaderTest, TokensOfEveryLengthAndPlaceAreCutAlike) {
  for (std::size_t length = 1; length <= 24; ++length) {
    for (std::size_t blanks = 1; blanks <= 2; ++blanks) {
      const std::string token(length, 't');
      const std::string gap(blanks, ' ');
      std::string line;
      // Tokens 4 and 5 keep the brackets of a time stamp's two tokens.
      const auto text = [&token](int i) {
        return (i == 4 ? "[" : "") + token + std::to_string(i) + (i == 5 ? "]" : "");
      };
      for (int i = 1; i <= 9; ++i) line += text(i) + gap;
      line += token + "\"q" + token + "\"x" + gap + "\"" + token + "\"" + token + "\n";
      read_all(line);
      std::array<std::string, 12> expected;
      for (int i = 1; i <= 9; ++i) expected[i] = text(i);
      expected[10] = token + "q" + token + "x";
      expected[11] = token + token;
      EXPECT_EQ(record_texts(), expected) << "length " << length << ", blanks " << blanks;
    }
  }
}

// Quoted texts full of blanks that open, hold their blanks and close at
// every place of a line, around the 64 bytes a line is looked at in one step.
TEST_F(LogReaderTest, QuotedTextsAtEveryPlaceOfALineAreCutAlike) {
  const std::string quoted = "q r s t u v w x y z";
  for (std::size_t lead = 1; lead <= 140; ++lead) {
    std::array<std::string, kRecordFields + 1> expected;
    expected[1] = std::string(lead, 'c');
    // A quoted text and bytes after it make one token.
    expected[2] = "q rz";
    std::string line = expected[1] + " \"q r\"z";
    for (int i = 3; i <= 9; ++i) {
      // Tokens 4 and 5 keep the brackets of a time stamp's two tokens.
      expected[i] = (i == 4 ? "[" : "") + quoted + (i == 5 ? "]" : "");
      line += " \"" + expected[i] + "\"";
    }
    // An empty quoted text, and one that the line's end closes.
    expected[11] = quoted;
    line += " \"\" \"" + quoted + "\n";
    read_all(line);
    EXPECT_EQ(record_texts(), expected) << "lead " << lead;
  }
}

// Plain lines are cut in one pass, all others byte by byte: random lines of
// blanks, quotes, backslashes, byte 0s and carriage returns, some of them
// about as long as a line cut in one pass can be, give the same records,
// marks and error-log entries both ways, and the same again when
// read_record cuts the lines itself instead of a reading thread.
TEST_F(LogReaderTest, LinesCutInOnePassGiveWhatCuttingByteByByteGives) {
  std::mt19937 random(7);
  const std::string alphabet("ab \"\"  \\\0\r", 11);
  std::string content;
  for (int line = 0; line < 4000; ++line) {
    // Mostly lines of eleven, ten or eight words, some quoted, with a stray byte.
    const int words = std::array{11, 10, 8, 11, 3}[random() % 5];
    for (int w = 0; w < words; ++w) {
      // Mostly with the shape of a record's time stamp, status and size.
      const bool shaped = random() % 8 != 0;
      if (shaped && words != 11 && (w == 6 || w == 7)) {
        content += w == 6 ? "200" : "51";
        content.append(1 + random() % 2, ' ');
        continue;
      }
      const bool quoted = random() % 3 == 0;
      if (quoted) content += '"';
      if (shaped && w == 3) content += '[';
      for (std::size_t n = random() % 6; n > 0; --n) content += quoted ? "a b" : "ab";
      if (random() % 4 == 0) content += alphabet[random() % alphabet.size()];
      if (shaped && w == 4) content += ']';
      if (quoted && random() % 8 != 0) content += '"';
      content.append(1 + random() % 2, ' ');
    }
    if (random() % 50 == 0) content.append(300, 'z');  // beyond one token's 255 bytes
    // Around the longest line cut in one pass (4096 bytes).
    if (random() % 200 == 0) content.append(3950 + random() % 250, 'y');
    content += random() % 10 == 0 ? "\r\n" : "\n";
  }
  const auto read_with = [&](bool plain, bool thread) {
    const std::size_t entries_before = error_log_entries().size();
    reset_log_reader();
    set_plain_line_cutting(plain);
    set_reading_thread(thread);
    std::string seen;
    write_file("a.log", content);
    open_log("a.log");
    while (read_record() == kRecordFields) {
      for (int i = 1; i <= kRecordFields; ++i) seen += std::string(analysis.record.field[i]) + '|';
      seen += '\n';
    }
    close_log();
    return seen + take_console_output() + error_log_entries().substr(entries_before);
  };
  const std::string plain = read_with(true, true);
  EXPECT_EQ(plain, read_with(false, true));
  EXPECT_EQ(plain, read_with(true, false));
  EXPECT_EQ(plain, read_with(false, false));
  EXPECT_GT(std::count(plain.begin(), plain.end(), '\n'), 1000);
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
    content += log_line(std::to_string(expected.size() - 1));
  }
  std::string last = log_line("last", "end");
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
      content += log_line(std::to_string(n));
      marks_before.push_back(malformed);
    }
  }
  write_file("a.log", content);
  open_log("a.log");
  std::size_t records = 0;
  while (read_record() == kRecordFields) {
    ASSERT_LT(records, marks_before.size());
    ASSERT_EQ(static_cast<int64_t>(console_output().size()), marks_before[records]) << records;
    ++records;
  }
  EXPECT_EQ(records, marks_before.size());
  EXPECT_EQ(console_output(), std::string(static_cast<std::size_t>(malformed), '!'));
  EXPECT_EQ(analysis.record.field[kFieldClient], "20000");
  close_log();

  // Left after three records while the rest is still being read ahead; the
  // next file starts from its own first line.
  open_log("a.log");
  for (int k = 0; k < 3; ++k) ASSERT_EQ(read_record(), kRecordFields);
  EXPECT_EQ(analysis.record.field[kFieldClient], "3");
  write_file("b.log", log_line("b1"));
  open_log("b.log");
  ASSERT_EQ(read_record(), kRecordFields);
  EXPECT_EQ(analysis.record.field[kFieldClient], "b1");
  EXPECT_EQ(read_record(), 0);
  // A reader left open is ended by the reset as well.
  open_log("a.log");
  ASSERT_EQ(read_record(), kRecordFields);
  reset_log_reader();
  EXPECT_EQ(read_record(), 0);
}

// A piece of a file: its own lines only, numbered from its first, and its
// bytes as they are even where they begin like compressed data.
TEST_F(LogReaderTest, APieceOfAFileGivesItsOwnLinesNumberedFromItsFirst) {
  const std::string head = log_line("1") + "bad line\n";
  const std::string middle = "\x1f\x8b" + log_line("2") + "\nbad line\n" + log_line("3");
  write_file("a.log", head + middle + log_line("4"));
  std::vector<std::string> clients;
  analysis.held_malformed_line = [&clients](const MalformedLine& malformed) {
    clients.push_back("line " + std::to_string(malformed.line) + ": " +
                      std::to_string(malformed.fields));
  };
  open_log("a.log", LogPiece{head.size(), head.size() + middle.size()});
  while (read_record() == kRecordFields) clients.emplace_back(analysis.record.field[kFieldClient]);
  EXPECT_EQ(log_lines_read(), 4);
  open_log("a.log", LogPiece{head.size() + middle.size(), LogPiece::kToEnd});
  while (read_record() == kRecordFields) clients.emplace_back(analysis.record.field[kFieldClient]);
  EXPECT_EQ(log_lines_read(), 1);
  close_log();
  analysis.held_malformed_line = nullptr;
  EXPECT_EQ(clients, (std::vector<std::string>{"\x1f\x8b"
                                               "2",
                                               "line 3: 2", "3", "4"}));
  EXPECT_EQ(console_output(), "!");
}

TEST_F(LogReaderTest, FailedReadEndsTheRunWithAnIoReport) {
  ASSERT_EQ(mkdir("logs.d", 0755), 0);
  open_log("logs.d");
  try {
    read_record();
    FAIL();
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line, "Cannot read logs.d: Is a directory");
  }
  EXPECT_EQ(read_record(), 0);
}

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

// The counting asks for list entries some records ahead by the hints the
// reading thread made; a hint that names another key only wastes the ask.
TEST_F(LogReaderTest, HintsNameTheKeysOfTheRecordsAhead) {
  settings.host_url = "www.ex.org";
  const std::string rest = " - - [06/Dec/2002:03:05:33 +0100] ";
  write_file("a.log", log_line("c1") + "c2" + rest +
                          "\"GET /a/b.gif HTTP/1.1\" 200 9 \"-\" \"M\"\n" + "bad line\n" + "c3" +
                          rest + "\"HEAD x.htm\" 200 9\n");
  open_log("a.log");
  RecordHints hints;
  EXPECT_FALSE(peek_record_hints(1, hints));  // nothing read yet
  ASSERT_EQ(read_record(), kRecordFields);
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
  ASSERT_TRUE(current_record_hints(hints));
  EXPECT_EQ(hints.client, list_key_hash("c1"));
  ASSERT_EQ(read_record(), kRecordFields);
  ASSERT_TRUE(current_record_hints(hints));
  EXPECT_EQ(hints.client, list_key_hash("c2"));
  EXPECT_EQ(hints.path, list_key_hash("/a/b.gif"));
  EXPECT_EQ(hints.path_size, 8u);
  const std::string client = std::string(analysis.record.field[kFieldClient]);
  analysis.record.field[kFieldClient] = client;
  EXPECT_FALSE(current_record_hints(hints));
  ASSERT_EQ(read_record(), kRecordFields);
  const std::string request = std::string(analysis.record.field[kFieldRequest]);
  analysis.record.field[kFieldRequest] = request;
  EXPECT_FALSE(current_record_hints(hints));
  EXPECT_EQ(read_record(), 0);
  close_log();
}

class ParseRequestTest : public LogReaderTest {
 protected:
  void SetUp() override {
    LogReaderTest::SetUp();
    std::vector<std::string> lines(15);
    lines[1] = "Bad time: ";
    lines[3] = "Bad size ";
    lines[14] = "Error in line";
    set_group_lines(kMessages, lines);
    settings.default_file = "index.html";
    read_all(
        "1.2.3.4 id user [06/Dec/2002:03:05:33 +0100] \"GET /docs/ HTTP/1.0\" 200 2326 h - a\n");
    analysis.record_number = 7;
  }
  RequestInfo parse_with(int field, const std::string& value) {
    analysis.record.field[field] = value;
    return parse_request();
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
};

TEST_F(ParseRequestTest, ExampleRecordIsADefaultPage) {
  const RequestInfo info = parse_request();
  EXPECT_EQ(info.path + " " + info.extension + " " + std::to_string(info.kbytes),
            "/docs/index.html .HTM 2");
  EXPECT_TRUE(info.is_page);
  EXPECT_EQ(info.time >> 25, 22u);
  EXPECT_EQ(analysis.period_bytes, 2326);
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

TEST_F(ParseRequestTest, BadSizeStopsWithStatus5BeforeCountingAnything) {
  console_write("Reading a.23 ... ");
  EXPECT_EQ(stop_status(kFieldSize, "12a"), kExitBadSize);
  EXPECT_EQ(console_output(),
            "Reading a.23 ... \nError in line 7\nBad size String=12aIP= 1.2.3.4\n");
  EXPECT_EQ(error_log_entries(),
            entry("Error, line: 7, file length conversion, String= 12a, IP= 1.2.3.4"));
  EXPECT_EQ(analysis.period_bytes, 0);
  for (const char* bad :
       {"", "+", "--5", " 5", "5 ", "0x10", "9223372036854775808", "-99999999999999999999"}) {
    EXPECT_EQ(stop_status(kFieldSize, bad), kExitBadSize) << bad;
  }
}

TEST_F(ParseRequestTest, BadTimeStopsWithStatus4AfterAddingTheSize) {
  EXPECT_EQ(stop_status(kFieldTimeStamp, "[3x/Dec/2002:03:05:33"), kExitBadTime);
  EXPECT_EQ(console_output(), "\nLine: 7\nBad time: [3x/Dec/2002:03:05:33\n");
  EXPECT_EQ(error_log_entries(),
            entry("Time: Ip=1.2.3.4, x2=id, x3=user, time=[3x/Dec/2002:03:05:33"));
  EXPECT_EQ(analysis.period_bytes, 2326);
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
      analysis.record.field[kFieldRequest] = before;
      parse_request_into(info);
      analysis.record.field[kFieldRequest] = request;
      parse_request_into(info);
      EXPECT_EQ(shown(info), shown(parse_request())) << before << " then " << request;
    }
  }
}

}  // namespace
}  // namespace sorvik
