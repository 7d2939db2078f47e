// The run lock: while one run holds it, another stops at once with status 75
// and touches nothing; a run holds it through its whole analysis and gives it
// up however it ends, before any final key wait.
#include "driver/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/console.h"
#include "driver/program.h"
#include "hosts/host_cache.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

namespace fs = std::filesystem;

const char kLockFile[] = "state/results.txt.lock";

// True when another open file description can take the lock at once.
bool lock_is_free() {
  const int fd = open(kLockFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

// Every file below the working directory with its content.
std::vector<std::string> tree() {
  std::vector<std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(".")) {
    files.push_back(item.path().string() + "=" +
                    (item.is_regular_file() ? read_file(item.path().string()) : "dir"));
  }
  std::sort(files.begin(), files.end());
  return files;
}

class RunLockTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    fs::create_directories("logs");
    fs::create_directories("out");
    fs::create_directories("state");
    fs::copy_file(std::string(SORVIK_SOURCE_DIR) + "/examples/english.lng", "english.lng");
    write_file("sorvik.conf",
               "logfiles=logs/access.*\ntargetdir=out\nhtmldir=out\nLang_file=english.lng\n"
               "Results=state/results.txt\nErrlogfile=state/errlog.txt\n"
               "Host_file=state/host.dat\n");
    write_file("logs/access.49",
               "192.0.2.10 - - [30/Nov/2026:09:15:02 +0100] \"GET / HTTP/1.1\" 200 5120 "
               "www.example.org \"-\" \"Mozilla/5.0\"\n");
  }
};

TEST_F(RunLockTest, SecondRunStopsAtOnceWithoutTouchingAnyFile) {
  // Whatever an earlier run or another program left in the lock file stays.
  write_file(kLockFile, "kept\n");
  write_file("state/results.txt", "# Results of sorvik analysis #\n");
  const int holder = open(kLockFile, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::vector<std::string> before = tree();

  set_keys("J\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitRunLocked);
  const std::string console = take_console_output();
  const std::string line = "Another run holds the lock file state/results.txt.lock: stopped.\n";
  ASSERT_GE(console.size(), line.size());
  EXPECT_EQ(console.substr(console.size() - line.size()), line) << console;
  EXPECT_EQ(console.find("Logfiles"), std::string::npos) << console;
  EXPECT_EQ(console.find(messages_line(MessageId::kPressKey)), std::string::npos) << "no key wait";
  EXPECT_EQ(tree(), before);

  // Once the holder lets go, the next run goes ahead; the lock file keeps its
  // content, and the lock is free again when the run has ended.
  close(holder);
  hosts.resolver = Resolver{[](void*, HostAddress, std::string& name) {
    name = "dns.example";
    return true;
  }};
  set_keys("x");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitNormal);
  EXPECT_EQ(read_file(kLockFile), "kept\n");
  EXPECT_NE(read_file("state/results.txt").find("2026w49"), std::string::npos);
  EXPECT_TRUE(lock_is_free());
}

TEST_F(RunLockTest, HeldThroughTheRunAndReleasedBeforeEveryKeyWait) {
  // Every reverse lookup and every key press checks the lock: the DNS checks
  // and the question come while the run works, the last key wait after it.
  struct LockAtLookups {
    std::mutex mutex;  // lookups may run on other threads
    std::vector<bool> free;
  } at_lookups;
  hosts.resolver = Resolver{[](void* context, HostAddress, std::string& name) {
                              auto& seen = *static_cast<LockAtLookups*>(context);
                              const bool free = lock_is_free();
                              const std::lock_guard<std::mutex> guard(seen.mutex);
                              seen.free.push_back(free);
                              name = "dns.example";
                              return true;
                            },
                            &at_lookups};
  set_keys("J");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitNormal);
  EXPECT_TRUE(file_exists(kLockFile));  // created when missing
  EXPECT_EQ(read_file(kLockFile), "");
  ASSERT_GE(at_lookups.free.size(), 2u);
  for (const bool free : at_lookups.free) EXPECT_FALSE(free);
  EXPECT_TRUE(lock_is_free());

  // A stop with a key wait (a size that does not convert) releases the lock
  // before it waits; so does the answer "N" at the question.
  write_file("logs/access.50",
             "192.0.2.10 - - [07/Dec/2026:09:15:02 +0100] \"GET / HTTP/1.1\" 200 12a "
             "www.example.org \"-\" \"Mozilla/5.0\"\n");
  set_keys("J");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitBadSize);
  EXPECT_TRUE(lock_is_free());

  hosts.resolver = Resolver{[](void*, HostAddress, std::string&) { return false; }};
  set_keys("N");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitOperatorStop);
  EXPECT_TRUE(lock_is_free());
}

TEST_F(RunLockTest, LockFileThatCannotBeOpenedIsAnIoFailure) {
  write_file("sorvik.conf",
             "logfiles=logs/access.*\ntargetdir=out\nLang_file=english.lng\n"
             "Results=missing/results.txt\nErrlogfile=state/errlog.txt\n");
  set_keys("J\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitIoError);
  const std::string console = take_console_output();
  EXPECT_NE(console.find("\nCannot open missing/results.txt.lock: No such file or directory\n"),
            std::string::npos)
      << console;
  EXPECT_FALSE(file_exists("state/errlog.txt"));
}

// A link planted at the lock file's or the error log's name would have the
// run create or append to any file: the run ends at the link, the file it
// points at stays as it was, and nothing else is written.
TEST_F(RunLockTest, LinkAtTheLockFileOrTheErrorLogEndsTheRunWithoutFollowingIt) {
  write_file("victim", "kept\n");
  ASSERT_EQ(symlink("../absent", kLockFile), 0);
  set_keys("J\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitIoError);
  std::string console = take_console_output();
  EXPECT_NE(
      console.find("\nCannot open state/results.txt.lock: Too many levels of symbolic links\n"),
      std::string::npos)
      << console;
  EXPECT_FALSE(file_exists("absent"));
  EXPECT_FALSE(file_exists("state/errlog.txt"));

  ASSERT_EQ(unlink(kLockFile), 0);
  ASSERT_EQ(symlink("../victim", "state/errlog.txt"), 0);
  set_keys("J\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitIoError);
  console = take_console_output();
  EXPECT_NE(console.find("\nCannot open state/errlog.txt: Too many levels of symbolic links\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(read_file("victim"), "kept\n");
  EXPECT_FALSE(file_exists("state/results.txt"));
  EXPECT_TRUE(lock_is_free());
}

TEST_F(RunLockTest, NoLockWithoutAUsableConfiguration) {
  // A configuration without a target folder ends before any file is touched,
  // so it neither needs nor creates the lock.
  write_file("sorvik.conf", "logfiles=logs/access.*\nLang_file=english.lng\nResults=r.txt\n");
  EXPECT_EQ(run_program({"sorvik.conf"}), kExitFileNotCreated);
  EXPECT_FALSE(file_exists("r.txt.lock"));
}

}  // namespace
}  // namespace sorvik
