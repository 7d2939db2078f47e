// Cutting one access-log line into its tokens, and telling whether they
// make a record. Touches no global: the bytes of a line go in, its tokens
// (written to a byte string the caller gives) or the reason it is no record
// come out.
//
// Tokens: a line is cut at blanks outside quotes. A quote opens or closes a
// quoted text and is not kept; inside it blanks are token bytes, and \" and
// \\ stand for " and \ (the token holds the one character; such a quote does
// not end the quotes); a backslash before any other byte, or at the line's
// end, is an ordinary byte. A token may join quoted and unquoted bytes
// ("a b"c is the token `a bc`), two blanks make an empty token between
// them, blanks at the line's end make none, and a quote left open is closed
// by the line's end. A byte 0 is dropped. A token keeps its first 255 bytes.
//
// Records: a line of 11, 10 or 8 tokens is a record when its tokens have the
// format's shape (token 4 begins with "[", token 5 ends with "]", and in the
// 10- and 8-token formats token 7 is three ASCII digits and token 8 is "-"
// or ASCII digits); any other line with tokens is malformed, and an empty or
// blanks-only line is nothing.
#ifndef SORVIK_LOGS_LINE_CUTTER_H_
#define SORVIK_LOGS_LINE_CUTTER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "logs/log_record.h"

namespace sorvik {

// Token counts of the two standard line formats besides the eleven fields:
// the combined format lacks the server host, the common format also lacks
// the referrer and the agent.
inline constexpr int64_t kCombinedTokens = 10;
inline constexpr int64_t kCommonTokens = 8;

// Where tokens 1..11 of a line lie in the bytes they were written to, and
// how long they are (index 0 unused).
using TokenBegins = std::array<uint32_t, kRecordFields + 1>;
using TokenLengths = std::array<uint16_t, kRecordFields + 1>;

// What a line was cut into.
struct LineCut {
  int64_t tokens = 0;  // the line's tokens; 0 for an empty or blanks-only line
  // Of a line of a record's token count: the first of tokens 4, 5, 7 and 8
  // whose shape does not fit the format, 0 when all fit.
  int misfit = 0;
  // Of a record: its tokens in the caller's byte string.
  TokenBegins begin{};
  TokenLengths length{};

  bool is_record() const {
    return misfit == 0 &&
           (tokens == kRecordFields || tokens == kCombinedTokens || tokens == kCommonTokens);
  }
  bool is_malformed() const { return tokens > 0 && !is_record(); }
};

// The cutting of a line that may come in pieces (a line longer than the
// reader's buffer), carried from piece to piece. The bytes of its first
// eleven tokens go to the end of `*bytes` as they are cut; a line that is
// no record gives them back when it is finished.
struct LineCutter {
  std::string* bytes = nullptr;
  std::size_t start = 0;      // where the line's bytes begin in *bytes
  bool has_bytes = false;     // the line holds at least one byte (a piece was cut)
  int64_t count = 0;          // tokens ended so far
  int64_t pending_empty = 0;  // empty tokens ended by blanks, not yet known to be inside the line
  bool started = false;       // the current token has taken a byte or a quote
  bool in_quotes = false;
  bool escape_pending = false;  // the last piece ended in a backslash inside quotes
  TokenBegins begin{};
  TokenLengths length{};
};

// Cuts lines whose token bytes go to the end of `bytes` from now on; any
// line in progress is forgotten.
void start_lines(LineCutter& cutter, std::string& bytes);

// Cuts a whole line [from, to), without its line feed and the carriage
// return before it, into `cut`, while no line is in progress. With
// `one_pass` a plain line (no byte 0, no backslash, every token one run of
// bytes: a quoted text or bytes without blanks and quotes, never both) is
// cut in one pass over it, which gives what cutting byte by byte gives; any
// other line is cut byte by byte. Byte 0s are dropped from [from, to) in
// place. Of a line that is no record, `cut` holds the token count and the
// misfit only. (The cut is written where the caller keeps it, so that a
// line's tokens are not copied once more.)
void cut_line(LineCutter& cutter, char* from, char* to, bool one_pass, LineCut& cut);

// Cuts [from, to), the next piece of the line in progress (or its first),
// byte by byte. Byte 0s are dropped from it in place.
void cut_line_piece(LineCutter& cutter, char* from, char* to);

// Ends the line in progress (an empty one when no piece had bytes) into
// `cut`, as cut_line does.
void finish_line(LineCutter& cutter, LineCut& cut);

// Forgets the line in progress and gives back its bytes.
void drop_line(LineCutter& cutter);

}  // namespace sorvik

#endif  // SORVIK_LOGS_LINE_CUTTER_H_
