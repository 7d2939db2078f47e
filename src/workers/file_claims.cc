#include "workers/file_claims.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "analysis/log_record.h"
#include "base/settings.h"
#include "base/text.h"

namespace sorvik {

namespace {

// The line of a cut file runs on for at most this many bytes after the
// file's middle; a file whose line there is longer is not cut.
constexpr uint64_t kCutSearchBytes = uint64_t{1} << 20;

// Where the line that holds byte `from` of the file ends: the place after
// its line feed, or 0 when it has none (soon enough, or before the end).
uint64_t line_end_after(int fd, uint64_t from, uint64_t size) {
  std::array<char, 1 << 16> block;
  for (uint64_t at = from; at < size && at - from < kCutSearchBytes;) {
    const ssize_t got = pread(fd, block.data(), block.size(), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    const auto length = static_cast<std::size_t>(got);
    if (const void* feed = std::memchr(block.data(), '\n', length)) {
      const uint64_t end =
          at + static_cast<uint64_t>(static_cast<const char*>(feed) - block.data()) + 1;
      return end < size ? end : 0;
    }
    at += length;
  }
  return 0;
}

std::string selected_path(std::size_t k) {
  return cut_text(settings.log_dir + analysis.log_files[k]);
}

}  // namespace

void FileClaimsUnmap::operator()(FileClaims* claims) const {
  claims->~FileClaims();
  munmap(claims, sizeof(FileClaims));
}

SharedFileClaims make_file_claims(const std::vector<CountedPiece>& planned) {
  void* memory =
      mmap(nullptr, sizeof(FileClaims), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
  SharedFileClaims claims(new (memory) FileClaims());
  const std::size_t count = std::min(planned.size(), kPieceLimit);
  for (std::size_t i = 0; i < count; ++i) claims->piece[i] = planned[i];
  claims->pieces = static_cast<uint32_t>(count);
  return claims;
}

int64_t claim_next_piece(FileClaims& claims, int32_t number) {
  const uint32_t i = claims.next.fetch_add(1);
  if (i >= claims.pieces) return -1;
  claims.taker[i].store(number);
  return i;
}

std::vector<FileShape> shapes_of_files(std::size_t first) {
  std::vector<FileShape> shapes;
  for (std::size_t k = first; k < analysis.log_files.size(); ++k) {
    shapes.push_back(shape_of_file(selected_path(k)));
  }
  return shapes;
}

FileShape shape_of_file(const std::string& path) {
  FileShape shape;
  // Looked at without opening it: a named pipe's writer would take an open
  // for its reader.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return shape;
  shape.size = static_cast<uint64_t>(status.st_size);
  if (shape.size < kPieceMinBytes) return shape;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return shape;
  unsigned char magic[2] = {0, 0};
  const bool compressed =
      pread(fd, magic, sizeof magic, 0) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
  if (!compressed) shape.cut = line_end_after(fd, shape.size / 2, shape.size);
  close(fd);
  return shape;
}

bool piece_still_cut(const CountedPiece& piece) {
  if (piece.bytes.whole()) return true;
  const std::string path = selected_path(piece.file);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const auto line_feed_before = [fd](uint64_t at) {
    char byte = 0;
    return pread(fd, &byte, 1, static_cast<off_t>(at - 1)) == 1 && byte == '\n';
  };
  const bool cut = (piece.bytes.begin == 0 || line_feed_before(piece.bytes.begin)) &&
                   (piece.bytes.end == LogPiece::kToEnd || line_feed_before(piece.bytes.end));
  close(fd);
  return cut;
}

}  // namespace sorvik
