// Writing large reports on a thread of their own.
//
// A period's text report holds a line for every entry of every list, many
// megabytes, and the system's copying of those bytes into the file takes as
// long as making them. While a BlockWriter lives, the blocks handed to it
// are written on its thread in the order given (once a few hundred
// kilobytes wait), and the analyzer goes on making the next ones;
// finish_blocks has the rest written and waits until they all are, and
// a write that failed ends the run there, as writing them at once would.
#ifndef SORVIK_BASE_BLOCK_WRITER_H_
#define SORVIK_BASE_BLOCK_WRITER_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/file_io.h"

namespace sorvik {

// Blocks handed over wait while fewer bytes than this are waiting; a caller
// that would go past it waits first, so that a disk slower than the making
// of the reports does not hold the reports in memory. Of the written
// blocks' memory at most kSpareBlocks are kept for the next ones.
inline constexpr std::size_t kWaitingBytesLimit = std::size_t{4} << 20;
inline constexpr std::size_t kSpareBlocks = 4;

struct BlockWriter {
  // Bytes for `file`, or, without one, the whole of a new file `path`.
  struct Block {
    OutputFile* file = nullptr;
    std::string bytes;
    std::string path;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Block> waiting;       // guarded by mutex
  std::size_t waiting_bytes = 0;   // of the blocks in `waiting`; guarded by mutex
  std::vector<std::string> spare;  // written blocks' memory, guarded by mutex
  bool writing = false;            // a block is being written; guarded by mutex
  bool stopping = false;           // guarded by mutex
  // The first failure since the last finish_blocks ("create" or "write");
  // later blocks are dropped. Guarded by mutex.
  int failed_errno = 0;
  std::string failed_operation;
  std::string failed_path;
  std::thread thread;

  // A process that forks must do so before, or after the writer has ended.
  BlockWriter();
  // Writes what was handed over and ends the thread; a failure is not
  // reported any more (the run is ending anyway).
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;
};

// Writes `bytes` to `file`: by the writer when there is one (after waiting
// for room, see kWaitingBytesLimit), or else at once.
// `bytes` is left empty, with memory of an earlier block when there is one.
// Nothing else may be written to `file` until finish_blocks.
void write_block(BlockWriter* writer, OutputFile& file, std::string& bytes);

// Creates `path` with `bytes` as its whole content: by the writer when
// there is one (so that creating many small files does not hold up the
// caller), or else at once.
void write_new_file(BlockWriter* writer, const std::string& path, std::string bytes);

// Waits until every block handed to the writer is written (nothing without
// one). A failure ends the run with the I/O error report of create_output
// or write_text.
void finish_blocks(BlockWriter* writer);

}  // namespace sorvik

#endif  // SORVIK_BASE_BLOCK_WRITER_H_
