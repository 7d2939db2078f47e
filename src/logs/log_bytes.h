// The content of an access-log file as a stream of bytes: the file's own
// bytes, or, for a gzip-compressed file, its decompressed content.
#ifndef SORVIK_LOGS_LOG_BYTES_H_
#define SORVIK_LOGS_LOG_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvik {

// The decompression state of a compressed file (defined with its code).
struct Inflater;
struct InflaterDeleter {
  void operator()(Inflater* inflater) const;
};

enum class ByteStatus : uint8_t {
  kData,       // `count` bytes were delivered
  kEnd,        // the content ended normally
  kReadError,  // reading the file failed: `error_number`
  kDamaged,    // the compressed data is corrupt or cut short: `damage`
};

struct ByteRead {
  ByteStatus status = ByteStatus::kEnd;
  std::size_t count = 0;
  int error_number = 0;
  std::string damage;  // zlib's description, e.g. "invalid block type"
};

// One open log file as a byte source. A file whose first two bytes are the
// gzip magic bytes 1f 8b is decompressed, whatever its name; its members are
// read one after the other, and zero bytes after a member (padding)
// are ignored. Any other file is delivered as it is.
struct LogBytes {
  int fd = -1;                                          // owned by the caller
  bool inspected = false;                               // the first bytes have been looked at
  std::vector<char> input;                              // compressed bytes read from the file
  std::unique_ptr<Inflater, InflaterDeleter> inflater;  // only for a compressed file
  bool ended = false;                                   // `ending` is all that is left to deliver
  ByteRead ending;
  uint64_t left = UINT64_MAX;  // bytes a piece of a plain file may still deliver
};

// Starts reading the file open as `fd` from its beginning.
void open_log_bytes(LogBytes& source, int fd);

// Starts reading a piece of a plain file: `fd` is placed at its first byte,
// and at most `length` bytes are delivered (UINT64_MAX: up to the end). The
// bytes are delivered as they are, whatever the first two of them are.
void open_log_piece_bytes(LogBytes& source, int fd, uint64_t length);

// Delivers the next bytes of the content into [to, to + room), room > 0.
// Returns kData with at least one byte, or what ended the content; once it
// has ended, every further call returns the same ending. Bytes decompressed
// before damage was found are delivered first, the damage after them.
ByteRead read_log_bytes(LogBytes& source, char* to, std::size_t room);

}  // namespace sorvik

#endif  // SORVIK_LOGS_LOG_BYTES_H_
