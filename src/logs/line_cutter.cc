#include "logs/line_cutter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "base/text.h"

namespace sorvik {

namespace {

// The first blank or quote in [from, to), the bytes that interrupt a run of
// token bytes outside quotes, or `to`. Eight bytes are looked at a time: a
// byte equal to the one sought becomes a zero byte of the word, and the
// lowest zero byte of a word is found exactly by the borrow trick.
const char* find_outside_stop(const char* from, const char* to) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  while (to - from >= 8) {
    uint64_t word;
    std::memcpy(&word, from, sizeof word);
    const uint64_t blanks = word ^ (kOnes * static_cast<unsigned char>(' '));
    const uint64_t quotes = word ^ (kOnes * static_cast<unsigned char>('"'));
    const uint64_t zeros = (((blanks - kOnes) & ~blanks) | ((quotes - kOnes) & ~quotes)) & kHighs;
    if (zeros != 0) {
      if constexpr (std::endian::native == std::endian::little) {
        return from + (std::countr_zero(zeros) >> 3);
      } else {
        break;  // the bytes are looked at one by one below
      }
    }
    from += 8;
  }
  while (from < to && *from != ' ' && *from != '"') ++from;
  return from;
}

// The first `byte` in [from, to), or `to` when there is none.
const char* find_byte(const char* from, const char* to, char byte) {
  const void* found = std::memchr(from, byte, static_cast<std::size_t>(to - from));
  return found != nullptr ? static_cast<const char*>(found) : to;
}

// Appends [from, to) to the current token, keeping its first 255 bytes.
void append_to_token(LineCutter& line, const char* from, const char* to) {
  const int64_t index = line.count + 1;
  if (index > kRecordFields) return;
  const std::size_t held = line.length[index];
  const std::size_t room = kTextLimit - held;
  std::size_t take = static_cast<std::size_t>(to - from);
  if (take > room) take = room;
  if (take == 0) return;
  if (held == 0) line.begin[index] = static_cast<uint32_t>(line.bytes->size());
  line.bytes->append(from, take);
  line.length[index] = static_cast<uint16_t>(held + take);
}

// A token begins with its first byte or quote. Empty tokens between blanks
// before it are real tokens now that the line goes on after them.
void start_token(LineCutter& line) {
  if (line.started) return;
  line.started = true;
  line.count += line.pending_empty;
  line.pending_empty = 0;
}

constexpr char kBackslash = '\\';

// Cuts quoted bytes from `p` on, up to and including the closing quote or up
// to `q`, and returns where cutting goes on. Inside quotes the servers write
// a quote as \" and a backslash as \\; the token holds the character meant,
// the quote or the backslash alone, and such a quote does not end the quotes.
// A backslash before any other byte is an ordinary byte and stays in the
// token, as do the bytes of other escapes (\x22, \n, ...).
const char* cut_quoted(LineCutter& line, const char* p, const char* q) {
  // Quoted texts are the long ones (request, referrer, agent), so library
  // scans pay off here; each byte is scanned once for each of the two bytes.
  const char* quote = find_byte(p, q, '"');
  for (;;) {
    const char* backslash = find_byte(p, quote, kBackslash);
    append_to_token(line, p, backslash);
    if (backslash == quote) break;
    const char* next = backslash + 1;
    if (next == q) {
      // The escaped byte, if any, begins the next piece of the line.
      line.escape_pending = true;
      return q;
    }
    if (*next == '"' || *next == kBackslash) {
      append_to_token(line, next, next + 1);
      p = next + 1;
      if (next == quote) quote = find_byte(p, q, '"');
    } else {
      append_to_token(line, backslash, next);
      p = next;
    }
  }
  if (quote == q) return q;
  line.in_quotes = false;
  return quote + 1;
}

// Cuts the bytes [p, q) of the current line, which hold no byte 0, into
// tokens. The state in `line` carries over from piece to piece of a line.
void cut_tokens(LineCutter& line, const char* p, const char* q) {
  while (p < q) {
    if (line.in_quotes) {
      if (line.escape_pending) {
        line.escape_pending = false;
        if (*p == '"' || *p == kBackslash) {
          append_to_token(line, p, p + 1);
          ++p;
          continue;
        }
        append_to_token(line, &kBackslash, &kBackslash + 1);
      }
      p = cut_quoted(line, p, q);
      continue;
    }
    const char* s = find_outside_stop(p, q);
    if (s > p) {
      start_token(line);
      append_to_token(line, p, s);
    }
    if (s == q) return;
    if (*s == ' ') {
      if (line.started) {
        line.count += 1;
        line.started = false;
      } else {
        // Whether this empty token counts depends on what follows on the line.
        line.pending_empty += 1;
      }
    } else if (*s == '"') {
      start_token(line);
      line.in_quotes = true;
    }
    p = s + 1;
  }
}

// Whether a line of this many tokens can be a record: eleven fields, or a
// line of the combined or the common format.
bool is_record_count(int64_t tokens) {
  return tokens == kRecordFields || tokens == kCombinedTokens || tokens == kCommonTokens;
}

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The first of tokens 4, 5, 7 and 8 of a line of a record's token count
// (is_record_count) that does not have its format's shape, 0 when all fit
// (in every format tokens 1 to 8 are the record's fields 1 to 8):
// the time stamp's two tokens are bracketed, and in the standard formats the
// status is three digits and the size "-" or digits. Strangers write the
// user name, the request and the agent, and the servers do not escape a
// blank or a quote in all of them; a line that a stranger shifted by a token
// is then skipped instead of being read, or stopping the run, as a record
// with a stranger's text in its time stamp or size.
// `token(i)` gives token i as it is held.
template <typename Token>
int misfit_token(int64_t tokens, const Token& token) {
  const std::string_view time = token(kFieldTimeStamp);
  if (time.empty() || time.front() != '[') return kFieldTimeStamp;
  const std::string_view zone = token(kFieldZone);
  if (zone.empty() || zone.back() != ']') return kFieldZone;
  if (tokens == kRecordFields) return 0;
  const std::string_view status = token(kFieldStatus);
  if (status.size() != 3 || !all_digits(status)) return kFieldStatus;
  const std::string_view size = token(kFieldSize);
  if (size != "-" && !all_digits(size)) return kFieldSize;
  return 0;
}

// Lines up to this long are cut by cut_plain_line; the batch takes such a
// line whole, so longer ones go the way that keeps only their tokens.
constexpr std::size_t kPlainLineLimit = 4096;

// Where the bytes that matter to one-pass cutting lie in 64 bytes of a line,
// as masks with bit i for byte i: blanks, quotes, and the bytes that make a
// line not plain (backslash, byte 0).
struct ChunkStops {
  uint64_t blanks = 0;
  uint64_t quotes = 0;
  uint64_t others = 0;
};

// The masks of 16 bytes from `block`, in their low 16 bits.
ChunkStops block_stops(const char* block) {
  ChunkStops stops;
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const auto mask_of = [&](char byte) {
    return static_cast<uint64_t>(
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte)))));
  };
  stops.blanks = mask_of(' ');
  stops.quotes = mask_of('"');
  stops.others = mask_of('\\') | mask_of('\0');
