// Whole runs of the analyzer, in process: a scripted resolver and a fixed
// clock make every byte of the console and of every written file repeatable,
// so two consecutive runs over a small log folder are compared with golden
// transcripts (tests/driver/golden/). Set SORVIK_UPDATE_GOLDEN=1 to rewrite
// them after an intended change, and read the difference before committing.
#include "driver/program.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/run_stop.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

namespace fs = std::filesystem;

const std::string kSource = SORVIK_SOURCE_DIR;

// The whole-run configuration without the week and year pages.
const std::string kConfiguration = "# Test run: every output below out/\n" +
                                   whole_run_configuration() +
                                   "no_html_week=yes\n"
                                   "no_html_year=yes\n";

// One access-log line in the eleven-field format.
std::string log_line(const std::string& client, const std::string& time, const std::string& request,
                     const std::string& status, const std::string& size,
                     const std::string& referrer, const std::string& agent) {
  return client + " - - [" + time + " +0100] \"" + request + "\" " + status + " " + size +
         " www.example.org \"" + referrer + "\" \"" + agent + "\"\n";
}

const char kFirefox[] = "Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0";
const char kChrome[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";
const char kBot[] = "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)";
const char kOdd[] = "FetchThing 0.1 (homebrew)";

// Week 49 of 2026 runs from Monday 30 November: it spans a month boundary.
std::string week_49() {
  return log_line("192.0.2.10", "30/Nov/2026:09:15:02", "GET / HTTP/1.1", "200", "5120", "-",
                  kFirefox) +
         log_line("192.0.2.10", "30/Nov/2026:09:15:03", "GET /img/logo.gif HTTP/1.1", "200", "2048",
                  "http://www.example.org/", kFirefox) +
         log_line("192.0.2.10", "30/Nov/2026:10:05:00", "GET /docs/guide.html HTTP/1.1", "200",
                  "10240", "http://www.example.org/", kFirefox) +
         log_line("198.51.100.7", "30/Nov/2026:23:59:59", "GET /photos/a.jpg HTTP/1.1", "200",
                  "40000", "http://elsewhere.example/list?x=1&q=ignored", kChrome) +
         log_line("198.51.100.7", "01/Dec/2026:00:00:10", "GET /docs/ HTTP/1.1", "200", "3000",
                  "http://search.example/find?q=log+analyzer%21&lang=en", kChrome) +
         "this line has too few fields\n" +
         log_line("203.0.113.5", "01/Dec/2026:08:00:00", "GET /missing.html HTTP/1.1", "404", "-",
                  "-", kBot) +
         log_line("203.0.113.5", "01/Dec/2026:08:00:01", "POST /cgi-bin/form HTTP/1.1", "200",
                  "512", "-", kBot) +
         log_line("192.0.2.10", "02/Dec/2026:12:00:00", "GET /docs/guide.html HTTP/1.1", "304", "0",
                  "http://other.example/links.html", kFirefox);
}

std::string week_50() {
  return log_line("192.0.2.11", "07/Dec/2026:07:30:00", "GET /index.html HTTP/1.1", "200", "5120",
                  "http://www.example.org/docs/guide.html", kOdd) +
         log_line("192.0.2.11", "07/Dec/2026:07:31:00", "GET /<script>x</script> HTTP/1.1", "404",
                  "300", "-", kOdd) +
         log_line("198.51.100.7", "08/Dec/2026:18:00:00", "GET /docs/guide.html HTTP/1.1", "200",
                  "10240", "http://search.example/find?query=r%C3%A9sum%E9", kChrome);
}

std::string week_50_appended() {
  return log_line("192.0.2.11", "09/Dec/2026:07:30:00", "GET /index.html HTTP/1.1", "599", "1536",
                  "-", kOdd);
}

std::string week_51() {
  return log_line("192.0.2.10", "14/Dec/2026:10:00:00", "GET /docs/guide.html HTTP/1.1", "200",
                  "10240", "-", kFirefox) +
         log_line("203.0.113.5", "14/Dec/2026:11:00:00", "GET /robots.txt HTTP/1.1", "200", "70",
                  "-", kBot);
}

class ProgramTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    make_whole_run_folders();
    // A copy, so that no path of the source tree shows in the transcripts.
    fs::copy_file(kSource + "/examples/english.lng", "english.lng");
    write_file("sorvik.conf", kConfiguration);
    resolver_.answer("8.8.8.8", "dns.example");
    resolver_.answer("192.0.2.10", "dsl-10.provider.example.DE");
    resolver_.answer("198.51.100.7", "gw.campus.example.edu");
    resolver_.install();
  }

  // The console and every file below out/, in name order, as one text.
  std::string transcript() {
    return "=== console\n" + take_console_output() +
           output_transcript({"out/browsers.lst", "out/opsys.lst"});
  }

  void expect_golden(const std::string& name, const std::string& actual) {
    const std::string path = kSource + "/tests/driver/golden/" + name;
    if (std::getenv("SORVIK_UPDATE_GOLDEN") != nullptr) write_file(path, actual);
    const std::string expected = read_file(path);
    ASSERT_FALSE(expected.empty()) << "missing golden file " << path;
    EXPECT_EQ(actual, expected) << "run differs from " << path;
  }

  FakeResolver resolver_;
};

