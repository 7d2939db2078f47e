#include "base/error_log.h"

#include <sys/stat.h>

#include <functional>
#include <string>

#include "base/run_stop.h"
#include "base/settings.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class ErrorLogTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.errlog_file = "err.txt";
  }

  static LocalTime at(int hour, int minute, int second) {
    LocalTime t = test_time();
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
  }
};

TEST_F(ErrorLogTest, SessionIsAppendedWithFrameAndBothEntryForms) {
  const std::string earlier = "**** Starting session 20261206 - 101112 ****\n\n";
  write_file("err.txt", earlier);
  error_log_open();
  EXPECT_TRUE(error_log.open);
  EXPECT_EQ(take_console_output(), "Errorlog err.txt ... ok.\n");
  set_time(at(9, 5, 7));
  error_log_entry("", "Warning! DNS not available");
  error_log_entry("logs/access.1", "Unknown command in line 3: POST");
  error_log_entry("", "Stopped by user action!");  // a closing "!" is added anyway
  set_time(at(23, 59, 59));
  error_log_close();
  EXPECT_FALSE(error_log.open);
  EXPECT_EQ(console_output(), "Errorlog err.txt ... ok.\n");
  EXPECT_EQ(read_file("err.txt"), earlier +
                                      "**** Starting session 20261207 - 101112 ****\n"
                                      "090507: Warning! DNS not available!\n"
                                      "090507: Error in file logs/access.1!\n"
                                      "        Unknown command in line 3: POST!\n"
                                      "090507: Stopped by user action!!\n"
                                      "***** Ending session 20261207 - 235959 *****\n"
                                      "\n");
}

TEST_F(ErrorLogTest, StampAtExactlyMidnightLeavesOutTheTime) {
  set_time(at(0, 0, 0));
  error_log_open();
  error_log_entry("", "x");
  set_time(at(0, 0, 1));
  error_log_close();
  EXPECT_EQ(read_file("err.txt"),
            "**** Starting session 20261207 - ****\n"
            "000000: x!\n"
            "***** Ending session 20261207 - 000001 *****\n"
            "\n");
}

TEST_F(ErrorLogTest, NothingIsWrittenWhileClosed) {
  error_log_entry("", "dropped");
  error_log_close();
  EXPECT_FALSE(file_exists("err.txt"));
  EXPECT_EQ(console_output(), "");
  error_log_open();
  error_log_close();
  error_log_entry("", "dropped too");
  error_log_close();
  EXPECT_EQ(read_file("err.txt").find("dropped"), std::string::npos);
  EXPECT_EQ(console_output(), "Errorlog err.txt ... ok.\nErrorlog err.txt ... ok.\n");
}

// Read back while the log is still open: entries reach the file at once.
TEST_F(ErrorLogTest, SourceAndTextAreCutBeforeTheClosingMark) {
  error_log_open();
  error_log_entry(std::string(300, 's'), std::string(300, 't'));
  error_log_entry("", std::string(300, 'u'));
  EXPECT_EQ(read_file("err.txt"),
            "**** Starting session 20261207 - 101112 ****\n"
            "101112: Error in file " +
                std::string(255, 's') + "!\n" + "        " + std::string(255, 't') + "!\n" +
                "101112: " + std::string(255, 'u') + "!\n");
}

// The entries of a batch wait and then reach the file together, as they
// stand; those of a batch never finished (a stopped run) go with the next
// entry written at once, or when the log is closed.
TEST_F(ErrorLogTest, BatchedEntriesReachTheFileTogether) {
  error_log_open();
  const std::string head = "**** Starting session 20261207 - 101112 ****\n";
  const std::string batched =
      "101112: Error in file a.log!\n"
      "        Unknown command in line 1: POST!\n"
      "101112: two!\n";
  {
    ErrorLogBatch batch;
    error_log_entry("a.log", "Unknown command in line 1: POST");
    error_log_entry("", "two");
    EXPECT_EQ(read_file("err.txt"), head);
    batch.finish();
    EXPECT_EQ(read_file("err.txt"), head + batched);
  }
  {
    ErrorLogBatch stopped;
    error_log_entry("", "three");
  }
  EXPECT_EQ(read_file("err.txt"), head + batched);
  error_log_entry("", "four");
  EXPECT_EQ(read_file("err.txt"), head + batched + "101112: three!\n101112: four!\n");
}

TEST_F(ErrorLogTest, OpenAndWriteFailuresAreIoFailures) {
  ASSERT_EQ(mkdir("err.txt", 0755), 0);
  const RunStop stop = stop_of([] { error_log_open(); });
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_EQ(stop.console_line, "Cannot open err.txt: Is a directory");
  EXPECT_FALSE(error_log.open);
  settings.errlog_file = "no/such/dir/err.txt";
  EXPECT_EQ(stop_of([] { error_log_open(); }).console_line,
            "Cannot open no/such/dir/err.txt: No such file or directory");
  if (!file_exists("/dev/full")) return;
  settings.errlog_file = "/dev/full";
  EXPECT_EQ(stop_of([] { error_log_open(); }).console_line,
            "Cannot write /dev/full: No space left on device");
}

}  // namespace
}  // namespace sorvik
