// The fixture of the log-reading tests: a fresh run with its error log open,
// the console taken, an empty "logs" folder, and the reader reset after
// each test.
#ifndef SORVIK_TESTS_LOGS_LOG_READING_FIXTURE_H_
#define SORVIK_TESTS_LOGS_LOG_READING_FIXTURE_H_

#include <sys/stat.h>

#include "base/error_log.h"
#include "base/settings.h"
#include "logs/log_reader.h"
#include "support/test_support.h"

namespace sorvik {

class LogReadingTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.errlog_file = "errlog.txt";
    error_log_open();
    take_console_output();
    ASSERT_EQ(mkdir("logs", 0755), 0);
  }
  void TearDown() override {
    reset_log_reader();
    SorvikTest::TearDown();
  }
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_LOGS_LOG_READING_FIXTURE_H_
