#include "logs/line_cutter.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "support/log_lines.h"

namespace sorvik {
namespace {

// Bytes a batch holds before the line: a record's tokens come after them,
// and a line that is no record leaves them as they were.
const std::string kBefore = "held";

// What `line` is cut into, cut in one pass (when plain) or byte by byte:
// the tokens of a record ("a|b|...|"), "malformed <tokens> <misfit>" or
// "empty".
std::string cut_text(std::string line, bool one_pass) {
  std::string bytes = kBefore;
  LineCutter cutter;
  start_lines(cutter, bytes);
  LineCut cut;
  cut_line(cutter, line.data(), line.data() + line.size(), one_pass, cut);
  if (!cut.is_record()) {
    EXPECT_EQ(bytes, kBefore);
    if (cut.tokens == 0) return "empty";
    return "malformed " + std::to_string(cut.tokens) + " " + std::to_string(cut.misfit);
  }
  std::string text;
  for (int i = 1; i <= cut.tokens && i <= kRecordFields; ++i) {
    text += bytes.substr(cut.begin[i], cut.length[i]) + "|";
  }
  return text;
}

// The line cut both ways, which must agree.
std::string tokens(const std::string& line) {
  const std::string one_pass = cut_text(line, true);
  EXPECT_EQ(cut_text(line, false), one_pass) << line;
  return one_pass;
}

// A log line without its line feed.
std::string line_of(const LogLine& parts) {
  std::string line = log_line(parts);
  line.pop_back();
  return line;
}

// The same tokens as a record's.
std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += part + "|";
  return text;
}

TEST(LineCutterTest, ElevenTokensWithQuotedTextsAreARecord) {
  EXPECT_EQ(tokens(line_of({.client = "1.2.3.4"})),
            joined({"1.2.3.4", "-", "-", "[06/Dec/2002:03:05:33", "+0100]", "GET /docs/ HTTP/1.0",
                    "200", "2326", "www.example.org", "-", "Moz (X)"}));
  EXPECT_EQ(tokens(""), "empty");
  EXPECT_EQ(tokens("   "), "empty");
}

TEST(LineCutterTest, TokensAreCutAsWritten) {
  const std::string line = std::string(300, '1') + " \"\" \"-\" [" + std::string(1, '\0') +
                           "t \"+0\"1] \"GET /a b\"c 2\r0 \"" +
                           std::string(
                               "2\0"
                               "6",
                               3) +
                           "\" a\"b c\"d - " + std::string(240, 'a') + "\"" + std::string(20, 'b') +
                           "\"c   ";
  EXPECT_EQ(tokens(line),
            joined({std::string(255, '1'), "", "-", "[t", "+01]", "GET /a bc", "2\r0", "26",
                    "ab cd", "-", std::string(240, 'a') + std::string(15, 'b')}));
}

TEST(LineCutterTest, BackslashEscapesHoldTheirCharacterInsideQuotes) {
  EXPECT_EQ(tokens("a\\b - - [t +0] \"GET /q?\\\"x\\\" HTTP/1.0\" 200 1 u\\\"v w\" "
                   "\"back\\\\\" \"A \\x22\\n\\\\\\\"\\\\\""),
            joined({"a\\b", "-", "-", "[t", "+0]", "GET /q?\"x\" HTTP/1.0", "200", "1",
                    "u\\v w",  // outside quotes a backslash is a byte
                    "back\\", "A \\x22\\n\\\"\\"}));
  // A backslash ending a line inside quotes escapes nothing.
  EXPECT_EQ(tokens("2 - - [t +0] \"r\" 1 2 h \"-\" \"open\\"),
            joined({"2", "-", "-", "[t", "+0]", "r", "1", "2", "h", "-", "open\\"}));
}

// A line that comes in pieces (longer than the reader's buffer) is cut as
// it is whole, wherever the pieces end: inside an escape, a quoted text or
// a run of blanks.
TEST(LineCutterTest, ALineCutInPiecesGivesItsTokensWhole) {
  std::string line = "c \"x\\\\y\"  [a \"q\\\" r]\" \"GET /\" 200 1 h \"-\\\"\" \"ag\\\\\"";
  const std::string whole = tokens(line);
  ASSERT_EQ(whole,
            joined({"c", "x\\y", "", "[a", "q\" r]", "GET /", "200", "1", "h", "-\"", "ag\\"}));
  for (std::size_t at = 0; at <= line.size(); ++at) {
    std::string bytes = kBefore;
    LineCutter cutter;
    start_lines(cutter, bytes);
    cut_line_piece(cutter, line.data(), line.data() + at);
    cut_line_piece(cutter, line.data() + at, line.data() + line.size());
    LineCut cut;
    finish_line(cutter, cut);
    ASSERT_TRUE(cut.is_record()) << at;
    std::string text;
    for (int i = 1; i <= cut.tokens; ++i) text += bytes.substr(cut.begin[i], cut.length[i]) + "|";
    EXPECT_EQ(text, whole) << at;
  }
}

// A stranger's blank, bracket or quote shifts the tokens of a line the
// server did not escape; such a line is no record, and the first token out
// of place is named, instead of being read with a stranger's text as its
// time stamp, status or size.
TEST(LineCutterTest, LinesWhoseTokensDoNotFitTheirFormatAreMalformed) {
  const std::string stamp = "[06/Dec/2002:03:05:33 +0100]";
  const std::string tail = " \"GET /a HTTP/1.1\" 200 512 \"-\" \"Moz\"";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"c1 - a b " + stamp + tail, "malformed 11 4"},
      {"c2 - [x y] " + stamp + tail, "malformed 11 4"},
      {"c3 - a [07/Jan/1999:10:00:00 " + stamp + tail, "malformed 11 5"},
      {"c4 - - " + stamp +
           " \"GET\" /hostadmin/?page=' HTTP/1.0\" 501 345 \"-\" \"Mozilla/4.75 (Nikto/1.32 )\"",
       "malformed 10 7"},
      {"c5 - - " + stamp + " \"GET / HTTP/1.0\" 2x0 1", "malformed 8 7"},
      {"c6 - - " + stamp + " \"GET / HTTP/1.0\" 200 +1", "malformed 8 8"},
      {"c7 - - x [y] \"GET / HTTP/1.0\" 200 1 h \"-\" \"-\"", "malformed 11 4"},
      {"2 - - [x +0100] \"GET /\" 200 1 h", "malformed 9 0"},
      {"a \"b c", "malformed 2 0"},
      {"c8 - - " + stamp + " \"GET / HTTP/1.0\" 200 -",
       joined({"c8", "-", "-", "[06/Dec/2002:03:05:33", "+0100]", "GET / HTTP/1.0", "200", "-"})},
      // Eleven tokens are a record by their time stamp's brackets alone.
      {"c9 - - [bad stamp] \"GET / HTTP/1.0\" abc 12a h \"-\" \"-\"",
       joined({"c9", "-", "-", "[bad", "stamp]", "GET / HTTP/1.0", "abc", "12a", "h", "-", "-"})}};
  for (const auto& [line, expected] : cases) EXPECT_EQ(tokens(line), expected) << line;
}

