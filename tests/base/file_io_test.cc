// Reading the text files line by line, and cleaning up after killed runs:
// only the temporaries of the given file whose writer is gone are removed.
#include "base/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sorvik {
namespace {

class FileIoTest : public SorvikTest {};

// Lines of every length around the 255-byte cut and the 64 KB reads, empty
// ones, and a last line with and without its line feed: each line loses a
// carriage return that ends it (also at the end of the file) and then holds
// its first 255 bytes, other carriage returns and all.
TEST_F(FileIoTest, TextLinesLoseTheirCrLfEndAndKeepTheirFirst255Bytes) {
  std::mt19937 random(3);
  std::string content;
  for (int line = 0; line < 3000; ++line) {
    constexpr std::size_t kLengths[] = {0, 1, 254, 255, 256, 70000};
    const std::size_t length = kLengths[random() % 6] + random() % 3;
    for (std::size_t i = 0; i < length; ++i) content += "ab\r c"[random() % 5];
    content += '\n';
  }
  for (const std::string& ending : {std::string(), std::string("tail"), std::string("tail\r"),
                                    std::string("\r"), std::string(300, 't')}) {
    const std::string text = content + ending;
    std::vector<std::string> expected;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t stop = text.find('\n', start);
      if (stop == std::string::npos) stop = text.size();
      std::string line = text.substr(start, stop - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      expected.push_back(line.substr(0, 255));
      start = stop + 1;
    }
    write_file("lines.txt", text);
    EXPECT_EQ(read_text_lines("lines.txt"), expected);
  }
}

TEST_F(FileIoTest, StaleTemporariesOfAStateFileAreRemoved) {
  ASSERT_EQ(mkdir("state", 0755), 0);
  const std::string alive = "state/results.txt.tmp" + std::to_string(getpid());
  // Above any process number the system hands out.
  const std::string dead = "state/results.txt.tmp999999999";
  for (const std::string& path :
       {alive, dead, alive + ".aB3xYz", dead + ".aB3xYz", dead + ".toolong",
        std::string("state/results.txt"), std::string("state/results.txt.tmpx1"),
        std::string("state/results.txt.tmp"), std::string("state/other.txt.tmp999999999")}) {
    write_file(path, "x");
  }
  remove_stale_temporary_files("state/results.txt");
  EXPECT_FALSE(file_exists(dead));
  EXPECT_FALSE(file_exists(dead + ".aB3xYz"));
  EXPECT_TRUE(file_exists(dead + ".toolong"));
  EXPECT_TRUE(file_exists(alive));
  EXPECT_TRUE(file_exists(alive + ".aB3xYz"));
  EXPECT_TRUE(file_exists("state/results.txt"));
  EXPECT_TRUE(file_exists("state/results.txt.tmpx1"));
  EXPECT_TRUE(file_exists("state/results.txt.tmp"));
  EXPECT_TRUE(file_exists("state/other.txt.tmp999999999"));

  // A file in the working directory, named without a folder.
  write_file("host.dat.tmp999999999", "x");
  remove_stale_temporary_files("host.dat");
  EXPECT_FALSE(file_exists("host.dat.tmp999999999"));
}

// A temporary file name that another user could foresee would let them
// plant a link there before the run writes it.
TEST_F(FileIoTest, TemporaryNamesCannotBeForeseen) {
  const std::string stem = "results.txt.tmp" + std::to_string(getpid()) + ".";
  const std::string first = write_temporary_file("results.txt", "1\n");
  const std::string second = write_temporary_file("results.txt", "2\n");
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.substr(0, stem.size()), stem);
    EXPECT_EQ(name.size(), stem.size() + 6);
  }
  EXPECT_EQ(read_file(second), "2\n");
}

// A link planted at a report's name (by whoever may write the report folder)
// is replaced by the report; the file it points at, or would create, stays
// untouched.
TEST_F(FileIoTest, LinkAtAnOutputNameIsReplacedNotFollowed) {
  write_file("victim", "kept\n");
  ASSERT_EQ(symlink("victim", "page.html"), 0);
  ASSERT_EQ(symlink("absent", "list.unknown"), 0);
  for (const char* name : {"page.html", "list.unknown"}) {
    OutputFile file = create_output(name);
    write_line(file, "report");
    close_output(file);
    struct stat info {};
    ASSERT_EQ(lstat(name, &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
    EXPECT_EQ(read_file(name), "report\n");
  }
  EXPECT_EQ(read_file("victim"), "kept\n");
  EXPECT_FALSE(file_exists("absent"));
}

}  // namespace
}  // namespace sorvik
