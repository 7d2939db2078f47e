// Whole runs with the months and years runs counted ahead in child processes
// against the same runs with each mode reading the files in its turn: the
// console, the error log, every report and every state file must be the
// same byte for byte, also when a run resumes, and when a later mode stops
// the run.
#include "workers/mode_worker.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "analysis/log_record.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "driver/program.h"
#include "support/fake_resolver.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

namespace fs = std::filesystem;

const std::string kSource = SORVIK_SOURCE_DIR;

// A request of the runs' logs: of www.example.org, referred by its index
// page, 2048 bytes.
std::string log_line(const std::string& client, const std::string& time, const std::string& request,
                     const std::string& status = "200",
                     const std::string& agent = "Mozilla/5.0 (X11; Linux x86_64) Firefox/133.0") {
  return log_line(LogLine{.client = client,
                          .time = time,
                          .request = request,
                          .status = status,
                          .size = "2048",
                          .referrer = "http://www.example.org/index.html",
                          .agent = agent});
}

// The lines of `text` that hold `marker`, whole, in their order.
std::vector<std::string> lines_with(const std::string& text, const std::string& marker) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.find(marker) != std::string::npos) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}
using Lines = std::vector<std::string>;

// Two months in the first file, a year's end in the last, and the lines each
// run reports: a malformed line, an unknown method, an unknown return code
// and agents no pattern knows. A client crosses the month's end within a
// visit, first with an image, then with a page: one period sees one visit
// and no entry page, the other a new client entering by that page.
std::string week_48() {
  return log_line("192.0.2.10", "29/Nov/2026:10:00:00", "GET /index.html HTTP/1.1") +
         log_line("192.0.2.99", "30/Nov/2026:23:55:00", "GET /img/x.gif HTTP/1.1") +
         log_line("192.0.2.99", "01/Dec/2026:00:05:00", "GET /docs/c.html HTTP/1.1") +
         "a malformed line\n" +
         log_line("198.51.100.7", "30/Nov/2026:23:50:00", "POST /form.cgi HTTP/1.1") +
         log_line("192.0.2.10", "01/Dec/2026:00:10:00", "GET /docs/a.html HTTP/1.1", "299") +
         log_line("203.0.113.5", "01/Dec/2026:09:00:00", "GET /img/logo.gif HTTP/1.1", "200",
                  "UnknownCrawler/0.1");
}

// "Dex" reads as December too, but it begins a new stretch of the file in
// the middle of a visit.
std::string week_49() {
  return log_line("192.0.2.10", "07/Dec/2026:08:00:00", "GET /docs/b.html HTTP/1.1") +
         log_line("198.51.100.7", "08/Dec/2026:12:00:00", "GET /missing.html HTTP/1.1", "404") +
         log_line("198.51.100.7", "08/Dex/2026:12:10:00", "GET /docs/b.html HTTP/1.1") +
         log_line("203.0.113.5", "08/Dec/2026:12:30:00", "HEAD / HTTP/1.1", "304",
                  "UnknownCrawler/0.2");
}

std::string week_53() {
  return log_line("192.0.2.99", "31/Dec/2026:23:50:00", "GET /docs/c.html HTTP/1.1") +
         log_line("192.0.2.99", "01/Jan/2027:00:10:00", "GET /docs/c.html HTTP/1.1") +
         log_line("192.0.2.10", "31/Dec/2026:23:40:00", "GET /index.html HTTP/1.1") +
         log_line("192.0.2.10", "01/Jan/2027:00:20:00", "GET /docs/a.html HTTP/1.1") +
         log_line("198.51.100.7", "02/Jan/2027:10:00:00", "GET /img/photo.jpg HTTP/1.1");
}

class ModeWorkerTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    resolver_.answer("8.8.8.8", "dns.example");
    resolver_.answer("192.0.2.10", "dsl-10.provider.example.DE");
    resolver_.answer("198.51.100.7", "gw.campus.example.edu");
    resolver_.install();
  }

  // Runs `steps` (which write logs and call run) in a fresh folder, with the
  // later modes counted ahead or not; returns everything the runs showed.
  std::string runs(bool count_ahead, const std::function<void()>& steps) {
    // Fresh state, with the test's console, clock and resolver kept.
    const Console test_console = console;
    const std::vector<LocalTime> test_clock = clock_state.readings;
    reset_all_state();
    console = test_console;
    clock_state.readings = test_clock;
    resolver_.install();
    fs::remove_all("logs");
    fs::remove_all("out");
    make_whole_run_folders();
    fs::remove("english.lng");
    fs::copy_file(kSource + "/examples/english.lng", "english.lng");
    write_file("sorvik.conf", whole_run_configuration());
    count_ahead_ = count_ahead;
    record_.clear();
    set_time(test_time());
    take_console_output();
    steps();
    return record_ + output_transcript({"out/browsers.lst", "out/opsys.lst"});
  }

  // One run; its exit status and console join the record.
  void run() {
    worker_tuning.count_ahead = count_ahead_;
    set_keys("x");
    const int status = run_program({"sorvik.conf"});
    record_ += "=== exit " + std::to_string(status) + "\n" + take_console_output();
  }

  // Returns what the runs showed.
  std::string expect_same_either_way(const std::function<void()>& steps) {
    const std::string in_turn = runs(false, steps);
    const std::string ahead = runs(true, steps);
    EXPECT_EQ(ahead, in_turn);
    return ahead;
  }

  FakeResolver resolver_;
  bool count_ahead_ = true;
  std::string record_;
};

TEST_F(ModeWorkerTest, RunsAndResumedRunsAreTheSameWhetherLaterModesCountAhead) {
  expect_same_either_way([&] {
    write_file("logs/access.48", week_48());
    write_file("logs/access.49", week_49());
    run();
    // The next run resumes every mode where it stopped: the open week, the
    // open month begun in an earlier file, the open year.
    write_file("logs/access.49",
               week_49() + log_line("192.0.2.10", "09/Dec/2026:08:00:00", "GET /c.html HTTP/1.1"));
    write_file("logs/access.53", week_53());
    set_time(LocalTime{2027, 1, 4, 6, 0, 0, 0});
    run();
  });
  // Each period with the unknown status code names it, in both runs.
  EXPECT_EQ(lines_with(record_, "Unknown status"),
            Lines(5, "Writing reports Unknown status code 299!"));
  EXPECT_EQ(lines_with(record_, "Unknown browsers"),
            Lines(2, "Unknown browsers: out/browsers.lst.unknown ... 2 entries."));
}

// Counters and keys at their extremes come from a counting child as they
// were counted: sizes of either sign and of magnitudes whose byte sums a
// child still gives exactly (larger ones make the run read the file itself),
// and keys, the latest page among them, cut at 255 bytes.
TEST_F(ModeWorkerTest, ExtremeSizesAndLongestKeysShowTheSameWhetherCountedAhead) {
  const auto line = [](const std::string& client, const std::string& time,
                       const std::string& size) {
    return client + " - - [" + time + " +0100] \"GET /" + std::string(300, 'p') +
           ".html HTTP/1.1\" 200 " + size + " www.example.org \"http://" + std::string(280, 'r') +
           "\" \"" + std::string(270, 'A') + "\"\n";
  };
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48",
               line("192.0.2.10", "29/Nov/2026:10:00:00", "4503599627370496") +
                   line("192.0.2.10", "29/Nov/2026:11:00:00", "-4503599627370497") +
                   line(std::string(300, 'c'), "30/Nov/2026:12:00:00", "-1537") +
                   line("192.0.2.11", "01/Dec/2026:00:10:00", "3000000000"));
    run();
  });
  // The client of 300 bytes, cut, in the week, the month and the year.
  EXPECT_EQ(lines_with(shown, " -1 kB"),
            Lines(3, "   " + std::string(40, 'c') + " ............. -1 kB"));
}

