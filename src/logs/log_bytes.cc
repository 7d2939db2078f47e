#include "logs/log_bytes.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace sorvik {

namespace {

// Compressed bytes are read in blocks of this size.
constexpr std::size_t kInputSize = 64 * 1024;

// zlib has no message for data that stops before its end (it only finds that
// it cannot go on), so a cut-off file is described as gzip and gzread do.
constexpr const char* kCutShort = "unexpected end of file";

// read() repeated after a signal: the byte count, 0 at the end, -1 with errno.
ssize_t read_some(int fd, char* to, std::size_t room) {
  for (;;) {
    const ssize_t got = read(fd, to, room);
    if (got >= 0 || errno != EINTR) return got;
  }
}

ByteRead data_read(std::size_t count) {
  ByteRead result;
  result.status = ByteStatus::kData;
  result.count = count;
  return result;
}

ByteRead failed_read(int error_number) {
  ByteRead result;
  result.status = ByteStatus::kReadError;
  result.error_number = error_number;
  return result;
}

ByteRead damaged_read(const char* damage) {
  ByteRead result;
  result.status = ByteStatus::kDamaged;
  result.damage = damage;
  return result;
}

}  // namespace

struct Inflater {
  z_stream stream{};
  bool initialised = false;
  bool between_members = false;  // a member ended; the next one has not begun
  bool input_end = false;        // the file has delivered all its bytes
};

void InflaterDeleter::operator()(Inflater* inflater) const {
  if (inflater->initialised) inflateEnd(&inflater->stream);
  delete inflater;
}

namespace {

// Decompresses into [to, to + room) until it is full or the content ends.
ByteRead inflate_bytes(LogBytes& source, char* to, std::size_t room) {
  Inflater& inflater = *source.inflater;
  z_stream& stream = inflater.stream;
  const uInt capacity = static_cast<uInt>(std::min<std::size_t>(room, UINT_MAX));
  stream.next_out = reinterpret_cast<Bytef*>(to);
  stream.avail_out = capacity;
  ByteRead ending = data_read(0);  // kData: the content goes on
  while (stream.avail_out > 0) {
    if (stream.avail_in == 0 && !inflater.input_end) {
      const ssize_t got = read_some(source.fd, source.input.data(), source.input.size());
      if (got < 0) {
        ending = failed_read(errno);
        break;
      }
      if (got == 0) inflater.input_end = true;
      stream.next_in = reinterpret_cast<Bytef*>(source.input.data());
      stream.avail_in = static_cast<uInt>(got);
    }
    if (inflater.between_members) {
      // Zero bytes after a member are padding, as gzip treats them; anything
      // else must be the next member, and inflate judges its header.
      while (stream.avail_in > 0 && *stream.next_in == 0) {
        ++stream.next_in;
        --stream.avail_in;
      }
      if (stream.avail_in == 0) {
        if (!inflater.input_end) continue;
        ending = ByteRead{};
        break;
      }
      inflateReset(&stream);
      inflater.between_members = false;
    }
    const int code = inflate(&stream, Z_NO_FLUSH);
    if (code == Z_STREAM_END) {
      inflater.between_members = true;
      continue;
    }
    if (code == Z_OK) continue;
    // No progress: more input is needed, which the file may no longer have.
    if (code == Z_BUF_ERROR && !(stream.avail_in == 0 && inflater.input_end)) continue;
    if (code == Z_BUF_ERROR) {
      ending = damaged_read(kCutShort);
    } else {
      ending = damaged_read(stream.msg != nullptr ? stream.msg : zError(code));
    }
    break;
  }
  const std::size_t produced = capacity - stream.avail_out;
  if (produced == 0) return ending;
  if (ending.status != ByteStatus::kData) {
    source.ended = true;
    source.ending = ending;
  }
  return data_read(produced);
}

// Looks at the first bytes, which go to [to, to + room) in any case, and
// starts the decompression when they are the gzip magic bytes.
ByteRead inspect_bytes(LogBytes& source, char* to, std::size_t room) {
  source.inspected = true;
  std::size_t got = 0;
  // A short first read (a pipe) may bring fewer than the two bytes that decide.
  while (got < 2 && got < room) {
    const ssize_t more = read_some(source.fd, to + got, room - got);
    if (more < 0) return failed_read(errno);
    if (more == 0) break;
    got += static_cast<std::size_t>(more);
  }
  const bool compressed = got >= 2 && static_cast<unsigned char>(to[0]) == 0x1F &&
                          static_cast<unsigned char>(to[1]) == 0x8B;
  if (!compressed) return got == 0 ? ByteRead{} : data_read(got);

  source.input.assign(std::max(kInputSize, got), '\0');
  std::memcpy(source.input.data(), to, got);
  source.inflater.reset(new Inflater);
  z_stream& stream = source.inflater->stream;
  // 16 + MAX_WBITS: gzip members only, with the largest window.
  const int code = inflateInit2(&stream, 16 + MAX_WBITS);
  if (code != Z_OK) return damaged_read(zError(code));
  source.inflater->initialised = true;
  stream.next_in = reinterpret_cast<Bytef*>(source.input.data());
  stream.avail_in = static_cast<uInt>(got);
  return inflate_bytes(source, to, room);
}

}  // namespace

void open_log_bytes(LogBytes& source, int fd) {
  source.fd = fd;
  source.inspected = false;
  source.input.clear();
  source.inflater.reset();
  source.ended = false;
  source.ending = ByteRead{};
  source.left = UINT64_MAX;
}

void open_log_piece_bytes(LogBytes& source, int fd, uint64_t length) {
  open_log_bytes(source, fd);
  source.inspected = true;
  source.left = length;
}

ByteRead read_log_bytes(LogBytes& source, char* to, std::size_t room) {
  if (source.ended) return source.ending;
  ByteRead result;
  if (!source.inspected) {
    result = inspect_bytes(source, to, room);
  } else if (source.inflater) {
    result = inflate_bytes(source, to, room);
  } else if (source.left > 0) {
    const ssize_t got =
        read_some(source.fd, to, static_cast<std::size_t>(std::min<uint64_t>(room, source.left)));
    if (got < 0) {
      result = failed_read(errno);
    } else if (got > 0) {
      result = data_read(static_cast<std::size_t>(got));
      if (source.left != UINT64_MAX) source.left -= static_cast<uint64_t>(got);
    }
  }
  if (result.status != ByteStatus::kData) {
    source.ended = true;
    source.ending = result;
  }
  return result;
}

}  // namespace sorvik
