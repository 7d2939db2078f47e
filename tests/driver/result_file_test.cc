#include "driver/result_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class ResultFileTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages(41);
    messages[18] = "done.";
    messages[31] = "Unknown option";
    messages[32] = "Incomplete info";
    messages[33] = "without run mode";
    messages[34] = "Incorrect line";
    messages[40] = "Reading results";
    set_group_lines(kMessages, messages);
    settings.results_file = "results.txt";
    settings.errlog_file = "errlog.txt";
    error_log_open();
    take_console_output();
  }

  static std::string entry(const std::string& text) {
    return "101112: Error in file results.txt!\n        " + text + "!\n";
  }

  static void add_entry(int mode, const std::string& name, bool complete, int64_t files,
                        int64_t kbytes, int64_t visits, const std::string& log) {
    results.result_lists[mode].push_back(ResultEntry{name, log, complete, files, kbytes, visits});
  }

  static std::vector<std::string> names(int mode) {
    std::vector<std::string> list;
    for (const ResultEntry& e : results.result_lists[mode]) list.push_back(e.name);
    return list;
  }
};

const char kWrittenFile[] =
    "# Results of sorvik analysis #\n"
    "{ Years }\n"
    "2002y: incomplete, files=70, kBytes=700, visits=7, log=a.21\n"
    "{ Monthes }\n"
    "2002m04: complete, files=5000000000, kBytes=6000000000, visits=4294967297, log=a.21\n"
    "2002m05: incomplete, files=20, kBytes=-3, visits=2, log=a.22\n"
    "{ Weeks }\n";

TEST_F(ResultFileTest, WritesEverySectionAndReleasesTheEntries) {
  add_entry(1, "2002y", false, 70, 700, 7, "a.21");
  add_entry(2, "2002m04", true, 5000000000, 6000000000, 4294967297, "a.21");
  add_entry(2, "2002m05", false, 20, -3, 2, "a.22");
  write_results();
  EXPECT_EQ(read_file("results.txt"), kWrittenFile);
  for (int mode = 1; mode <= 3; ++mode) EXPECT_TRUE(results.result_lists[mode].empty());
}

TEST_F(ResultFileTest, ReadingBackKeepsCompleteEntriesAndResumesAtOpenOnes) {
  write_file("results.txt", kWrittenFile);
  read_results();
  EXPECT_EQ(take_console_output(), "Reading results done.\n");
  EXPECT_TRUE(results.result_lists[1].empty());
  ASSERT_EQ(results.result_lists[2].size(), 1u);
  const ResultEntry& april = results.result_lists[2][0];
  EXPECT_EQ(april.name, "2002m04");
  EXPECT_TRUE(april.complete);
  // Figures beyond 32 bits come back whole.
  EXPECT_EQ(april.files, 5000000000);
  EXPECT_EQ(april.kbytes, 6000000000);
  EXPECT_EQ(april.visits, 4294967297);
  EXPECT_EQ(april.log, "a.21");
  EXPECT_EQ(results.start_file[1], "a.21");
  EXPECT_EQ(results.open_period[1], "2002y");
  EXPECT_EQ(results.start_file[2], "a.22");
  EXPECT_EQ(results.open_period[2], "2002m05");
  EXPECT_EQ(results.start_file[3], "");
  EXPECT_EQ(results.open_period[3], "");
  EXPECT_EQ(error_log_entries(), "");
}

TEST_F(ResultFileTest, CrLfLinesReadAsLfLines) {
  std::string crlf;
  for (const char byte : std::string(kWrittenFile)) {
    if (byte == '\n') crlf += '\r';
    crlf += byte;
  }
  write_file("results.txt", crlf);
  read_results();
  ASSERT_EQ(results.result_lists[2].size(), 1u);
  EXPECT_EQ(results.result_lists[2][0].log, "a.21");
  EXPECT_EQ(results.start_file[2], "a.22");
  EXPECT_EQ(error_log_entries(), "");
}

