#include "analysis/log_file_selection.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "analysis/log_record.h"
#include "driver/settings.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

using Names = std::vector<std::string>;

class LogFileSelectionTest : public SorvikTest {};

TEST_F(LogFileSelectionTest, EveryMatchIsSelectedAndSortedByteWise) {
  set_group_lines(kMessages, {" files"});
  ASSERT_EQ(mkdir("logs", 0755), 0);
  ASSERT_EQ(mkdir("logs/a.dir", 0755), 0);
  for (const char* name : {"a.10", "a.1", "a.02", "a.\xE4", "a.Z", "a.z", ".a.h", "b"}) {
    write_file(std::string("logs/") + name, "");
  }
  for (int i = 0; i < 120; ++i) write_file("logs/a.x" + std::to_string(1000 + i), "");
  settings.logfiles = "logs/*a.*";
  EXPECT_TRUE(select_log_files());
  ASSERT_EQ(analysis.log_files.size(), 128u);
  const Names first(analysis.log_files.begin(), analysis.log_files.begin() + 6);
  EXPECT_EQ(first, (Names{".a.h", "a.02", "a.1", "a.10", "a.Z", "a.dir"}));
  EXPECT_EQ(analysis.log_files[6], "a.x1000");
  EXPECT_EQ(analysis.log_files[126], "a.z");
  EXPECT_EQ(analysis.log_files[127], "a.\xE4");
  EXPECT_EQ(take_console_output(), "Logfiles ... 128 files\n");

  settings.logfiles = "missing/*";
  EXPECT_FALSE(select_log_files());
  EXPECT_TRUE(analysis.log_files.empty());
  EXPECT_EQ(take_console_output(), "Logfiles ... 0 files\n");
}

}  // namespace
}  // namespace sorvik
