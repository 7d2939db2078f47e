#include "logs/log_reader.h"

#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "logs/log_bytes.h"
#include "stats/counted_list.h"
#include "stats/text_hash.h"

namespace sorvik {

namespace {

// Large reads keep the system calls rare; the block size is not visible in
// the records, because lines are cut wherever the reads end.
constexpr std::size_t kReadSize = 64 * 1024;

// Token counts of the two standard line formats besides the eleven fields:
// the combined format lacks the server host, the common format also lacks
// the referrer and the agent.
constexpr int64_t kCombinedTokens = 10;
constexpr int64_t kCommonTokens = 8;

// The tokens of the line being cut. Only the first eleven tokens keep their
// bytes, which go straight into the batch, from `start` on; later tokens are
// only counted. A line that does not become a record takes its bytes back.
// Where the tokens of a line lie (1..11) and how long they are.
using TokenBegins = std::array<uint32_t, kRecordFields + 1>;
using TokenLengths = std::array<uint16_t, kRecordFields + 1>;

struct LineTokens {
  int64_t count = 0;          // tokens ended so far
  int64_t pending_empty = 0;  // empty tokens ended by blanks, not yet known to be inside the line
  bool started = false;       // the current token has taken a byte or a quote
  bool in_quotes = false;
  bool escape_pending = false;   // the last piece ended in a backslash inside quotes
  bool has_bytes = false;        // the line holds at least one byte besides its line feed
  TokenBegins begin{};           // 1..11: where each token's bytes are
  TokenLengths length{};         // 1..11
  std::string* bytes = nullptr;  // the batch's bytes
  std::size_t start = 0;         // where the line's bytes begin in them
};

// What read_record meets next: a record, a malformed line, a failed read,
// damaged compressed data or the end of the file. Silently skipped lines
// leave nothing.
enum class EventKind : uint8_t { kRecord, kMalformed, kReadError, kDamaged, kEnd };

struct LineEvent {
  EventKind kind = EventKind::kEnd;
  int64_t line_number = 0;  // kMalformed: the physical line
  int64_t fields = 0;       // kMalformed: its token count
  int misfit = 0;           // kMalformed: the first token that does not fit its format, 0 for none
  int error_number = 0;     // kReadError
  std::array<uint32_t, kRecordFields + 1> start{};   // kRecord: 1..11, in Batch::bytes
  std::array<uint16_t, kRecordFields + 1> length{};  // kRecord: 1..11
  RecordHints hints;                                 // kRecord
};

// Events handed over together; the records' fields lie in `bytes`.
struct Batch {
  std::vector<LineEvent> events;
  std::string bytes;
  std::string damage;  // kDamaged: what zlib found
  void clear() {
    events.clear();
    bytes.clear();
    damage.clear();
  }
};

// A batch is handed over when it holds this many events, so that the two
// threads meet rarely.
constexpr std::size_t kBatchEvents = 512;
// Batches filled but not yet taken; the reading thread waits beyond that, so
// memory stays bounded however long the file is.
constexpr std::size_t kBatchesAhead = 4;

// The reading side: the file's bytes (decompressed when it is compressed)
// and their cutting into lines and tokens. Only the reading thread touches
// it while that thread runs.
struct Cutter {
  LogBytes source;
  std::vector<char> buffer;  // unread bytes are buffer[begin, end)
  std::size_t begin = 0;
  std::size_t end = 0;
  bool at_end = false;   // the file has delivered all its bytes
  bool damaged = false;  // its compressed data ended in damage: `damage`
  std::string damage;
  int64_t line_number = 0;  // physical lines finished so far
  LineTokens line;
  // Field 9 of the lines that do not name the server host.
  std::string server_host;
  bool plain_lines = true;  // plain lines are cut in one pass (cut_plain_line)
  // The record events' hints hold their directories' hashes.
  bool directory_hints = true;
  Batch* batch = nullptr;  // where finished lines go
};

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
void append_to_token(LineTokens& line, const char* from, const char* to) {
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
void start_token(LineTokens& line) {
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
const char* cut_quoted(LineTokens& line, const char* p, const char* q) {
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
void cut_tokens(LineTokens& line, const char* p, const char* q) {
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

// Cuts [from, to), a line or, for a line longer than the buffer, a piece of
// it, after dropping its byte 0s (rare, so they are looked for once).
void cut_piece(Cutter& c, char* from, char* to) {
  if (from == to) return;
  c.line.has_bytes = true;
  if (std::memchr(from, '\0', static_cast<std::size_t>(to - from)) != nullptr) {
    to = std::remove(from, to, '\0');
  }
  cut_tokens(c.line, from, to);
}

// Forgets the tokens of the current line; the next line's bytes begin after
// those the batch keeps.
void clear_line(LineTokens& line) {
  line.start = line.bytes->size();
  line.count = 0;
  line.pending_empty = 0;
  line.started = false;
  line.in_quotes = false;
  line.escape_pending = false;
  line.has_bytes = false;
  line.begin.fill(0);
  line.length.fill(0);
}

// The prefetch hints of a record event: hashed here, where the bytes are
// still in the cache, so that the counting can ask for its lists' buckets
// and entries some records ahead.
void add_hints(LineEvent& event, const std::string& bytes, bool directory) {
  const auto field = [&](int i) {
    return std::string_view(bytes).substr(event.start[i], event.length[i]);
  };
  const std::string_view path = requested_path(field(kFieldRequest));
  event.hints.client = list_key_hash(field(kFieldClient));
  event.hints.path = list_key_hash(path);
  if (directory) event.hints.directory = list_key_hash(directory_of(path));
  event.hints.path_size = static_cast<uint32_t>(path.size());
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

// Adds the malformed-line event of the line just finished.
void add_malformed(Cutter& c, int64_t fields, int misfit) {
  LineEvent& event = c.batch->events.emplace_back();
  event.kind = EventKind::kMalformed;
  event.line_number = c.line_number;
  event.fields = fields;
  event.misfit = misfit;
}

// Makes a record event of a line whose `tokens` (a record's shape) lie at
// `begin` (counted from `base` in the batch's bytes) with `length`. The
// lines of the standard formats become the same eleven fields: tokens 1 to 8
// are fields 1 to 8, field 9 is the server host of the settings, and the
// combined format's last two tokens are fields 10 and 11, which the common
// format fills with "-".
void add_record(Cutter& c, int64_t tokens, const TokenBegins& begin, const TokenLengths& length,
                std::size_t base) {
  LineEvent& event = c.batch->events.emplace_back();
  event.kind = EventKind::kRecord;
  std::string& bytes = c.batch->bytes;
  const auto token_field = [&](int field, int token) {
    event.start[field] = static_cast<uint32_t>(base + begin[token]);
    event.length[field] = length[token];
  };
  const auto added_field = [&](int field, std::string_view text) {
    event.start[field] = static_cast<uint32_t>(bytes.size());
    event.length[field] = static_cast<uint16_t>(text.size());
    bytes.append(text);
  };
  const int own_tokens = tokens == kRecordFields ? kRecordFields : kFieldSize;
  for (int i = 1; i <= own_tokens; ++i) token_field(i, i);
  if (tokens == kCombinedTokens) {
    token_field(kFieldReferrer, 9);
    token_field(kFieldAgent, 10);
  } else if (tokens == kCommonTokens) {
    added_field(kFieldReferrer, "-");
    added_field(kFieldAgent, "-");
  }
  if (tokens != kRecordFields) added_field(kFieldServerHost, c.server_host);
  add_hints(event, bytes, c.directory_hints);
}

// Ends the current line: a line of eleven tokens or of a standard format
// becomes a record event, any other non-empty line a malformed-line event.
void finish_line(Cutter& c) {
  LineTokens& line = c.line;
  c.line_number += 1;
  // A backslash at the line's end inside quotes escapes nothing and stays.
  if (line.escape_pending) append_to_token(line, &kBackslash, &kBackslash + 1);
  // Blanks at the end of the line make no tokens; a quote left open at the
  // line's end is closed by the line feed.
  const int64_t fields = line.count + (line.started ? 1 : 0);
  int misfit = 0;
  if (is_record_count(fields)) {
    misfit = misfit_token(fields, [&line](int i) {
      return std::string_view(*line.bytes).substr(line.begin[i], line.length[i]);
    });
    if (misfit == 0) {
      add_record(c, fields, line.begin, line.length, 0);
      clear_line(line);
      return;
    }
  }
  line.bytes->resize(line.start);
  if (fields > 0) add_malformed(c, fields, misfit);
  clear_line(line);
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

// Cuts a whole line [from, to) in one pass when it is plain: no byte 0, no
// backslash, and every token one run of bytes (a quoted text or a run
// without blanks and quotes, never both). The batch takes the line's bytes
// whole and the tokens point into them, which gives the same tokens as
// cut_tokens. kNotPlain, with nothing changed, for any other line. A line
// that is a record, the usual one, is finished here as finish_line would
// finish it (kFinished); any other is left for finish_line (kCut).
//
// The line is looked at 64 bytes at a time, as masks: the quotes pair up
// into quoted texts, the blanks outside them cut the line into pieces, and
// each piece is a token. Blanks at the line's end make no tokens, so the
// line has as many tokens as pieces up to its last non-empty one.
enum class PlainCut { kNotPlain, kCut, kFinished };

PlainCut cut_plain_line(Cutter& c, const char* from, const char* to) {
  const std::size_t size = static_cast<std::size_t>(to - from);
  if (size > kPlainLineLimit) return PlainCut::kNotPlain;
  TokenBegins begin{};
  TokenLengths length{};
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
    begin[pieces] = static_cast<uint32_t>(first);
    length[pieces] = static_cast<uint16_t>(std::min(last - first, kTextLimit));
  };
  uint64_t quoted_before = 0;   // all ones when a quoted text goes on from the last chunk
  uint64_t blank_before = 1;    // bit 0: the byte before the chunk is a blank, or the line starts
  uint64_t closing_before = 0;  // bit 0: the byte before the chunk is a closing quote
  for (std::size_t at = 0; at < size; at += 64) {
    const ChunkStops stops = chunk_stops(from, at, size);
    if (stops.others != 0) return PlainCut::kNotPlain;
    const uint64_t quoted = prefix_xor(stops.quotes) ^ quoted_before;
    const uint64_t opening = stops.quotes & quoted;
    const uint64_t closing = stops.quotes & ~quoted;
    const uint64_t in_line = size - at >= 64 ? ~uint64_t{0} : (uint64_t{1} << (size - at)) - 1;
    // An opening quote begins its token, and a closing quote ends it.
    if ((opening & ~(stops.blanks << 1 | blank_before)) != 0) return PlainCut::kNotPlain;
    if (((closing << 1 | closing_before) & in_line & ~stops.blanks) != 0) {
      return PlainCut::kNotPlain;
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

  LineTokens& line = c.line;
  const std::size_t base = line.bytes->size();
  line.bytes->append(from, size);
  const auto token = [&](int i) { return std::string_view(from + begin[i], length[i]); };
  if (is_record_count(tokens) && misfit_token(tokens, token) == 0) {
    // The record goes into the batch at once, and the line, which had no
    // bytes before, stays as clear_line leaves it.
    c.line_number += 1;
    add_record(c, tokens, begin, length, base);
    line.start = line.bytes->size();
    return PlainCut::kFinished;
  }
  if (size > 0) line.has_bytes = true;
  line.count = tokens;
  line.started = false;
  for (int i = 1; i <= kRecordFields; ++i) {
    line.begin[i] = static_cast<uint32_t>(base + begin[i]);
    line.length[i] = length[i];
  }
  return PlainCut::kCut;
}

// The end of a line's bytes with a carriage return before its end dropped.
char* without_carriage_return(char* from, char* to) {
  return to > from && to[-1] == '\r' ? to - 1 : to;
}

// Makes room in the buffer and reads more bytes. A line that fills the whole
// buffer is cut as far as it goes, so that lines of any length need no more
// memory than the buffer.
ByteRead refill(Cutter& c) {
  char* data = c.buffer.data();
  if (c.begin > 0) {
    std::memmove(data, data + c.begin, c.end - c.begin);
    c.end -= c.begin;
    c.begin = 0;
  }
  if (c.end == c.buffer.size()) {
    // A carriage return at the end may turn out to precede the line feed, so
    // it waits for the next piece.
    char* cut_end = without_carriage_return(data, data + c.end);
    cut_piece(c, data, cut_end);
    const std::size_t kept = static_cast<std::size_t>(data + c.end - cut_end);
    std::memmove(data, cut_end, kept);
    c.end = kept;
  }
  ByteRead got = read_log_bytes(c.source, data + c.end, c.buffer.size() - c.end);
  if (got.status == ByteStatus::kData) {
    c.end += got.count;
  } else if (got.status != ByteStatus::kReadError) {
    c.at_end = true;
    c.damaged = got.status == ByteStatus::kDamaged;
    c.damage = std::move(got.damage);
  }
  return got;
}

// Cuts lines into the current batch until it is full. False when the file is
// done: its last event (the end or a failed read) is in the batch.
bool cut_batch(Cutter& c) {
  while (c.batch->events.size() < kBatchEvents) {
    char* from = c.buffer.data() + c.begin;
    char* to = c.buffer.data() + c.end;
    void* found = std::memchr(from, '\n', static_cast<std::size_t>(to - from));
    if (found != nullptr) {
      char* line_feed = static_cast<char*>(found);
      char* line_end = without_carriage_return(from, line_feed);
      // Most lines are plain and cut in one pass; the rest byte by byte.
      const PlainCut cut = c.plain_lines && !c.line.has_bytes ? cut_plain_line(c, from, line_end)
                                                              : PlainCut::kNotPlain;
      if (cut == PlainCut::kNotPlain) cut_piece(c, from, line_end);
      c.begin = static_cast<std::size_t>(line_feed + 1 - c.buffer.data());
      if (cut != PlainCut::kFinished) finish_line(c);
      continue;
    }
    if (!c.at_end) {
      if (const ByteRead got = refill(c); got.status == ByteStatus::kReadError) {
        LineEvent& event = c.batch->events.emplace_back();
        event.kind = EventKind::kReadError;
        event.error_number = got.error_number;
        return false;
      }
      continue;
    }
    if (c.damaged) {
      // The line that the damage cut off is known to be incomplete: dropped.
      c.line.bytes->resize(c.line.start);
      clear_line(c.line);
      c.begin = c.end;
      c.batch->events.emplace_back().kind = EventKind::kDamaged;
      c.batch->damage = c.damage;
      return false;
    }
    // The file ended: a last line without a line feed is still a line.
    if (from != to || c.line.has_bytes) {
      cut_piece(c, from, without_carriage_return(from, to));
      c.begin = c.end;
      finish_line(c);
    }
    LineEvent& end = c.batch->events.emplace_back();
    end.kind = EventKind::kEnd;
    end.line_number = c.line_number;
    return false;
  }
  return true;
}

// The two threads of one open log file. The reading thread fills batches
// and queues them; read_record takes them in order and gives the emptied
// ones back for reuse.
struct ReadAhead {
  Cutter cutter;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::unique_ptr<Batch>> filled;  // guarded by mutex
  std::vector<std::unique_ptr<Batch>> spare;  // guarded by mutex
  bool stopping = false;                      // guarded by mutex
  std::thread thread;

  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Without `threaded` no thread starts: take() cuts each batch itself.
  ReadAhead(int fd, const LogPiece& piece, std::string server_host, bool plain_lines,
            bool directory_hints, bool threaded) {
    if (piece.whole()) {
      open_log_bytes(cutter.source, fd);
    } else {
      open_log_piece_bytes(cutter.source, fd,
                           piece.end == LogPiece::kToEnd ? UINT64_MAX : piece.end - piece.begin);
    }
    cutter.server_host = std::move(server_host);
    cutter.plain_lines = plain_lines;
    cutter.directory_hints = directory_hints;
    cutter.buffer.resize(kReadSize);
    if (threaded) thread = std::thread([this] { produce(); });
  }
  // Also on a stopped run: the reading thread is told to end and awaited.
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    if (thread.joinable()) thread.join();
  }

  void produce() {
    for (;;) {
      std::unique_ptr<Batch> batch;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stopping || filled.size() < kBatchesAhead; });
        if (stopping) return;
        if (!spare.empty()) {
          batch = std::move(spare.back());
          spare.pop_back();
        }
      }
      const bool more = fill(batch);
      {
        std::lock_guard<std::mutex> lock(mutex);
        filled.push_back(std::move(batch));
      }
      changed.notify_all();
      if (!more) return;
    }
  }

  // Cuts the next lines into `batch`, made when there is none; false when
  // the file is done.
  bool fill(std::unique_ptr<Batch>& batch) {
    if (!batch) batch = std::make_unique<Batch>();
    batch->clear();
    cutter.batch = batch.get();
    // Lines never run from one batch into the next.
    cutter.line.bytes = &batch->bytes;
    cutter.line.start = 0;
    const bool more = cut_batch(cutter);
    cutter.batch = nullptr;
    return more;
  }

  // The next filled batch, waited for; `used` goes back for reuse. Without
  // a reading thread, `used` is filled again here.
  std::unique_ptr<Batch> take(std::unique_ptr<Batch> used) {
    if (!thread.joinable()) {
      fill(used);
      return used;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (used) spare.push_back(std::move(used));
    changed.notify_all();
    changed.wait(lock, [&] { return !filled.empty(); });
    std::unique_ptr<Batch> batch = std::move(filled.front());
    filled.pop_front();
    changed.notify_all();
    return batch;
  }
};

// The open log file as read_record sees it.
struct LogReader {
  int fd = -1;
  std::string path;
  std::unique_ptr<ReadAhead> read_ahead;
  std::unique_ptr<Batch> batch;  // taken from the reading thread
  std::size_t next_event = 0;    // in batch
  bool done = false;             // the end of the file was met
  int64_t lines = 0;             // the file's lines, once its end was met
  bool plain_lines = true;       // see set_plain_line_cutting
  bool directory_hints = true;   // see set_directory_hints
  bool reading_thread = true;    // see set_reading_thread
};

LogReader log_reader;

// Converts a non-empty run of ASCII digits; false for anything else.
bool convert_digits(std::string_view text, uint16_t& value) {
  if (text.empty()) return false;
  unsigned result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<unsigned>(c - '0');
  }
  value = static_cast<uint16_t>(result);
  return true;
}

// A two-character field: with a leading "0" only the second character counts.
bool convert_two_digits(std::string_view text, uint16_t& value) {
  if (!text.empty() && text[0] == '0') text.remove_prefix(1);
  return convert_digits(text, value);
}

// An optional "+" or "-" followed by ASCII digits, within signed 64 bits.
bool convert_size(std::string_view text, int64_t& size) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  // Accumulating negatively reaches the most negative value too. Up to 18
  // digits stay within range; only longer numbers are checked digit by digit.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const bool may_overflow = text.size() > 18;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (may_overflow && value < (kMin + digit) / 10) return false;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == kMin) return false;
    value = -value;
  }
  size = value;
  return true;
}

[[noreturn]] void stop_on_bad_size() {
  const LogRecord& record = analysis.record;
  const std::string number = std::to_string(analysis.record_number);
  console_line();
  console_line(cut_text(messages_line(MessageId::kPressKey) + " " + number));
  console_line(cut_text(messages_line(MessageId::kBadSize) +
                        "String=" + std::string(record.field[kFieldSize]) +
                        "IP= " + std::string(record.field[kFieldClient])));
  error_log_entry(analysis.current_log_path,
                  "Error, line: " + number +
                      ", file length conversion, String= " + std::string(record.field[kFieldSize]) +
                      ", IP= " + std::string(record.field[kFieldClient]));
  stop_run(kExitBadSize, true);
}

char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void stop_on_bad_time_stamp() {
  const LogRecord& record = analysis.record;
  console_line();
  console_line("Line: " + std::to_string(analysis.record_number));
  console_line(cut_text(messages_line(MessageId::kBadTimeStamp) +
                        std::string(record.field[kFieldTimeStamp])));
  error_log_entry(analysis.current_log_path,
                  "Time: Ip=" + std::string(record.field[kFieldClient]) +
                      ", x2=" + std::string(record.field[kFieldIdentity]) +
                      ", x3=" + std::string(record.field[kFieldUser]) +
                      ", time=" + std::string(record.field[kFieldTimeStamp]));
  stop_run(kExitBadTime, true);
}

void reset_log_reader() {
  close_log();
  log_reader = LogReader{};
}

void open_log(const std::string& path, const LogPiece& piece) {
  close_log();
  // Never blocks on a named pipe that took a log file's place after the
  // selection: a read of a regular file does not heed O_NONBLOCK, and one of
  // a pipe without a writer finds its end at once.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) stop_on_io_error("open", path, errno);
  LogReader& r = log_reader;
  r.fd = fd;
  r.path = path;
  r.batch.reset();
  r.next_event = 0;
  r.done = false;
  r.lines = 0;
  if (piece.begin > 0 && lseek(fd, static_cast<off_t>(piece.begin), SEEK_SET) < 0) {
    stop_on_io_error("seek", path, errno);
  }
  // Field 9 of the combined and common lines. Without a site name it is a
  // byte 0, which no referrer holds (the cutting drops byte 0s), so that no
  // referrer of those lines counts as internal.
  r.read_ahead = std::make_unique<ReadAhead>(
      fd, piece, settings.host_url.empty() ? std::string(1, '\0') : settings.host_url,
      r.plain_lines, r.directory_hints, r.reading_thread);
}

void close_log() {
  // The reading thread ends before its file is closed.
  log_reader.read_ahead.reset();
  if (log_reader.fd >= 0) close(log_reader.fd);
  log_reader.fd = -1;
}

int64_t log_lines_read() { return log_reader.lines; }

std::string malformed_line_text(const MalformedLine& malformed) {
  std::string text = "Malformed line " + std::to_string(malformed.line) + ": " +
                     std::to_string(malformed.fields) + " fields, ";
  if (malformed.misfit != 0)
    text += "field " + std::to_string(malformed.misfit) + " does not fit, ";
  return text + "line skipped";
}

void set_plain_line_cutting(bool on) { log_reader.plain_lines = on; }

void set_reading_thread(bool on) { log_reader.reading_thread = on; }

void set_directory_hints(bool on) { log_reader.directory_hints = on; }

bool record_hints_have_directory() {
  return log_reader.read_ahead != nullptr && log_reader.read_ahead->cutter.directory_hints;
}

namespace {

// The record event `ahead` events after the one read last (0: that one), or
// nullptr when there is no such event in the batch or it is no record.
const LineEvent* record_event(std::size_t ahead) {
  const LogReader& r = log_reader;
  if (!r.batch) return nullptr;
  // Before the first event is read, the one read last is none: `at` wraps.
  const std::size_t at = r.next_event - 1 + ahead;
  if (at >= r.batch->events.size() || r.batch->events[at].kind != EventKind::kRecord) {
    return nullptr;
  }
  return &r.batch->events[at];
}

}  // namespace

bool peek_record_hints(std::size_t ahead, RecordHints& hints) {
  const LineEvent* event = ahead == 0 ? nullptr : record_event(ahead);
  if (event == nullptr) return false;
  hints = event->hints;
  return true;
}

bool current_record_hints(RecordHints& hints) {
  const LineEvent* event = record_event(0);
  if (event == nullptr) return false;
  const char* bytes = log_reader.batch->bytes.data();
  const auto unchanged = [&](int i) {
    const std::string_view field = analysis.record.field[i];
    return field.data() == bytes + event->start[i] && field.size() == event->length[i];
  };
  if (!unchanged(1) || !unchanged(6)) return false;
  hints = event->hints;
  return true;
}

int read_record() {
  LogReader& r = log_reader;
  if (r.fd < 0 || r.done) return 0;
  for (;;) {
    if (!r.batch || r.next_event == r.batch->events.size()) {
      r.batch = r.read_ahead->take(std::move(r.batch));
      r.next_event = 0;
    }
    const LineEvent& event = r.batch->events[r.next_event++];
    switch (event.kind) {
      case EventKind::kRecord: {
        // The fields are read where the reading thread put them: the batch
        // stays with this thread until the next read_record.
        const char* bytes = r.batch->bytes.data();
        for (int i = 1; i <= kRecordFields; ++i) {
          analysis.record.field[i] = std::string_view(bytes + event.start[i], event.length[i]);
        }
        return kRecordFields;
      }
      case EventKind::kMalformed:
        console_write("!");
        if (const MalformedLine malformed{event.line_number, event.fields, event.misfit};
            analysis.held_malformed_line) {
          analysis.held_malformed_line(malformed);
        } else {
          error_log_entry(analysis.current_log_path, malformed_line_text(malformed));
        }
        break;
      case EventKind::kReadError:
        r.done = true;
        stop_on_io_error("read", r.path, event.error_number);
      case EventKind::kDamaged:
        r.done = true;
        console_write("!");
        error_log_entry(analysis.current_log_path,
                        "Compressed file damaged: " + r.batch->damage + ", rest of file skipped");
        return 0;
      case EventKind::kEnd:
        r.done = true;
        r.lines = event.line_number;
        return 0;
    }
  }
}

int month_number(std::string_view text) {
  const auto letter = [&](std::size_t i) { return i < text.size() ? text[i] : '\0'; };
  switch (letter(0)) {
    case 'A':
      return letter(1) == 'p' ? 4 : 8;
    case 'D':
      return 12;
    case 'F':
      return 2;
    case 'J':
      if (letter(1) == 'a') return 1;
      if (letter(1) == 'u') return letter(2) == 'n' ? 6 : 7;
      return 0;
    case 'M':
      return letter(2) == 'r' ? 3 : 5;
    case 'N':
      return 11;
    case 'O':
      return 10;
    case 'S':
      return 9;
    default:
      return 0;
  }
}

bool parse_time_stamp(std::string_view field, TimeStamp& stamp) {
  // The usual stamp, "[dd/Mon/yyyy:hh:mm:ss" with a digit at each digit's
  // place, is read at once; it gives what the steps below give for it.
  if (field.size() >= 21) {
    const auto at = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(field[i])) - unsigned{'0'};
    };
    // Day, year, hour, minute and second, two or four places each, each
    // place looked at once (a byte below "0" wraps to a large value).
    const std::array<unsigned, 12> d = {at(1),  at(2),  at(8),  at(9),  at(10), at(11),
                                        at(13), at(14), at(16), at(17), at(19), at(20)};
    if (std::all_of(d.begin(), d.end(), [](unsigned place) { return place <= 9; })) {
      const int month = month_number(field.substr(4, 3));
      if (month == 0) return false;
      stamp.year = static_cast<uint16_t>(d[2] * 1000 + d[3] * 100 + d[4] * 10 + d[5]);
      stamp.month = static_cast<uint16_t>(month);
      stamp.day = static_cast<uint16_t>(d[0] * 10 + d[1]);
      stamp.hour = static_cast<uint16_t>(d[6] * 10 + d[7]);
      stamp.minute = static_cast<uint16_t>(d[8] * 10 + d[9]);
      stamp.second = static_cast<uint16_t>(d[10] * 10 + d[11]);
      return true;
    }
  }
  TimeStamp parsed;
  if (!convert_digits(chars_at(field, 9, 12), parsed.year)) return false;
  parsed.month = static_cast<uint16_t>(month_number(chars_at(field, 5, 7)));
  if (parsed.month == 0) return false;
  if (!convert_two_digits(chars_at(field, 2, 3), parsed.day)) return false;
  if (!convert_two_digits(chars_at(field, 14, 15), parsed.hour)) return false;
  if (!convert_two_digits(chars_at(field, 17, 18), parsed.minute)) return false;
  if (!convert_two_digits(chars_at(field, 20, 21), parsed.second)) return false;
  stamp = parsed;
  return true;
}

PackedTime pack_time(const TimeStamp& stamp) {
  // Each value keeps only the bits of its place, so an out-of-range day or
  // hour cannot spill into its neighbour; the year wraps as unsigned.
  const uint32_t year = static_cast<uint32_t>(stamp.year) - 1980u;
  return ((year & 0x7Fu) << 25) | ((stamp.month & 0xFu) << 21) | ((stamp.day & 0x1Fu) << 16) |
         ((stamp.hour & 0x1Fu) << 11) | ((stamp.minute & 0x3Fu) << 5) |
         ((stamp.second / 2u) & 0x1Fu);
}

int64_t calendar_day_seconds(const TimeStamp& stamp) {
  // Days from 1 March of year 0 by whole eras of 400 years, so that the
  // leap days fall at the ends of years (the civil-from-days arithmetic).
  const int64_t month = stamp.month;
  const int64_t year = static_cast<int64_t>(stamp.year) - (month <= 2 ? 1 : 0);
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const int64_t days = era * 146097 + day_of_era - 719468 + (static_cast<int64_t>(stamp.day) - 1);
  return days * 86400;
}

int64_t calendar_seconds(const TimeStamp& stamp) {
  return calendar_day_seconds(stamp) + static_cast<int64_t>(stamp.hour) * 3600 +
         static_cast<int64_t>(stamp.minute) * 60 + stamp.second;
}

std::string unknown_command_text(int32_t line, std::string_view method) {
  return "Unknown command in line " + std::to_string(line) + ": " + std::string(method);
}

RequestInfo parse_request() {
  RequestInfo info;
  parse_request_into(info);
  return info;
}

void classify_path(std::string_view path, std::string& extension, bool& is_page) {
  is_page = true;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) {
    extension.clear();
    return;
  }
  // Made on the stack: most requests' extension is the one before.
  const std::string_view from = path.substr(dot, 4);
  std::array<char, 4> upper{};
  for (std::size_t i = 0; i < upper.size(); ++i) {
    upper[i] = i < from.size() ? upper_ascii(from[i]) : '\0';
  }
  const std::string_view made(upper.data(), from.size());
  assign_if_changed(extension, made);
  is_page = same_text(made, ".HTM");
}