// Who may read the result file is the operator's choice; a rewrite keeps it.
// A new file may be read by all and written by its owner, less the umask.
TEST_F(ResultFileTest, RewrittenFileKeepsItsPermissionsAndGroup) {
  write_file("results.txt", kWrittenFile);
  ASSERT_EQ(chmod("results.txt", 0600), 0);
  // Only a group of its own may a process give a file; the test's owner
  // has one other than its main group only when it may give any.
  const bool any_group = geteuid() == 0;
  if (any_group) {
    ASSERT_EQ(chown("results.txt", static_cast<uid_t>(-1), 4321), 0);
  }
  write_results();
  struct stat info {};
  ASSERT_EQ(stat("results.txt", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  if (any_group) {
    EXPECT_EQ(info.st_gid, 4321u);
  }

  ASSERT_EQ(unlink("results.txt"), 0);
  const mode_t umask_before = umask(0);
  write_results();
  umask(umask_before);
  ASSERT_EQ(stat("results.txt", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(ResultFileTest, MissingFileLeavesEverythingEmptyWithoutAWord) {
  read_results();
  EXPECT_EQ(console_output(), "");
  for (int mode = 1; mode <= 3; ++mode) {
    EXPECT_TRUE(results.result_lists[mode].empty());
    EXPECT_EQ(results.start_file[mode], "");
  }
}

TEST_F(ResultFileTest, MalformedLinesAreReportedAndSkipped) {
  write_file("results.txt",
             "2002m03: incomplete, files=1, kBytes=1, visits=1, log=early\n"
             "2002w20: complete, files=1, kBytes=1, visits=1, log=a.20\n"
             "{ Unknown }\n"
             "\n"
             "* comment\n"
             "/ comment\n"
             "{ Weeks }\n"
             "2002w21: complete, files=1, kBytes=2, log=a.21\n"
             "2002w2: complete, files=1, kBytes=2, visits=3, log=a.2\n"
             "2002y: complete, files=1, kBytes=2, visits=3, log=a.2\n"
             "2002w22: complete, files=5, kBytes=6, visits=7, log=a.22\n"
             "2002w23: incomplete, files=1, kBytes=1, visits=1, log=a.23\n"
             "2002w24: incomplete, files=1, kBytes=1, visits=1, log=a.24\n");
  read_results();
  EXPECT_EQ(take_console_output(),
            "Reading results "
            "info \"2002w20: complete, files=1, kBytes=1, visits=1, log=a.20\" without run mode\n"
            "Incorrect line \"2002w20: complete, files=1, kBytes=1, visits=1, log=a.20\"!\n"
            "Unknown option \"{ Unknown }\"!\n"
            "Incomplete info \"2002w21: complete, files=1, kBytes=2, log=a.21\"!\n"
            "Incorrect line \"2002w2: complete, files=1, kBytes=2, visits=3, log=a.2\"!\n"
            "Incorrect line \"2002y: complete, files=1, kBytes=2, visits=3, log=a.2\"!\n"
            "done.\n");
  EXPECT_EQ(error_log_entries(),
            entry("Info 2002w20: complete, files=1, kBytes=1, visits=1, log=a.20 without "
                  "correct run mode") +
                entry("Incorrect line: 2002w20: complete, files=1, kBytes=1, visits=1, log=a.20") +
                entry("Unknown option { Unknown }") +
                entry("Incomplete info 2002w21: complete, files=1, kBytes=2, log=a.21") +
                entry("Incorrect line: 2002w2: complete, files=1, kBytes=2, visits=3, log=a.2") +
                entry("Incorrect line: 2002y: complete, files=1, kBytes=2, visits=3, log=a.2"));
  // The open period before any section is ignored, and so is every open
  // period after the first of a section.
  EXPECT_EQ(results.start_file[2], "");
  EXPECT_EQ(results.start_file[3], "a.23");
  EXPECT_EQ(results.open_period[3], "2002w23");
  EXPECT_EQ(names(3), std::vector<std::string>{"2002w22"});
}

TEST_F(ResultFileTest, FiguresAndLogAreReadAtTheirMarkers) {
  write_file("results.txt",
             "{ Weeks, Monthes }\n"  // the first name in table order wins
             "2002m01: complete, files=  12, kBytes=x9, visits=007, log= access log 3 \n"
             "2002m02: complete, files=3, kBytes=18446744073709551617, visits=1, log=b\n");
  read_results();
  ASSERT_EQ(results.result_lists[2].size(), 2u);
  const ResultEntry& january = results.result_lists[2][0];
  EXPECT_EQ(january.files, 12);
  EXPECT_EQ(january.kbytes, 0);  // a letter after the marker gives no digits
  EXPECT_EQ(january.visits, 7);
  EXPECT_EQ(january.log, " access log 3 ");
  EXPECT_EQ(results.result_lists[2][1].kbytes, 1);  // wraps at 64 bits
}

TEST_F(ResultFileTest, LaterDuplicateReplacesValuesAtTheFirstPosition) {
  write_file("results.txt",
             "{ Weeks }\n"
             "2002w21: complete, files=1, kBytes=1, visits=1, log=a.21\n"
             "2002w22: complete, files=2, kBytes=2, visits=2, log=a.22\n"
             "2002w21: complete, files=9, kBytes=8, visits=7, log=b.21\n");
  read_results();
  ASSERT_EQ(names(3), (std::vector<std::string>{"2002w21", "2002w22"}));
  const ResultEntry& first = results.result_lists[3][0];
  EXPECT_EQ(first.files, 9);
  EXPECT_EQ(first.kbytes, 8);
  EXPECT_EQ(first.visits, 7);
  EXPECT_EQ(first.log, "b.21");
}

TEST_F(ResultFileTest, RecordResultTakesTheListTotalsAndUpdatesInPlace) {
  EntryValues& staged = lists.current_entry;
  staged = EntryValues{"/a.html", "", 1, 0, 1, 3000000000};
  list_add(kFiles);
  staged.key = "/b.html";
  list_add(kFiles);
  staged.key = "192.0.2.1";
  list_add(kClients);
  record_result(2, "2002m04", false, "a.21");
  record_result(2, "2002m05", false, "a.22");
  ASSERT_EQ(names(2), (std::vector<std::string>{"2002m04", "2002m05"}));
  const ResultEntry& april = results.result_lists[2][0];
  EXPECT_EQ(april.files, 2);
  EXPECT_EQ(april.kbytes, 6000000000);
  EXPECT_EQ(april.visits, 1);

  clear_period_lists();
  record_result(2, "2002m04", true, "a.20");
  ASSERT_EQ(names(2), (std::vector<std::string>{"2002m04", "2002m05"}));
  EXPECT_TRUE(april.complete);
  EXPECT_EQ(april.files, 0);
  EXPECT_EQ(april.log, "a.20");
}

TEST_F(ResultFileTest, FailedWriteKeepsThePreviousFileAndEndsWith74) {
  write_file("results.txt", kWrittenFile);
  add_entry(3, "2002w21", true, 1, 2, 3, "a.21");
  // A file size limit makes the write of the temporary file fail.
  EXPECT_EQ(stop_of_with_file_limit(16, [] { write_results(); }).exit_status, kExitIoError);
  EXPECT_EQ(read_file("results.txt"), kWrittenFile);
  std::vector<std::string> left;
  for (const auto& item : std::filesystem::directory_iterator(".")) {
    left.push_back(item.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"errlog.txt", "results.txt"}));
}

TEST_F(ResultFileTest, UnreadableFileEndsWith74) {
  ASSERT_EQ(mkdir("results.txt", 0755), 0);
  try {
    read_results();
    FAIL() << "read_results went on";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line, "Cannot read results.txt: Is a directory");
  }
}

}  // namespace
}  // namespace sorvik