TEST_F(ModeWorkerTest, WithoutYearsAndWithEmptyFilesTheRunsAreTheSame) {
  expect_same_either_way([&] {
    std::string configuration = whole_run_configuration();
    configuration.replace(configuration.find("Analyse_Years=yes"), 17, "Analyse_Years=no");
    write_file("sorvik.conf", configuration);
    write_file("logs/access.47", "");
    write_file("logs/access.48", week_48());
    write_file("logs/access.49", "");
    run();
    run();
  });
}

TEST_F(ModeWorkerTest, AStopThatOnlyALaterModeMeetsEndsTheRunInThatModesTurn) {
  expect_same_either_way([&] {
    write_file("logs/access.48", week_48());
    write_file("logs/access.49", week_49());
    run();
    // The weeks run resumes at access.49 and never reads the bad year; the
    // months run resumes with December, begun in access.48, and stops there.
    write_file("logs/access.48",
               week_48() + log_line("192.0.2.10", "02/Dec/20x6:10:00:00", "GET / HTTP/1.1"));
    run();
  });
  EXPECT_EQ(lines_with(record_, "=== exit"), (Lines{"=== exit 0", "=== exit 4"}));
}

// Records of November logged late among December's: a stretch of them is
// one step of the months run only while all of them are late; one of them
// an hour older than December's first record reopens November, and the run
// then reads that file itself.
TEST_F(ModeWorkerTest, LateRecordsShowTheSameWhetherCountedAhead) {
  expect_same_either_way([&] {
    write_file("logs/access.48", week_48());
    write_file(
        "logs/access.49",
        log_line("192.0.2.10", "30/Nov/2026:23:59:50", "GET /late.html HTTP/1.1") + week_49());
    write_file("logs/access.50",
               log_line("192.0.2.11", "30/Nov/2026:23:59:40", "GET /late.html HTTP/1.1") +
                   log_line("192.0.2.11", "30/Nov/2026:22:00:00", "GET /old.html HTTP/1.1") +
                   week_53());
    run();
  });
}

// A record that stops the weeks run in a file counted by the second
// counting child: that child sends no facts of the file, and the weeks run
// reads the file itself and stops where reading it in turn stops.
TEST_F(ModeWorkerTest, AStopInACountedFileEndsTheWeeksRunThere) {
  std::string bad_size = log_line("192.0.2.10", "08/Dec/2026:13:00:00", "GET / HTTP/1.1");
  bad_size.replace(bad_size.find(" 2048 "), 6, " 12x4 ");
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48", week_48());
    write_file("logs/access.49", week_49() + bad_size + week_49());
    write_file("logs/access.53", week_53());
    run();
  });
  EXPECT_EQ(lines_with(shown, "=== exit"), Lines{"=== exit 5"});
  EXPECT_EQ(lines_with(shown, "Reading access."),
            (Lines{"Reading access.48 ... !!5 entries.", "Reading access.49 ... "}));
}

// A file whose month goes back and forth on every line: its counting child
// gives up on it after a few dozen stretches, and the run reads it itself.
std::string back_and_forth(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += log_line("192.0.2." + std::to_string(i % 7),
                     i % 2 == 0 ? "30/Nov/2026:10:00:00" : "01/Dec/2026:10:00:00",
                     "GET /p" + std::to_string(i % 5) + ".html HTTP/1.1");
  }
  return text;
}

TEST_F(ModeWorkerTest, AFileOfManyStretchesIsReadByTheRunItself) {
  expect_same_either_way([&] {
    write_file("logs/access.48", week_48());
    write_file("logs/access.49", back_and_forth(80));
    write_file("logs/access.50", week_49());
    run();
  });
}

