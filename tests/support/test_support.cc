#include "support/test_support.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/console.h"
#include "driver/program.h"
#include "hosts/host_cache.h"
#include "stats/counted_list.h"

namespace sorvik {

LocalTime test_time() { return LocalTime{2026, 12, 7, 10, 11, 12, 13}; }

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

void set_group_lines(Group g, const std::vector<std::string>& lines) {
  MessageTable& table = message_table;
  table.group_start[g] = table.entry_count + 1;
  for (const std::string& line : lines) {
    table.entry_count += 1;
    table.entries.at(table.entry_count) = line;
  }
  table.group_end[g] = table.entry_count;
}

std::vector<std::string> list_keys(int slot) {
  std::vector<std::string> keys;
  for (const ListEntry& entry : list_snapshot(slot).entries) keys.emplace_back(entry.key);
  return keys;
}

KeyHits list_hits(int slot) {
  KeyHits keys;
  for (const ListEntry& entry : list_snapshot(slot).entries)
    keys.emplace_back(entry.key, entry.hits);
  return keys;
}

std::string error_log_entries(const std::string& path) {
  const std::string text = read_file(path);
  return text.substr(text.find('\n') + 1);
}

std::string whole_run_configuration() {
  return "logfiles=logs/access.*\n"
         "targetdir=out/reports\n"
         "htmldir=out/html\n"
         "Lang_file=english.lng\n"
         "Browser=out/browsers.lst\n"
         "OpSys=out/opsys.lst\n"
         "Results=out/results.txt\n"
         "Errlogfile=out/errlog.txt\n"
         "Host_file=out/host.dat\n"
         "Host_Url=www.example.org\n"
         "Analyse_Years=yes\n"
         "html_tables=5\n";
}

void make_whole_run_folders() {
  const std::string examples = std::string(SORVIK_SOURCE_DIR) + "/examples/";
  std::filesystem::create_directories("logs");
  std::filesystem::create_directories("out/reports");
  std::filesystem::create_directories("out/html");
  std::filesystem::copy_file(examples + "browsers.lst", "out/browsers.lst");
  std::filesystem::copy_file(examples + "opsys.lst", "out/opsys.lst");
}

std::string output_transcript(const std::vector<std::string>& skip) {
  std::vector<std::string> paths;
  for (const auto& item : std::filesystem::recursive_directory_iterator("out")) {
    if (item.is_regular_file()) paths.push_back(item.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::string text;
  for (const std::string& path : paths) {
    if (std::find(skip.begin(), skip.end(), path) != skip.end()) continue;
    text += "=== " + path + "\n" + read_file(path);
  }
  return text;
}

RunStop stop_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const RunStop& stop) {
    return stop;
  }
  ADD_FAILURE() << "the run was not stopped";
  return {};
}

RunStop stop_of_with_file_limit(std::size_t bytes, const std::function<void()>& action) {
  // Restores the limit and the signal's handling however the action ends.
  struct Limit {
    rlimit previous{};
    sighandler_t previous_handler = SIG_DFL;
    explicit Limit(std::size_t bytes) {
      getrlimit(RLIMIT_FSIZE, &previous);
      previous_handler = signal(SIGXFSZ, SIG_IGN);
      rlimit small = previous;
      small.rlim_cur = bytes;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    ~Limit() {
      setrlimit(RLIMIT_FSIZE, &previous);
      signal(SIGXFSZ, previous_handler);
    }
  } limit(bytes);
  return stop_of(action);
}

TemporaryFolder::TemporaryFolder(const char* path) {
  if (const char* before = getenv("TMPDIR")) {
    before_ = before;
    had_ = true;
  }
  setenv("TMPDIR", path, 1);
}

TemporaryFolder::~TemporaryFolder() {
  if (had_) {
    setenv("TMPDIR", before_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

void SorvikTest::SetUp() {
  reset_all_state();
  console.capture = &console_text_;
  console.keys = &keys_;
  set_time(test_time());
  // No test reaches the network: every reverse lookup fails at once unless a
  // test installs a scripted resolver of its own.
  hosts.resolver = Resolver{[](void*, HostAddress, std::string&) { return false; }};

  char cwd[4096];
  previous_dir_ = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvik-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  temp_dir_ = pattern;
  ASSERT_EQ(chdir(temp_dir_.c_str()), 0);
}

void SorvikTest::TearDown() {
  reset_all_state();  // closes files the test left open
  if (chdir(previous_dir_.c_str()) != 0) return;
  std::error_code ignored;
  std::filesystem::remove_all(temp_dir_, ignored);
}

std::string SorvikTest::take_console_output() {
  std::string text;
  text.swap(console_text_);
  return text;
}

}  // namespace sorvik
