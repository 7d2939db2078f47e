#include "analysis/run_modes.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "analysis/log_record.h"
#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "driver/result_file.h"
#include "logs/log_reader.h"
#include "stats/counted_list.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// One log line of a page request at `when` ("dd/Mon/yyyy:hh:mm:ss").
std::string line(const std::string& when, const std::string& request = "GET /index.html HTTP/1.0",
                 const std::string& size = "2048", const std::string& client = "192.0.2.1") {
  return client + " - - [" + when + " +0100] \"" + request + "\" 200 " + size +
         " www.example.org \"-\" \"Mozilla/5.0\"\n";
}

class RunModesTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages(43);
    messages[1] = "Bad time: ";
    messages[10] = "Run";
    messages[11] = "Reading";
    messages[12] = " records";
    messages[18] = "done.";
    set_group_lines(kMessages, messages);
    settings.log_dir = "logs/";
    settings.target_dir = "reports";
    settings.html_out = false;
    settings.html_week = settings.html_month = settings.html_year = false;
    settings.results_file = "results.txt";
    settings.errlog_file = "errlog.txt";
    ASSERT_EQ(mkdir("logs", 0755), 0);
    ASSERT_EQ(mkdir("reports", 0755), 0);
    error_log_open();
    resolver_.install();
    take_console_output();
  }
  void TearDown() override {
    reset_log_reader();
    SorvikTest::TearDown();
  }

  void write_logs(const std::vector<std::pair<std::string, std::string>>& files) {
    analysis.log_files.clear();
    for (const auto& [name, content] : files) {
      write_file("logs/" + name, content);
      analysis.log_files.push_back(name);
    }
  }

  // The result entries of a run mode as "name complete|open files log".
  static std::vector<std::string> entries(int mode) {
    std::vector<std::string> list;
    for (const ResultEntry& e : results.result_lists[mode]) {
      list.push_back(e.name + (e.complete ? " complete " : " open ") + std::to_string(e.files) +
                     " " + e.log);
    }
    return list;
  }

  // Runs `run` expecting it to stop; returns the stop's exit status.
  template <typename Run>
  static int stop_status(Run run) {
    try {
      run();
    } catch (const RunStop& stop) {
      EXPECT_TRUE(stop.wait_for_key);
      return stop.exit_status;
    }
    return -1;
  }

  FakeResolver resolver_;
};

using Lines = std::vector<std::string>;

TEST_F(RunModesTest, TwoDigitsPadsAndNamesTheUnknownMonth) {
  EXPECT_EQ(two_digits(0), "mm");
  EXPECT_EQ(two_digits(5), "05");
  EXPECT_EQ(two_digits(12), "12");
}

TEST_F(RunModesTest, WeeksRecordEveryFileAndLeaveTheLastOpen) {
  write_logs({{"a.21", line("20/May/2002:10:00:00") + line("21/May/2002:10:00:00") +
                           line("22/May/2002:10:00:00")},
              {"a.22", line("27/May/2002:10:00:00")},
              {"a.23", line("03/Jun/2002:10:00:00") + line("04/Jun/2002:10:00:00")}});
  run_weeks(RunSink{});
  EXPECT_EQ(entries(kModeWeeks),
            (Lines{"2002w21 complete 3 a.21", "2002w22 complete 1 a.22", "2002w23 open 2 a.23"}));
  const std::string console = console_output();
  EXPECT_EQ(console.substr(0, console.find("Reading")), "Run W\nStart: 1 File: a.21 Startfile: \n");
  // Records are numbered from 0, so the count shown is one less.
  EXPECT_NE(console.find("Reading a.21 ... 2 records\n"), std::string::npos);
  EXPECT_NE(console.find("Reading a.22 ... 0 records\n"), std::string::npos);
  EXPECT_TRUE(file_exists("reports/2002w23.txt"));
}

TEST_F(RunModesTest, EmptyWeeklyFileNamesItsOwnWeek) {
  write_logs({{"a.21", line("20/May/2002:10:00:00")},
              {"a.22", ""},
              {"a.23", line("03/Jun/2002:10:00:00")}});
  run_weeks(RunSink{});
  EXPECT_EQ(entries(kModeWeeks),
            (Lines{"2002w21 complete 1 a.21", "2002w22 complete 0 a.22", "2002w23 open 1 a.23"}));
  EXPECT_NE(console_output().find("Reading a.22 ... -1 records\n"), std::string::npos);
  EXPECT_TRUE(file_exists("reports/2002w22.txt"));
}

TEST_F(RunModesTest, CompressedWeeklyFileNamesTheWeekBeforeItsEnding) {
  write_logs({{"a.22", line("27/May/2002:10:00:00")}, {"a.23.gz", line("03/Jun/2002:10:00:00")}});
  run_weeks(RunSink{});
  EXPECT_EQ(entries(kModeWeeks), (Lines{"2002w22 complete 1 a.22", "2002w23 open 1 a.23.gz"}));
  EXPECT_TRUE(file_exists("reports/2002w23.txt"));
}