void parse_request_into(RequestInfo& info) {
  const LogRecord& record = analysis.record;
  // The texts keep their capacity from one request to the next.
  info.size = 0;
  info.path.clear();

  if (record.field[kFieldSize] != "-" && !convert_size(record.field[kFieldSize], info.size))
    stop_on_bad_size();
  analysis.period_bytes += static_cast<long double>(info.size);

  TimeStamp stamp;
  if (!parse_time_stamp(record.field[kFieldTimeStamp], stamp)) stop_on_bad_time_stamp();
  info.time = pack_time(stamp);
  // Most requests fall on the day of the one before.
  if (stamp.year != info.day.year || stamp.month != info.day.month || stamp.day != info.day.day) {
    info.day = stamp;
    info.day_seconds = calendar_day_seconds(stamp);
  }
  info.seconds = info.day_seconds + static_cast<int64_t>(stamp.hour) * 3600 +
                 static_cast<int64_t>(stamp.minute) * 60 + stamp.second;

  const std::string_view request = record.field[kFieldRequest];
  assign_if_changed(info.method, request.substr(0, method_end(request)));
  info.is_page = true;
  if (same_text(info.method, "GET") || same_text(info.method, "HEAD")) {
    info.path.assign(requested_path(request));
    if (!info.path.empty() && info.path.back() == '/') append_cut(info.path, settings.default_file);
    classify_path(info.path, info.extension, info.is_page);
  } else {
    // Counted as a page under an empty path: the request line of an unknown
    // method says nothing reliable about what was asked for.
    info.extension.clear();
    error_log_entry(analysis.current_log_path,
                    unknown_command_text(analysis.record_number, info.method));
    console_write("!");
  }

  // Rounded half up in units of 1024 bytes, truncating towards zero; split so
  // that the largest sizes cannot overflow.
  info.kbytes = info.size >= 0 ? info.size / 1024 + (info.size % 1024 + 512) / 1024
                               : (info.size + 512) / 1024;
}

}  // namespace sorvik