// The weeks run reads such a file itself, and the later modes are left to
// read the files in their turn.
TEST_F(SorvikTest, AFileOfManyStretchesLeavesTheLaterModesToReadTheFiles) {
  fs::create_directories("logs");
  write_file("logs/access.1", back_and_forth(80));
  settings.log_dir = "logs/";
  settings.target_dir = "./";
  settings.html_out = false;
  analysis.log_files = {"access.1"};
  ModeWorkers workers = start_mode_workers({kModeWeeks, kModeMonths}, WorkerTuning{});
  ASSERT_TRUE(play_mode_worker(*workers.list.at(0)));
  EXPECT_FALSE(play_mode_worker(*workers.list.at(1)));
  EXPECT_EQ(lines_with(take_console_output(), " ... "), Lines{" access.1 ... 79"});
}

// Logs rotated daily around a month's end, from day `first` (24 November)
// on, `days` of them: a few requests each, now and then a malformed line.
void write_daily_logs(int first, int days) {
  const auto two_digits = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  for (int day = first; day < first + days; ++day) {
    const int date = 24 + day;
    const std::string stamp =
        date > 30 ? two_digits(date - 30) + "/Dec/2026:" : two_digits(date) + "/Nov/2026:";
    std::string text;
    for (int i = 0; i < 6; ++i) {
      text += log_line(
          "192.0.2." + std::to_string((day + i) % 5), stamp + "1" + std::to_string(i) + ":00:00",
          "GET /docs/p" + std::to_string(day * i % 7) + ".html HTTP/1.1", i == 3 ? "404" : "200");
    }
    if (day % 4 == 1) text += "a malformed line\n";
    write_file("logs/access." + two_digits(day + 1), text);
  }
}

// More files than the weeks of the months, each a week of the weeks run,
// with every stretch's lists in the spill file or, where no spill file can
// be made, in memory; the second run resumes in the files after.
TEST_F(ModeWorkerTest, DailyLogsShowTheSameWithTheirListsSpilledOrHeld) {
  for (const char* folder : {".", "no-such-folder"}) {
    const TemporaryFolder spill_folder(folder);
    expect_same_either_way([&] {
      worker_tuning.stretch_memory = 0;
      write_daily_logs(0, 12);
      run();
      write_daily_logs(12, 3);
      run();
    });
  }
}

// Every period of the later modes counts as large: none is begun while the
// analyzer writes a period's reports, each waits for the writing to end.
TEST_F(ModeWorkerTest, PeriodsMergedAheadOnlyBetweenReportsShowTheSame) {
  expect_same_either_way([&] {
    worker_tuning.merge_beside_writing = 0;
    write_daily_logs(0, 12);
    run();
  });
}

// What the reading and the parsing show around the borders of stretches:
// a malformed line before the first record and right before a new month, a
// new month that begins with an unknown method (after a month whose end
// writes an entry for its unknown return code), a compressed file damaged
// after its first month. The later modes show the reading's marks and
// entries for every line and the parsing's for the records they analyse.
TEST_F(ModeWorkerTest, LinesAtTheBordersOfStretchesShowTheSameInEveryMode) {
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48",
               "a malformed first line\n\n" +
                   log_line("192.0.2.10", "29/Nov/2026:10:00:00", "GET /index.html HTTP/1.1") +
                   log_line("192.0.2.10", "30/Nov/2026:10:00:00", "PUT /up.html HTTP/1.1", "299") +
                   "malformed before December\n" +
                   log_line("192.0.2.99", "01/Dec/2026:00:05:00", "POST /form.cgi HTTP/1.1") +
                   log_line("192.0.2.99", "01/Dec/2026:00:06:00", "GET /docs/c.html HTTP/1.1") +
                   "malformed last line\n");
    std::string packed;
    for (int i = 0; i < 200; ++i) {
      packed += log_line("198.51.100.7", "31/Dec/2026:23:" + std::to_string(10 + i % 50) + ":00",
                         "GET /docs/b.html HTTP/1.1");
    }
    packed += log_line("198.51.100.7", "01/Jan/2027:00:10:00", "DELETE /x.html HTTP/1.1");
    const gzFile out = gzopen("logs/access.49.gz", "wb");
    ASSERT_NE(out, nullptr);
    gzwrite(out, packed.data(), static_cast<unsigned>(packed.size()));
    gzclose(out);
    fs::resize_file("logs/access.49.gz", fs::file_size("logs/access.49.gz") - 40);
    run();
    run();
  });
  // Every mode of both runs reads the damaged file; each analyses the
  // unknown methods of the periods it reports, numbered its own way.
  EXPECT_EQ(
      lines_with(shown, "Compressed file damaged"),
      Lines(6, "        Compressed file damaged: unexpected end of file, rest of file skipped!"));
  EXPECT_EQ(lines_with(shown, "Unknown command"),
            (Lines{"        Unknown command in line 1: PUT!", "        Unknown command in line 2: POST!",
                   "        Unknown command in line 2: PUT!", "        Unknown command in line 3: POST!",
                   "        Unknown command in line 2: PUT!", "        Unknown command in line 3: POST!",
                   "        Unknown command in line 3: POST!", "        Unknown command in line 2: PUT!",
                   "        Unknown command in line 3: POST!"}));
}

