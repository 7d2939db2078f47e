#include "workers/spill_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace sorvik {
namespace {

TEST_F(SorvikTest, SpilledBytesReadBackAsWrittenAndLeaveNoFileBehind) {
  const TemporaryFolder here(".");
  SpillFile file;
  SpilledBytes first;
  SpilledBytes empty;
  SpilledBytes second;
  const std::string binary("a\0b\n\xff", 5);
  const std::string large(3 << 20, 'x');
  ASSERT_TRUE(spill_bytes(file, binary, first));
  ASSERT_TRUE(spill_bytes(file, "", empty));
  ASSERT_TRUE(spill_bytes(file, large, second));
  EXPECT_EQ(second.offset, binary.size());
  EXPECT_EQ(file.size, binary.size() + large.size());
  // The file is gone from the folder while it is in use.
  EXPECT_TRUE(std::filesystem::is_empty("."));
  EXPECT_EQ(file.path.rfind("./sorvik-spill-", 0), 0u) << file.path;

  std::string out = "held before";
  EXPECT_EQ(read_spilled(file, second, out), 0);
  EXPECT_EQ(out, large);
  EXPECT_EQ(read_spilled(file, first, out), 0);
  EXPECT_EQ(out, binary);
  EXPECT_EQ(read_spilled(file, empty, out), 0);
  EXPECT_EQ(out, "");
  // Bytes past the file's end were never written: a read that finds the
  // file shorter fails instead of giving what it has.
  EXPECT_EQ(read_spilled(file, SpilledBytes{file.size - 2, 4}, out), EIO);
}

TEST_F(SorvikTest, AFolderThatTakesNoFileLeavesTheBytesToTheCaller) {
  const TemporaryFolder missing("no-such-folder");
  SpillFile file;
  SpilledBytes placed;
  EXPECT_FALSE(spill_bytes(file, "lists", placed));
  EXPECT_TRUE(file.failed);
  // Nothing more is tried once it failed, even where it would work now.
  std::filesystem::create_directory("no-such-folder");
  EXPECT_FALSE(spill_bytes(file, "lists", placed));
  EXPECT_TRUE(std::filesystem::is_empty("no-such-folder"));
}

}  // namespace
}  // namespace sorvik
