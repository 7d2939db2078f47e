// Blocks handed to the writer reach their file whole and in order, and a
// write that fails ends the run at the next finish_blocks.
#include "base/block_writer.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "base/run_stop.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class BlockWriterTest : public SorvikTest {};

TEST_F(BlockWriterTest, BlocksArriveInOrderWithOrWithoutTheThread) {
  std::string expected;
  for (BlockWriter* writer : {static_cast<BlockWriter*>(nullptr), new BlockWriter}) {
    OutputFile file = create_output("report.txt");
    expected.clear();
    std::string block;
    for (int i = 0; i < 3000; ++i) {
      block +=
          "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), '.') + "\n";
      if (i % 37 == 0) {
        expected += block;
        write_block(writer, file, block);
        EXPECT_TRUE(block.empty());
      }
    }
    expected += block;
    write_block(writer, file, block);
    finish_blocks(writer);
    write_line(file, "---");
    close_output(file);
    EXPECT_EQ(read_file("report.txt"), expected + "---\n");
    delete writer;
  }
}

// Blocks made much faster than they are written: the bytes waiting stay
// within the limit (the maker waits for room) and the file is still whole.
TEST_F(BlockWriterTest, AMakerFasterThanTheWriterWaitsForRoom) {
  constexpr std::size_t kBlock = 1 << 20;
  std::vector<std::string> blocks;
  std::string expected;
  for (int i = 0; i < 64; ++i) {
    blocks.emplace_back(kBlock, static_cast<char>('a' + i % 26));
    expected += blocks.back();
  }
  BlockWriter writer;
  OutputFile file = create_output("report.txt");
  std::size_t most_waiting = 0;
  for (std::string& block : blocks) {
    write_block(&writer, file, block);
    const std::lock_guard<std::mutex> lock(writer.mutex);
    most_waiting = std::max(most_waiting, writer.waiting_bytes);
    EXPECT_LE(writer.spare.size(), kSpareBlocks);
  }
  finish_blocks(&writer);
  close_output(file);
  EXPECT_LT(most_waiting, kWaitingBytesLimit + kBlock);
  EXPECT_EQ(read_file("report.txt"), expected);
}

// Files too small to wake the writer's thread are still all created: by
// finish_blocks, or else when the writer ends.
TEST_F(BlockWriterTest, SmallNewFilesAreCreatedByTheFinishOrTheEnd) {
  auto* writer = new BlockWriter;
  write_new_file(writer, "a.html", "first\n");
  write_new_file(writer, "b.html", "second\n");
  finish_blocks(writer);
  EXPECT_EQ(read_file("a.html"), "first\n");
  EXPECT_EQ(read_file("b.html"), "second\n");
  write_new_file(writer, "c.html", "third\n");
  delete writer;
  EXPECT_EQ(read_file("c.html"), "third\n");
}

TEST_F(BlockWriterTest, FailedWriteEndsTheRunAtTheNextFinish) {
  BlockWriter writer;
  OutputFile file = create_output("report.txt");
  // The writes fail once the file holds 100 bytes.
  const RunStop stop = stop_of_with_file_limit(100, [&] {
    std::string block(70000, 'x');
    write_block(&writer, file, block);
    block.assign(10, 'y');
    write_block(&writer, file, block);
    finish_blocks(&writer);
  });
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_EQ(stop.console_line, "Cannot write report.txt: File too large");
  // The failure is reported once; the writer goes on for the next report.
  finish_blocks(&writer);
}

}  // namespace
}  // namespace sorvik