// A counting child makes the page and image lists of a stretch from its
// file list, by each path's kind: pages, images and other files asked for
// again after others, in two stretches, with paths nearly as long as a key,
// a directory (its default file), an unknown method (a page without a
// path) and extensions in either case.
TEST_F(ModeWorkerTest, PageAndImageListsShowTheSameMadeFromTheFileList) {
  const std::string stem = "/" + std::string(230, 'p');
  const auto get = [](const std::string& path) { return "GET " + path + " HTTP/1.1"; };
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48",
               log_line("192.0.2.10", "30/Nov/2026:10:00:00", get("/a.html")) +
                   log_line("192.0.2.10", "30/Nov/2026:10:01:00", get("/b.gif")) +
                   log_line("192.0.2.11", "30/Nov/2026:10:02:00", get("/c.jpg")) +
                   log_line("192.0.2.11", "30/Nov/2026:10:03:00", get(stem + ".html")) +
                   log_line("192.0.2.12", "30/Nov/2026:10:04:00", get(stem + ".htmlx.gif")) +
                   log_line("192.0.2.12", "30/Nov/2026:10:05:00", get(stem + ".htmly.jpeg")) +
                   log_line("192.0.2.10", "30/Nov/2026:11:00:00", get("/a.html")) +
                   log_line("192.0.2.13", "30/Nov/2026:11:01:00", "PUT /up.html HTTP/1.1") +
                   log_line("192.0.2.13", "01/Dec/2026:00:01:00", get(stem + ".htmlx.gif")) +
                   log_line("192.0.2.13", "01/Dec/2026:00:02:00", get("/docs/")) +
                   log_line("192.0.2.10", "01/Dec/2026:00:03:00", get("/b.gif")) +
                   log_line("192.0.2.10", "01/Dec/2026:00:04:00", get(stem + ".html")));
    write_file("logs/access.49", log_line("192.0.2.10", "07/Dec/2026:10:00:00", get("/a.HTML")) +
                                     log_line("192.0.2.14", "07/Dec/2026:10:01:00", get("/d.JPG")) +
                                     log_line("192.0.2.14", "07/Dec/2026:10:02:00", get("/e")) +
                                     log_line("192.0.2.14", "07/Dec/2026:10:03:00", get("/f.txt")) +
                                     log_line("192.0.2.14", "07/Dec/2026:10:04:00", get("/d.JPG")));
    run();
  });
  // The heads of the image tables of each period that has images, on its
  // page and its table page: 2 GIF images in four periods; JPEG images in
  // the weeks 48 and 49, the months November and December and the year.
  const auto heads = [](const std::string& kind, const std::string& anchor,
                        const std::vector<int>& counts) {
    Lines lines;
    for (const int n : counts) {
      const std::string head = "<H3>Top " + std::to_string(n) + " of " + std::to_string(n) + " " +
                               kind + " images  sorted by hits</H3>";
      lines.push_back("<A NAME=\"" + anchor + "\"> </A>" + head);
      lines.push_back(head);
    }
    return lines;
  };
  EXPECT_EQ(lines_with(shown, "GIF images  sorted"), heads("GIF", "hh", {2, 2, 2, 2}));
  EXPECT_EQ(lines_with(shown, "JPEG images  sorted"), heads("JPEG", "gh", {2, 1, 2, 1, 3}));
}