TEST_F(RunModesTest, WeeksCountFromZeroAndMonthsFromOne) {
  write_logs({{"a.21", line("20/May/2002:10:00:00", "POST /form HTTP/1.0")}});
  run_weeks(RunSink{});
  run_months(RunSink{});
  // The status code, unknown here, is reported at the flush with the
  // counter's value then.
  const std::string entry = "101112: Error in file logs/a.21!\n        Unknown ";
  EXPECT_EQ(error_log_entries(),
            entry + "command in line 0: POST!\n" + entry + "return code in line 0: 200!\n" + entry +
                "command in line 1: POST!\n" + entry + "return code in line 1: 200!\n");
}

TEST_F(RunModesTest, ResumeAcrossTwoRunsWithAppendedLogs) {
  write_logs({{"a.21", line("20/May/2002:10:00:00") + line("21/May/2002:10:00:00")},
              {"a.22", line("31/May/2002:10:00:00") + line("01/Jun/2002:10:00:00")},
              {"a.23", line("03/Jun/2002:10:00:00")}});
  run_weeks(RunSink{});
  run_months(RunSink{});
  write_results();
  std::remove("reports/2002w21.txt");

  // The next program run, after a.23 grew and a.24 appeared.
  reset_results();
  reset_analysis();
  write_logs({{"a.21", read_file("logs/a.21")},
              {"a.22", read_file("logs/a.22")},
              {"a.23", read_file("logs/a.23") + line("04/Jun/2002:10:00:00")},
              {"a.24", line("10/Jun/2002:10:00:00") + line("01/Jul/2002:10:00:00")}});
  read_results();
  take_console_output();
  run_weeks(RunSink{});
  EXPECT_EQ(console_output().substr(0, console_output().find("Reading")),
            "Run W\nStart: 3 File: a.23 Startfile: a.23\n");
  run_months(RunSink{});
  write_results();
  EXPECT_EQ(read_file("results.txt"),
            "# Results of sorvik analysis #\n"
            "{ Years }\n"
            "{ Monthes }\n"
            "2002m05: complete, files=3, kBytes=6, visits=3, log=a.21\n"
            "2002m06: complete, files=4, kBytes=8, visits=4, log=a.22\n"
            "2002m07: incomplete, files=1, kBytes=2, visits=1, log=a.24\n"
            "{ Weeks }\n"
            "2002w21: complete, files=2, kBytes=4, visits=2, log=a.21\n"
            "2002w22: complete, files=2, kBytes=4, visits=2, log=a.22\n"
            "2002w23: complete, files=2, kBytes=4, visits=2, log=a.23\n"
            "2002w24: incomplete, files=2, kBytes=4, visits=2, log=a.24\n");
  // Periods before the start file are neither read nor written again.
  EXPECT_FALSE(file_exists("reports/2002w21.txt"));
}

TEST_F(RunModesTest, MonthsFlushAprilBeforeTheFirstMayRecord) {
  write_logs({{"a.18", line("30/Apr/2002:22:00:00") + line("30/Apr/2002:23:00:00") +
                           line("01/May/2002:00:10:00") + line("01/May/2002:02:00:00") +
                           line("01/May/2002:03:00:00")}});
  run_months(RunSink{});
  EXPECT_EQ(entries(kModeMonths), (Lines{"2002m04 complete 2 a.18", "2002m05 open 3 a.18"}));
  EXPECT_TRUE(file_exists("reports/2002m04.txt"));
}

TEST_F(RunModesTest, MonthsResumeAtTheOpenPeriod) {
  results.start_file[kModeMonths] = "a.18";
  results.open_period[kModeMonths] = "2002m05";
  // The April record's bad size would stop the run if it were analysed.
  write_logs({{"a.17", "not read at all\n"},
              {"a.18", line("30/Apr/2002:22:00:00", "GET / HTTP/1.0", "12a") +
                           line("01/May/2002:00:10:00") + line("02/May/2002:00:10:00")}});
  run_months(RunSink{});
  EXPECT_EQ(entries(kModeMonths), Lines{"2002m05 open 2 a.18"});
  EXPECT_FALSE(file_exists("reports/2002m04.txt"));
  EXPECT_EQ(console_output().substr(0, console_output().find("Reading")),
            "Run M\nFile: a.18 Startfile: a.18\n");
}

TEST_F(RunModesTest, MonthChangeAloneCutsPeriods) {
  write_logs({{"a.18", line("30/Apr/2002:22:00:00") + line("02/May/2002:10:00:00") +
                           line("03/Apr/2002:10:00:00") + line("04/Apr/2002:10:00:00") +
                           line("05/May/2003:10:00:00") + line("06/May/2003:10:00:00") +
                           line("07/May/2004:10:00:00") + line("01/Jun/2004:10:00:00")}});
  run_months(RunSink{});
  // A second April replaces the first one's entry; May 2003 and May 2004
  // continue the period that May 2003 began.
  EXPECT_EQ(entries(kModeMonths), (Lines{"2002m04 complete 2 a.18", "2002m05 complete 1 a.18",
                                         "2003m05 complete 3 a.18", "2004m06 open 1 a.18"}));
}

