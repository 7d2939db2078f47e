// Cleaning up after killed runs: only the temporaries of the given file whose
// writer is gone are removed.
#include "driver/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace sorvik {
namespace {

class FileIoTest : public SorvikTest {};

TEST_F(FileIoTest, StaleTemporariesOfAStateFileAreRemoved) {
  ASSERT_EQ(mkdir("state", 0755), 0);
  const std::string alive = "state/results.txt.tmp" + std::to_string(getpid());
  // Above any process number the system hands out.
  const std::string dead = "state/results.txt.tmp999999999";
  for (const std::string& path :
       {alive, dead, std::string("state/results.txt"), std::string("state/results.txt.tmpx1"),
        std::string("state/results.txt.tmp"), std::string("state/other.txt.tmp999999999")}) {
    write_file(path, "x");
  }
  remove_stale_temporary_files("state/results.txt");
  EXPECT_FALSE(file_exists(dead));
  EXPECT_TRUE(file_exists(alive));
  EXPECT_TRUE(file_exists("state/results.txt"));
  EXPECT_TRUE(file_exists("state/results.txt.tmpx1"));
  EXPECT_TRUE(file_exists("state/results.txt.tmp"));
  EXPECT_TRUE(file_exists("state/other.txt.tmp999999999"));

  // A file in the working directory, named without a folder.
  write_file("host.dat.tmp999999999", "x");
  remove_stale_temporary_files("host.dat");
  EXPECT_FALSE(file_exists("host.dat.tmp999999999"));
}

}  // namespace
}  // namespace sorvik