// Blanks and quotes are found a word of bytes, and 64 bytes of a line, at a
// time: tokens of every length up to three words, and quoted texts full of
// blanks at every place around the 64 bytes, are cut as one byte at a time.
TEST(LineCutterTest, TokensOfEveryLengthAndPlaceAreCutAlike) {
  for (std::size_t length = 1; length <= 24; ++length) {
    for (std::size_t blanks = 1; blanks <= 2; ++blanks) {
      const std::string token(length, 't');
      const std::string gap(blanks, ' ');
      std::string line;
      std::vector<std::string> expected;
      for (int i = 1; i <= 9; ++i) {
        // Tokens 4 and 5 keep the brackets of a time stamp's two tokens.
        expected.push_back((i == 4 ? "[" : "") + token + std::to_string(i) + (i == 5 ? "]" : ""));
        line += expected.back() + gap;
      }
      line += token + "\"q" + token + "\"x" + gap + "\"" + token + "\"" + token;
      expected.push_back(token + "q" + token + "x");
      expected.push_back(token + token);
      // Two blanks make an empty token between them.
      EXPECT_EQ(tokens(line), blanks == 1 ? joined(expected) : "malformed 21 0")
          << "length " << length << ", blanks " << blanks;
    }
  }
  const std::string quoted = "q r s t u v w x y z";
  for (std::size_t lead = 1; lead <= 140; ++lead) {
    // A quoted text and bytes after it make one token; an empty quoted
    // text is a token, and the line's end closes the last one.
    std::vector<std::string> expected = {std::string(lead, 'c'), "q rz"};
    std::string line = expected[0] + " \"q r\"z";
    for (int i = 3; i <= 9; ++i) {
      expected.push_back((i == 4 ? "[" : "") + quoted + (i == 5 ? "]" : ""));
      line += " \"" + expected.back() + "\"";
    }
    expected.push_back("");
    expected.push_back(quoted);
    line += " \"\" \"" + quoted;
    EXPECT_EQ(tokens(line), joined(expected)) << "lead " << lead;
  }
}

// Random lines of blanks, quotes, backslashes, byte 0s and carriage
// returns, some of them about as long as a line cut in one pass can be,
// give the same tokens, or the same token count and misfit, cut in one
// pass and byte by byte.
TEST(LineCutterTest, LinesCutInOnePassGiveWhatCuttingByteByByteGives) {
  std::mt19937 random(7);
  const std::string alphabet("ab \"\"  \\\0\r", 11);
  int records = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string line;
    // Mostly lines of eleven, ten or eight words, some quoted, with a stray byte.
    const int words = std::array{11, 10, 8, 11, 3}[random() % 5];
    for (int w = 0; w < words; ++w) {
      // Mostly with the shape of a record's time stamp, status and size.
      const bool shaped = random() % 8 != 0;
      if (shaped && words != 11 && (w == 6 || w == 7)) {
        line += w == 6 ? "200" : "51";
        line.append(random() % 16 == 0 ? 2 : 1, ' ');
        continue;
      }
      const bool quoted = random() % 3 == 0;
      if (quoted) line += '"';
      if (shaped && w == 3) line += '[';
      for (std::size_t n = random() % 6; n > 0; --n) line += quoted ? "a b" : "ab";
      if (random() % 4 == 0) line += alphabet[random() % alphabet.size()];
      if (shaped && w == 4) line += ']';
      if (quoted && random() % 8 != 0) line += '"';
      line.append(random() % 16 == 0 ? 2 : 1, ' ');
    }
    if (random() % 50 == 0) line.append(300, 'z');  // beyond one token's 255 bytes
    // Around the longest line cut in one pass (4096 bytes).
    if (random() % 200 == 0) line.append(3950 + random() % 250, 'y');
    if (tokens(line).back() == '|') records += 1;
  }
  EXPECT_GT(records, 300);
}

}  // namespace
}  // namespace sorvik
