// Blocks handed to the writer reach their file whole and in order, and a
// write that fails ends the run at the next finish_blocks.
#include "driver/block_writer.h"

#include <string>

#include "driver/run_stop.h"
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
