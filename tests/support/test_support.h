// Shared test support: a fixture that gives every test fresh global state, a
// captured console with scripted key presses, a fixed clock and its own
// temporary working directory.
#ifndef SORVIK_TESTS_SUPPORT_TEST_SUPPORT_H_
#define SORVIK_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "stats/text_arena.h"

namespace sorvik {

// A list text in a test's messages, as its bytes.
inline std::ostream& operator<<(std::ostream& out, const ListText& text) {
  return out << text.view();
}

// The fixed time every test runs at unless it sets another one.
LocalTime test_time();

// Writes `content` byte for byte to `path` (relative to the working directory).
void write_file(const std::string& path, const std::string& content);
// The whole content of `path`; an empty text when it does not exist.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Places `lines` as group `g` of the message table, from the next free entry
// on, and records the group's range (line 0 is lines[0]).
void set_group_lines(Group g, const std::vector<std::string>& lines);

// The keys of list `slot` in list order, and the keys with their hits.
using KeyHits = std::vector<std::pair<std::string, uint64_t>>;
std::vector<std::string> list_keys(int slot);
KeyHits list_hits(int slot);

// The entries of the error log `path`, without its session start line.
std::string error_log_entries(const std::string& path = "errlog.txt");

// The configuration of the whole-run tests: logs from logs/access.*, every
// output below out/, the example's language file copied to english.lng, the
// years run on and five table rows.
std::string whole_run_configuration();

// Creates logs/, out/reports and out/html and copies the example's pattern
// lists to out/browsers.lst and out/opsys.lst, as whole_run_configuration
// expects them.
void make_whole_run_folders();

// Every file below out/ except those in `skip`, in name order, each as
// "=== <path>" and its content.
std::string output_transcript(const std::vector<std::string>& skip = {});

// Runs `action`, which must end the run, and returns its stop (a failure of
// the test, and an empty stop, when it returns normally).
RunStop stop_of(const std::function<void()>& action);

// stop_of with every file written limited to `bytes` bytes: a write beyond
// fails with "File too large" (and no signal ends the process).
RunStop stop_of_with_file_limit(std::size_t bytes, const std::function<void()>& action);

// Sets TMPDIR, where temporary files go, while it lives, and then puts
// back the one before.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const char* path);
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder();

 private:
  std::string before_;
  bool had_ = false;
};

class SorvikTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Everything written to the console since the test began (or the last take).
  std::string console_output() const { return console_text_; }
  std::string take_console_output();
  // Key presses the console delivers, one byte each; -1 after the last.
  void set_keys(const std::string& keys) {
    keys_ = keys;
    console.keys = &keys_;
    console.next_key = 0;
  }
  void set_time(const LocalTime& t) { clock_state.readings = {t}; }

  std::string temp_dir_;

 private:
  std::string console_text_;
  std::string keys_;
  std::string previous_dir_;
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_SUPPORT_TEST_SUPPORT_H_