#else
  for (int i = 0; i < 16; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    if (block[i] == ' ') stops.blanks |= bit;
    if (block[i] == '"') stops.quotes |= bit;
    if (block[i] == '\\' || block[i] == '\0') stops.others |= bit;
  }
#endif
  return stops;
}

// The masks of the line's bytes [at, at + 64) that lie before `size`. Bytes
// after the line are never read: the last bytes are looked at as the end of
// a whole block, or copied when the line is shorter than a block.
ChunkStops chunk_stops(const char* line, std::size_t at, std::size_t size) {
  ChunkStops chunk;
  if (size - at >= 64) {
    // A whole chunk, as most are: four blocks with no end to look out for.
    for (std::size_t part = 0; part < 64; part += 16) {
      const ChunkStops stops = block_stops(line + at + part);
      chunk.blanks |= stops.blanks << part;
      chunk.quotes |= stops.quotes << part;
      chunk.others |= stops.others << part;
    }
    return chunk;
  }
  for (std::size_t part = 0; part < 64 && at + part < size; part += 16) {
    const std::size_t from = at + part;
    ChunkStops stops;
    if (from + 16 <= size) {
      stops = block_stops(line + from);
    } else {
      const std::size_t left = size - from;
      if (size >= 16) {
        stops = block_stops(line + size - 16);
        const std::size_t seen = 16 - left;
        stops.blanks >>= seen;
        stops.quotes >>= seen;
        stops.others >>= seen;
      } else {
        std::array<char, 16> copy{};
        std::memcpy(copy.data(), line + from, left);
        stops = block_stops(copy.data());
      }
      const uint64_t kept = (uint64_t{1} << left) - 1;
      stops.blanks &= kept;
      stops.quotes &= kept;
      stops.others &= kept;
    }
    chunk.blanks |= stops.blanks << part;
    chunk.quotes |= stops.quotes << part;
    chunk.others |= stops.others << part;
  }
  return chunk;
}

// Bit i of the result is the exclusive or of bits 0 to i: with the quotes'
// mask, the bytes from an opening quote up to its closing quote.
uint64_t prefix_xor(uint64_t bits) {
  bits ^= bits << 1;
  bits ^= bits << 2;
  bits ^= bits << 4;
  bits ^= bits << 8;
  bits ^= bits << 16;
  bits ^= bits << 32;
  return bits;
}

