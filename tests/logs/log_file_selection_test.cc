#include "logs/log_file_selection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/settings.h"
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
  const Names names = select_log_files().names;
  // The directory is no log (see below).
  ASSERT_EQ(names.size(), 127u);
  const Names first(names.begin(), names.begin() + 6);
  EXPECT_EQ(first, (Names{".a.h", "a.02", "a.1", "a.10", "a.Z", "a.x1000"}));
  EXPECT_EQ(names[125], "a.z");
  EXPECT_EQ(names[126], "a.\xE4");
  EXPECT_EQ(take_console_output(), "Logfiles ... 127 files\n");

  settings.logfiles = "missing/*";
  EXPECT_TRUE(select_log_files().names.empty());
  EXPECT_EQ(take_console_output(), "Logfiles ... 0 files\n");
}

// A named pipe would hold the run forever, a directory end it, and a line
// feed in a name would forge lines of the result file: only regular files
// (or links to one) with printable names are logs. Each entry left out gets
// an error-log entry once the log is open, in name order.
TEST_F(LogFileSelectionTest, OnlyRegularFilesWithPrintableNamesAreSelected) {
  set_group_lines(kMessages, {" files"});
  ASSERT_EQ(mkdir("logs", 0755), 0);
  write_file("logs/a.1", "");
  write_file("logs/a.2\nforged", "");
  write_file("logs/a.3\x7F", "");
  ASSERT_EQ(mkdir("logs/a.4", 0755), 0);
  ASSERT_EQ(mkfifo("logs/a.5", 0644), 0);
  ASSERT_EQ(mkfifo("logs/a.6\t", 0644), 0);
  ASSERT_EQ(symlink("a.1", "logs/a.7"), 0);
  ASSERT_EQ(symlink("absent", "logs/a.8"), 0);
  settings.logfiles = "logs/a.*";
  settings.log_dir = "logs/";
  const LogFileSelection selection = select_log_files();
  EXPECT_EQ(selection.names, (Names{"a.1", "a.7"}));
  EXPECT_EQ(take_console_output(), "Logfiles ... 2 files\n");

  settings.errlog_file = "errlog.txt";
  error_log_open();
  report_skipped_log_files(selection.skipped);
  const auto entry = [](const std::string& source, const std::string& text) {
    return "101112: Error in file logs/" + source + "!\n        " + text + ", skipped!\n";
  };
  const std::string control = "Log file name with a control character";
  const std::string kind = "Not a regular file";
  EXPECT_EQ(error_log_entries(), entry("a.2?forged", control) + entry("a.3?", control) +
                                     entry("a.4", kind) + entry("a.5", kind) +
                                     entry("a.6?", control) + entry("a.8", kind));
}

}  // namespace
}  // namespace sorvik