TEST_F(ProgramTest, TwoRunsOverGrowingLogsMatchTheirTranscripts) {
  write_file("logs/access.49", week_49());
  write_file("logs/access.50", week_50());
  set_keys("x");
  ASSERT_EQ(run_program({"sorvik.conf"}), kExitNormal);
  expect_golden("first_run.txt", transcript());

  // The next run resumes at the open week and month; the closed week 49 and
  // November keep their pages and result entries.
  write_file("logs/access.50", week_50() + week_50_appended());
  write_file("logs/access.51", week_51());
  set_time(LocalTime{2026, 12, 15, 6, 0, 0, 0});
  set_keys("x");
  ASSERT_EQ(run_program({"sorvik.conf"}), kExitNormal);
  expect_golden("second_run.txt", transcript());
}

TEST_F(ProgramTest, AnswersToTheDnsQuestion) {
  write_file("logs/access.49", week_49());
  resolver_.fail("8.8.8.8");

  // Keys other than J, Y and N are ignored; "n" stops at once without
  // touching the result or host-name files.
  set_keys("?xn");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitOperatorStop);
  const std::string stopped = take_console_output();
  EXPECT_NE(stopped.find("(Y/N) stopped.\n"), std::string::npos) << stopped;
  EXPECT_EQ(stopped.find("Elapsed"), std::string::npos);
  EXPECT_FALSE(file_exists("out/results.txt"));
  EXPECT_FALSE(file_exists("out/host.dat"));
  const std::string log = read_file("out/errlog.txt");
  EXPECT_NE(log.find("101112: Warning! DNS not available!\n101112: Stopped by user action!\n"
                     "***** Ending session 20261207 - 101112 *****\n\n"),
            std::string::npos)
      << log;

  // At the end of input the run stops like "N", with its own entry.
  set_keys("");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitOperatorStop);
  EXPECT_NE(read_file("out/errlog.txt").find("Stopped: no answer at end of input!\n"),
            std::string::npos);

  // "y" goes on; without a working check the cache is not saved.
  set_keys("y");
  take_console_output();
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitNormal);
  EXPECT_TRUE(file_exists("out/results.txt"));
  EXPECT_FALSE(file_exists("out/host.dat"));
}

TEST_F(ProgramTest, ConfigurationThatLeavesNothingToAnalyseEndsWithStatus3) {
  // Without a language file the run ends after its two lines, with the
  // elapsed-time line and the key wait (their texts are not loaded yet).
  write_file("sorvik.conf", "logfiles=logs/access.*\ntargetdir=out\n");
  set_keys("x");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitFileNotCreated);
  EXPECT_TRUE(take_console_output().ends_with("Keine Sprachdatei gefunden! Abbruch!\n 0\n\n"));
  EXPECT_EQ(console_read_key(), -1);  // the one key was waited for

  write_file("sorvik.conf",
             "logfiles=logs/access.*\nLang_file=english.lng\nBrowser=out/browsers.lst\n"
             "OpSys=out/opsys.lst\nResults=r.txt\nErrlogfile=e.txt\n");
  set_keys("x");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitFileNotCreated);
  const std::string console = take_console_output();
  EXPECT_TRUE(
      console.ends_with("Config variable targetdir missing! Nothing analysed!\n"
                        "Konfigurationsbezeichner targetdir fehlt! Nichts analysiert!\n"
                        "Elapsed time in seconds: 0\nPress any key to end the program.\n"))
      << console;
  EXPECT_FALSE(file_exists("e.txt"));  // the error log is never opened
  EXPECT_EQ(console_read_key(), -1);
}

TEST_F(ProgramTest, RunThatPassesMidnightCountsOnIntoTheNextDay) {
  // The clock reads 23:59:59 at the start and 00:00:01 at the end.
  clock_state.readings = {LocalTime{2026, 12, 7, 23, 59, 59, 0}, LocalTime{2026, 12, 8, 0, 0, 1, 0}};
  write_file("sorvik.conf", "Lang_file=english.lng\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitFileNotCreated);
  EXPECT_NE(take_console_output().find("Elapsed time in seconds: 2\n"), std::string::npos);
}

// A named pipe among the matching entries once held the run (and its lock)
// forever, and a directory ended every run: the run now leaves them out, says
// so in the error log first, and analyses the files. It runs in a child
// process, so that a run that hangs fails the test instead of holding it.
TEST_F(ProgramTest, EntriesThatAreNoLogFilesAreSkippedWithoutHanging) {
  write_file("logs/access.49", week_49());
  ASSERT_EQ(mkfifo("logs/access.50", 0644), 0);
  fs::create_directories("logs/access.51");
  set_keys("x");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(run_program({"sorvik.conf"}));
  int status = 0;
  for (int waited = 0; waitpid(child, &status, WNOHANG) == 0; ++waited) {
    if (waited == 300) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "the run did not end within 30 seconds";
    }
    usleep(100000);
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitNormal);
  const std::string log = read_file("out/errlog.txt");
  const std::string skipped =
      "101112: Error in file logs/access.50!\n        Not a regular file, skipped!\n"
      "101112: Error in file logs/access.51!\n        Not a regular file, skipped!\n";
  EXPECT_EQ(log.substr(log.find('\n') + 1, skipped.size()), skipped) << log;
  EXPECT_NE(read_file("out/results.txt").find("2026w49: incomplete"), std::string::npos);
}

TEST_F(ProgramTest, IoFailureEndsWithOneLineAndStatus74) {
  fs::create_directories("conf.d");
  EXPECT_EQ(run_program({"conf.d"}), kExitIoError);
  const std::string console = take_console_output();
  EXPECT_NE(console.find("\nCannot read conf.d: Is a directory\n"), std::string::npos) << console;
}

}  // namespace
}  // namespace sorvik