// Cuts a whole line [from, to) in one pass into `cut` when it is plain: no
// byte 0, no backslash, and every token one run of bytes (a quoted text or
// a run without blanks and quotes, never both). A record's line goes into
// `bytes` whole and its tokens point into it, which gives the same tokens as
// cut_tokens; the bytes of any other line are not kept. False for a line
// that is not plain, with `bytes` as it was.
//
// The line is looked at 64 bytes at a time, as masks: the quotes pair up
// into quoted texts, the blanks outside them cut the line into pieces, and
// each piece is a token. Blanks at the line's end make no tokens, so the
// line has as many tokens as pieces up to its last non-empty one.
bool cut_plain_line(const char* from, const char* to, std::string& bytes, LineCut& cut) {
  const std::size_t size = static_cast<std::size_t>(to - from);
  if (size > kPlainLineLimit) return false;
  // A record's tokens are placed where they lie once its line is taken
  // into `bytes` whole.
  const auto base = static_cast<uint32_t>(bytes.size());
  TokenBegins& begin = cut.begin;
  TokenLengths& length = cut.length;
  int64_t pieces = 0;     // pieces ended so far
  int64_t tokens = 0;     // pieces up to the last non-empty one
  std::size_t piece = 0;  // where the current piece begins
  const auto end_piece = [&](std::size_t end) {
    pieces += 1;
    if (end == piece) return;
    tokens = pieces;
    if (pieces > kRecordFields) return;
    std::size_t first = piece;
    std::size_t last = end;
    if (from[first] == '"') {
      // A quoted text, closed by its last byte or else by the line's end.
      first += 1;
      if (end - piece >= 2 && from[end - 1] == '"') last -= 1;
    }
    begin[pieces] = base + static_cast<uint32_t>(first);
    length[pieces] = static_cast<uint16_t>(std::min(last - first, kTextLimit));
  };
  uint64_t quoted_before = 0;   // all ones when a quoted text goes on from the last chunk
  uint64_t blank_before = 1;    // bit 0: the byte before the chunk is a blank, or the line starts
  uint64_t closing_before = 0;  // bit 0: the byte before the chunk is a closing quote
  for (std::size_t at = 0; at < size; at += 64) {
    const ChunkStops stops = chunk_stops(from, at, size);
    if (stops.others != 0) return false;
    const uint64_t quoted = prefix_xor(stops.quotes) ^ quoted_before;
    const uint64_t opening = stops.quotes & quoted;
    const uint64_t closing = stops.quotes & ~quoted;
    const uint64_t in_line = size - at >= 64 ? ~uint64_t{0} : (uint64_t{1} << (size - at)) - 1;
    // An opening quote begins its token, and a closing quote ends it.
    if ((opening & ~(stops.blanks << 1 | blank_before)) != 0) return false;
    if (((closing << 1 | closing_before) & in_line & ~stops.blanks) != 0) {
      return false;
    }
    quoted_before = 0 - (quoted >> 63);
    blank_before = stops.blanks >> 63;
    closing_before = closing >> 63;
    for (uint64_t cuts = stops.blanks & ~quoted; cuts != 0; cuts &= cuts - 1) {
      const std::size_t blank = at + static_cast<std::size_t>(std::countr_zero(cuts));
      end_piece(blank);
      piece = blank + 1;
    }
  }
  end_piece(size);

  const auto token = [&](int i) { return std::string_view(from + (begin[i] - base), length[i]); };
  cut.tokens = tokens;
  cut.misfit = is_record_count(tokens) ? misfit_token(tokens, token) : 0;
  if (cut.is_record()) bytes.append(from, size);
  return true;
}

// Forgets the tokens of the line in progress.
void clear_line(LineCutter& line) {
  line.has_bytes = false;
  line.count = 0;
  line.pending_empty = 0;
  line.started = false;
  line.in_quotes = false;
  line.escape_pending = false;
  line.begin.fill(0);
  line.length.fill(0);
}

}  // namespace

void start_lines(LineCutter& cutter, std::string& bytes) {
  cutter.bytes = &bytes;
  clear_line(cutter);
}

void cut_line_piece(LineCutter& line, char* from, char* to) {
  if (from == to) return;
  if (!line.has_bytes) {
    line.has_bytes = true;
    line.start = line.bytes->size();
  }
  // Byte 0s are rare, so they are looked for once.
  if (std::memchr(from, '\0', static_cast<std::size_t>(to - from)) != nullptr) {
    to = std::remove(from, to, '\0');
  }
  cut_tokens(line, from, to);
}

void cut_line(LineCutter& cutter, char* from, char* to, bool one_pass, LineCut& cut) {
  if (one_pass && cut_plain_line(from, to, *cutter.bytes, cut)) return;
  cut_line_piece(cutter, from, to);
  finish_line(cutter, cut);
}

void finish_line(LineCutter& line, LineCut& cut) {
  cut.tokens = 0;
  cut.misfit = 0;
  if (!line.has_bytes) return;
  // A backslash at the line's end inside quotes escapes nothing and stays.
  if (line.escape_pending) append_to_token(line, &kBackslash, &kBackslash + 1);
  // Blanks at the end of the line make no tokens; a quote left open at the
  // line's end is closed by the line feed.
  cut.tokens = line.count + (line.started ? 1 : 0);
  if (is_record_count(cut.tokens)) {
    cut.misfit = misfit_token(cut.tokens, [&line](int i) {
      return std::string_view(*line.bytes).substr(line.begin[i], line.length[i]);
    });
  }
  if (cut.is_record()) {
    cut.begin = line.begin;
    cut.length = line.length;
  } else {
    line.bytes->resize(line.start);
  }
  clear_line(line);
}

void drop_line(LineCutter& line) {
  if (line.has_bytes) line.bytes->resize(line.start);
  clear_line(line);
}

}  // namespace sorvik