// A log longer than kPieceMinBytes, so that the counting children share it
// in two pieces, with what reading and parsing show spread over both: every
// few lines a malformed line, a blank line, a line ended by CR LF, an
// unknown method or an agent no pattern knows. The month changes in the
// second half, and the clients' visits run across the cut.
std::string long_log(std::size_t bytes) {
  std::string text;
  for (int i = 0; text.size() < bytes; ++i) {
    const bool december = text.size() > bytes * 3 / 5;
    const std::string time = std::string(december ? "01/Dec/2026:" : "30/Nov/2026:") +
                             (i % 24 < 10 ? "0" : "") + std::to_string(i % 24) + ":" +
                             std::to_string(10 + i % 50) + ":00";
    const std::string client = "192.0.2." + std::to_string(i % 13);
    const std::string path = "/docs/p" + std::to_string(i % 17) + (i % 3 == 0 ? ".gif" : ".html");
    if (i % 97 == 0) text += "a malformed line " + std::to_string(i) + "\n";
    if (i % 101 == 0) text += "\n";
    std::string line =
        log_line(client, time, (i % 89 == 0 ? "POST " : "GET ") + path + " HTTP/1.1",
                 i % 41 == 0 ? "404" : "200",
                 i % 31 == 0 ? "Crawler/" + std::to_string(i % 4) : "Mozilla/5.0 (X11)");
    if (i % 53 == 0) line.insert(line.size() - 1, "\r");
    text += line;
  }
  return text;
}

TEST_F(ModeWorkerTest, ALongFileCountedInTwoPiecesShowsTheSameAsReadWhole) {
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48", long_log(kPieceMinBytes + kPieceMinBytes / 4));
    write_file("logs/access.49", week_49());
    run();
    // The next run resumes the open week and month in a longer file.
    write_file("logs/access.49", week_49() + long_log(kPieceMinBytes * 2));
    run();
  });
  // Lines of the second piece, numbered from the file's first.
  EXPECT_EQ(lines_with(shown, "in line 8277:"),
            Lines{"        Unknown command in line 8277: POST!"});
  EXPECT_EQ(lines_with(shown, "Malformed line 7720:"),
            Lines(5, "        Malformed line 7720: 4 fields, line skipped!"));
}

// A record in the second piece that stops the run: the child of that piece
// sends no facts, and the weeks run reads the whole file itself.
TEST_F(ModeWorkerTest, AStopInTheSecondPieceOfAFileEndsTheRunWhereReadingItDoes) {
  std::string log = long_log(kPieceMinBytes * 2);
  const std::size_t late = log.find(" 2048 ", log.size() * 3 / 4);
  log.replace(late, 6, " 20x8 ");
  const std::string shown = expect_same_either_way([&] {
    write_file("logs/access.48", log);
    run();
  });
  EXPECT_EQ(lines_with(shown, "=== exit"), Lines{"=== exit 5"});
}

// The counting child that took file `k` (whole, or its first piece), as the
// analyzer finds it.
ModeWorker* taker_of(const CountedStretches& counted, uint32_t k) {
  const FileClaims& claims = *counted.claims;
  std::size_t i = 0;
  while (i < claims.pieces && claims.piece[i].file != k) ++i;
  return counter_of_piece(counted, i);
}

