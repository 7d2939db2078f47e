// Which pieces of which log files the counting children take: each file
// whole, or in two pieces cut after the line that holds its middle byte. A
// pure plan from the files' sizes and cut points; reading the files for
// those is done elsewhere (file_claims.h).
#ifndef SORVIK_WORKERS_PIECE_PLAN_H_
#define SORVIK_WORKERS_PIECE_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "logs/log_reader.h"

namespace sorvik {

// The run modes are made from counted stretches only while the weeks run
// reads at most this many files (three years of daily logs), the size of
// the table of pieces the children share.
inline constexpr std::size_t kStretchFileLimit = 1024;

// A plain file of at least this many bytes can be counted in two pieces,
// which the children take one after the other like files: where that lets
// them end sooner (a single long log above all, which would keep one child
// busy while the other has nothing to do), it is cut.
inline constexpr uint64_t kPieceMinBytes = uint64_t{1} << 20;
inline constexpr std::size_t kPieceLimit = 2 * kStretchFileLimit;

// A file's size and where it can be cut into two pieces (0: nowhere).
struct FileShape {
  uint64_t size = 0;
  uint64_t cut = 0;
};

// A file, or a piece of one, as the counting children take them.
struct CountedPiece {
  uint32_t file = 0;    // its index among the selected files
  uint32_t number = 0;  // its number within the file, from 0
  LogPiece bytes;
};

// How long (in bytes counted) `children` counting children take over
// `pieces` (their sizes, in their order), each child taking the next one
// whenever it is done with one.
uint64_t counting_span(const std::vector<uint64_t>& pieces, std::size_t children);

// Plans the pieces of the files `shapes`, the first of which is selected
// file `first`, for `children` children, in the order of the files. Of the
// files that can be cut (among the last kCutChoiceFiles of them), those are
// cut that let the children end soonest, each cut costing a sixteenth of
// its file's bytes: a log in one file is cut, four even weekly files are
// not, of three the last is. Where cutting would not help, nothing is cut;
// of two cuts that help alike, the later file's is made, so that the files
// before it arrive whole and early.
std::vector<CountedPiece> plan_pieces(const std::vector<FileShape>& shapes, std::size_t first,
                                      std::size_t children);

// The plan tries every choice of files to cut among the last this many that
// can be cut: a cut helps where the children's counting ends.
inline constexpr std::size_t kCutChoiceFiles = 8;

}  // namespace sorvik

#endif  // SORVIK_WORKERS_PIECE_PLAN_H_
