// Blocks handed to the writer reach their file whole and in order, and a
// write that fails ends the run at the next finish_blocks.
#include "driver/block_writer.h"

#include <signal.h>
#include <sys/resource.h>

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
  // A file size limit makes the writes fail once the file holds 100 bytes.
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const sighandler_t previous_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = previous;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string block(70000, 'x');
  write_block(&writer, file, block);
  block.assign(10, 'y');
  write_block(&writer, file, block);
  std::string stopped;
  int status = 0;
  try {
    finish_blocks(&writer);
  } catch (const RunStop& stop) {
    status = stop.exit_status;
    stopped = stop.console_line;
  }
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previous_handler);
  EXPECT_EQ(status, kExitIoError);
  EXPECT_EQ(stopped, "Cannot write report.txt: File too large");
  // The failure is reported once; the writer goes on for the next report.
  finish_blocks(&writer);
}

}  // namespace
}  // namespace sorvik