// A log file that a child reading it never finishes: a link to a device of
// endless byte 0s, which make no line. Such a child holds its file for as
// long as the test needs, until the test kills it.
void make_endless_log(const std::string& path) { ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0); }

// Replaces the endless log at `path` by two records, then plays the weeks
// run of `workers`, which reads that file itself.
void play_weeks_after_replacing(ModeWorkers& workers, const std::string& path) {
  fs::remove(path);
  write_file(path, log_line("192.0.2.10", "30/Nov/2026:10:00:00", "GET /a.html HTTP/1.1") +
                       log_line("192.0.2.11", "30/Nov/2026:10:05:00", "GET /b.html HTTP/1.1"));
  EXPECT_TRUE(play_mode_worker(*workers.list.at(0)));
}

// A counting process that dies. Its log files are a regular file and an
// endless one, so the child cannot finish on its own.
class DyingWorkerTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    fs::create_directories("logs");
    make_endless_log("logs/access.2");
    settings.log_dir = "logs/";
    analysis.log_files = {"access.1", "access.2"};
  }
};

TEST_F(DyingWorkerTest, AChildThatSentNothingLeavesItsModeToTheAnalyzer) {
  write_file("logs/access.1",
             log_line("192.0.2.10", "29/Nov/2026:10:00:00", "GET /index.html HTTP/1.1"));
  // The child sends its script in large blocks: before the pipe it has sent
  // nothing, whenever it is killed.
  ModeWorkers workers = start_mode_workers({kModeMonths}, WorkerTuning{});
  ASSERT_TRUE(workers.list.at(0));
  ASSERT_EQ(kill(workers.list[0]->pid, SIGKILL), 0);
  EXPECT_FALSE(play_mode_worker(*workers.list[0]));
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(DyingWorkerTest, AChildThatDiesAfterPartOfItsScriptIsAnInternalError) {
  // Enough malformed lines for the child to send a block before the pipe.
  std::string lines;
  for (int i = 0; i < 3000; ++i) lines += "a malformed line\n";
  write_file("logs/access.1", lines);
  ModeWorkers workers = start_mode_workers({kModeMonths}, WorkerTuning{});
  ModeWorker& worker = *workers.list.at(0);
  ASSERT_TRUE(wait_for_script(worker));
  ASSERT_EQ(kill(worker.pid, SIGKILL), 0);
  try {
    play_mode_worker(worker);
    ADD_FAILURE() << "the play did not end the run";
  } catch (const std::runtime_error& failure) {
    EXPECT_STREQ(failure.what(), "the counting process of the months run ended early");
  }
  // What the child had sent was shown, in order, before the run ended.
  const std::string shown = take_console_output();
  EXPECT_EQ(shown.rfind(" M\nFile: access.1 Startfile: \n access.1 ... !!!", 0), 0u) << shown;
}

// A counting child killed before it sent its file: the weeks run reads that
// file itself (here once the test made it an ordinary file), and the later
// modes read the files themselves.
TEST_F(DyingWorkerTest, AFileWhoseCountingChildDiedIsReadByTheWeeksRun) {
  write_file("logs/access.1",
             log_line("192.0.2.10", "29/Nov/2026:10:00:00", "GET /index.html HTTP/1.1"));
  settings.target_dir = "./";
  settings.html_out = false;
  ModeWorkers workers = start_mode_workers({kModeWeeks, kModeMonths}, WorkerTuning{});
  ASSERT_EQ(workers.counted->counters.size(), 2u);
  // The child that took the endless file is still reading it.
  const pid_t counter = taker_of(*workers.counted, 1)->pid;
  ASSERT_EQ(kill(counter, SIGKILL), 0);
  // Gone before the file ends, and left for the worker to reap.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(counter), &info, WEXITED | WNOWAIT), 0);
  play_weeks_after_replacing(workers, "logs/access.2");
  EXPECT_EQ(lines_with(take_console_output(), " ... "),
            (Lines{" access.1 ... 0", " access.2 ... 1"}));
  EXPECT_FALSE(play_mode_worker(*workers.list.at(1)));
}

// The counting children take the files one after the other: while one is
// held up by the first file (an endless one), the other takes every file
// after it, and the weeks run still shows them in order, reading the first
// itself once its child is gone.
TEST_F(SorvikTest, AChildHeldUpByAFileLeavesTheFollowingOnesToTheOther) {
  fs::create_directories("logs");
  make_endless_log("logs/access.1");
  for (const char* name : {"logs/access.2", "logs/access.3", "logs/access.4"}) {
    write_file(name, log_line("192.0.2.10", "30/Nov/2026:10:00:00", "GET /a.html HTTP/1.1"));
  }
  settings.log_dir = "logs/";
  settings.target_dir = "./";
  settings.html_out = false;
  analysis.log_files = {"access.1", "access.2", "access.3", "access.4"};
  ModeWorkers workers = start_mode_workers({kModeWeeks, kModeMonths}, WorkerTuning{});
  ASSERT_EQ(workers.counted->counters.size(), 2u);
  ModeWorker* const held = taker_of(*workers.counted, 0);
  ModeWorker* const other = taker_of(*workers.counted, 3);
  EXPECT_NE(held, other);
  EXPECT_EQ(taker_of(*workers.counted, 1), other);
  EXPECT_EQ(taker_of(*workers.counted, 2), other);
  // Both count at a lower priority than the analyzer, whose thread writes
  // each week as they send it (they took a piece, so they set it before).
  const int own_nice = getpriority(PRIO_PROCESS, 0);
  for (const ModeWorker* counter : {held, other}) {
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(counter->pid)),
              std::min(19, own_nice + kCountingChildNice));
  }
  ASSERT_EQ(kill(held->pid, SIGKILL), 0);
  play_weeks_after_replacing(workers, "logs/access.1");
  EXPECT_EQ(lines_with(take_console_output(), " ... "),
            (Lines{" access.1 ... 1", " access.2 ... 0", " access.3 ... 0", " access.4 ... 0"}));
  EXPECT_FALSE(play_mode_worker(*workers.list.at(1)));
}