// Servers log a request when it ends, stamped with its start: a record of
// the month before, at most an hour before the new month's first record,
// is counted in the new month instead of reopening the old one; one an hour
// and a second before reopens it.
TEST_F(RunModesTest, ARecordLoggedLateAtAMonthsEndIsCountedInTheNewMonth) {
  write_logs({{"a.18", line("30/Apr/2002:22:00:00") + line("30/Apr/2002:23:00:00") +
                           line("01/May/2002:00:00:10") + line("30/Apr/2002:23:59:58") +
                           line("01/May/2002:02:00:00") + line("30/Apr/2002:23:00:10")}});
  run_months(RunSink{});
  EXPECT_EQ(entries(kModeMonths), (Lines{"2002m04 complete 2 a.18", "2002m05 open 4 a.18"}));

  reset_results();
  write_logs({{"a.18", line("30/Apr/2002:23:00:00") + line("01/May/2002:00:00:10") +
                           line("30/Apr/2002:23:00:09") + line("01/May/2002:02:00:00")}});
  run_months(RunSink{});
  EXPECT_EQ(entries(kModeMonths), (Lines{"2002m04 complete 1 a.18", "2002m05 open 1 a.18"}));
}

// The same at a year's end, where the late record is the first of the next
// file and the last record read: the open period keeps its own name.
TEST_F(RunModesTest, ARecordLoggedLateAtAYearsEndIsCountedInTheNewYear) {
  write_logs({{"a.52", line("31/Dec/2002:23:30:00") + line("01/Jan/2003:00:00:05")},
              {"a.53", line("31/Dec/2002:23:59:59") + line("01/Jan/2003:01:00:00") +
                           line("31/Dec/2002:23:40:00")}});
  run_years(RunSink{});
  EXPECT_EQ(entries(kModeYears), (Lines{"2002y complete 1 a.52", "2003y open 4 a.52"}));
  EXPECT_EQ(analysis.year_text, "2003");
}

TEST_F(RunModesTest, YearsChangeInsideAFileAndAcrossFiles) {
  write_logs({{"a.52", line("30/Dec/2002:10:00:00") + line("01/Jan/2003:10:00:00")},
              {"a.53", line("31/Dec/2003:10:00:00")},
              {"a.54", line("01/Jan/2004:10:00:00")}});
  run_years(RunSink{});
  EXPECT_EQ(entries(kModeYears),
            (Lines{"2002y complete 1 a.52", "2003y complete 2 a.52", "2004y open 1 a.54"}));
  EXPECT_EQ(console_output().substr(0, console_output().find("Reading")),
            "Run Y\nFile: a.52 Startfile: \n");
}

TEST_F(RunModesTest, BadYearTextEndsTheRunEvenOutsideTheOpenPeriod) {
  results.open_period[kModeMonths] = "2099m01";
  results.open_period[kModeYears] = "2099y";
  for (const std::string year : {"2O02", "/../"}) {
    write_logs({{"a.18", line("30/Apr/2002:22:00:00") + line("30/Apr/" + year + ":23:00:00")}});
    for (auto run : {run_months, run_years}) {
      take_console_output();
      EXPECT_EQ(stop_status([run] { run(RunSink{}); }), kExitBadTime) << year;
      const std::string console = take_console_output();
      EXPECT_EQ(console.substr(console.find("Reading")),
                "Reading a.18 ... \nLine: 2\nBad time: [30/Apr/" + year + ":23:00:00\n");
      reset_log_reader();
    }
    EXPECT_TRUE(results.result_lists[kModeMonths].empty());
    EXPECT_TRUE(results.result_lists[kModeYears].empty());
  }
  const std::string entry =
      "101112: Error in file logs/a.18!\n        Time: Ip=192.0.2.1, x2=-, x3=-, time=[30/Apr/";
  EXPECT_EQ(error_log_entries(), entry + "2O02:23:00:00!\n" + entry + "2O02:23:00:00!\n" + entry +
                                     "/../:23:00:00!\n" + entry + "/../:23:00:00!\n");
}

TEST_F(RunModesTest, RunThatReadsNoRecordNamesItsPeriodByTheYearAlone) {
  analysis.year_text = "2002";
  write_logs({{"a.21", ""}, {"a.22", ""}});
  run_months(RunSink{});
  run_years(RunSink{});
  EXPECT_EQ(entries(kModeMonths), Lines{"2002m open 0 a.21"});
  EXPECT_EQ(entries(kModeYears), Lines{"2002y open 0 a.21"});
}

TEST_F(RunModesTest, NoFileAtOrAfterTheStartFileReadsNothing) {
  results.start_file[kModeWeeks] = "b";
  write_logs({{"a.21", line("20/May/2002:10:00:00")}});
  run_weeks(RunSink{});
  EXPECT_EQ(console_output(), "Run W\nStart: 2 File:  Startfile: b\n");
  EXPECT_TRUE(results.result_lists[kModeWeeks].empty());
}

}  // namespace
}  // namespace sorvik
