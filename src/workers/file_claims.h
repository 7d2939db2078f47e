// Which counting child reads which piece of which file. The pieces are
// planned (piece_plan.h) before the children are forked, in the order of the
// files; each child takes the next piece not taken yet whenever it has sent
// the one before, so a child held up by a long file leaves the following
// ones to the other, and the files arrive in about the order the weeks run
// shows them. The claims live in memory shared with the children.
#ifndef SORVIK_WORKERS_FILE_CLAIMS_H_
#define SORVIK_WORKERS_FILE_CLAIMS_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workers/piece_plan.h"

namespace sorvik {

struct FileClaims {
  std::atomic<uint32_t> next{0};
  uint32_t pieces = 0;
  std::array<CountedPiece, kPieceLimit> piece{};
  // The number of the child that took each piece, -1 while none has.
  std::array<std::atomic<int32_t>, kPieceLimit> taker{};

  FileClaims() {
    for (std::atomic<int32_t>& child : taker) child.store(-1);
  }
};

// Gives the shared memory of FileClaims back.
struct FileClaimsUnmap {
  void operator()(FileClaims* claims) const;
};
using SharedFileClaims = std::unique_ptr<FileClaims, FileClaimsUnmap>;

// FileClaims of the pieces `planned` (at most kPieceLimit), in memory that
// children forked later share; nullptr when the system gives none.
SharedFileClaims make_file_claims(const std::vector<CountedPiece>& planned);

// The next piece for child `number`, now taken by it; -1 when none is left.
int64_t claim_next_piece(FileClaims& claims, int32_t number);

// The shapes of the selected files from `first` on, as the plan takes them.
std::vector<FileShape> shapes_of_files(std::size_t first);

// The shape of the log file at `path`: its size, and where it can be cut.
// Only a regular file of at least kPieceMinBytes that does not begin with
// the gzip magic bytes (a compressed file is read from its start), whose
// line at its middle byte ends within a mebibyte, can be cut: after that
// line's line feed.
FileShape shape_of_file(const std::string& path);

// Whether a piece still begins and ends at the borders of lines, as it did
// when its file was cut: in a file replaced or cut short since, the bytes
// before its borders may no longer be line feeds. A whole file always is.
bool piece_still_cut(const CountedPiece& piece);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_FILE_CLAIMS_H_