// A run made from counted stretches adds each stretch's byte sum at once;
// where sums that large could round otherwise than adding each request, the
// file (a weeks period) or the whole mode is read instead.
TEST_F(SorvikTest, WhereByteSumsCouldRoundTheFilesAreReadInstead) {
  fs::create_directories("logs");
  settings.log_dir = "logs/";
  settings.target_dir = "./";
  settings.html_out = false;
  const auto line = [](const char* time) {
    std::string text = log_line("192.0.2.10", time, "GET /index.html HTTP/1.1");
    return text.replace(text.find(" 2048 "), 6, " 3458764513820540928 ");
  };
  // Each file's sum is exact, the months run's is not.
  write_file("logs/access.1", line("29/Nov/2026:10:00:00"));
  write_file("logs/access.2", line("30/Nov/2026:10:00:00"));
  analysis.log_files = {"access.1", "access.2"};
  {
    ModeWorkers workers = start_mode_workers({kModeWeeks, kModeMonths}, WorkerTuning{});
    ASSERT_EQ(workers.list.size(), 2u);
    ASSERT_EQ(workers.list[1]->role, WorkerRole::kFromStretches);
    ASSERT_TRUE(play_mode_worker(*workers.list[0]));
    EXPECT_FALSE(play_mode_worker(*workers.list[1]));
  }
  // One file's sum is not exact: the weeks run reads it, the months run all.
  write_file("logs/access.1", line("29/Nov/2026:10:00:00") + line("29/Nov/2026:11:00:00"));
  {
    ModeWorkers workers = start_mode_workers({kModeWeeks, kModeMonths}, WorkerTuning{});
    ASSERT_TRUE(play_mode_worker(*workers.list[0]));
    EXPECT_FALSE(play_mode_worker(*workers.list[1]));
  }
}

}  // namespace
}  // namespace sorvik
