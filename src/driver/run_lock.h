// The lock that keeps two runs off the same state files: a run holds an
// exclusive flock on the result file's name + ".lock" from before it touches
// any file until its result file is written, and a second run that finds the
// lock held stops at once without touching anything.
#ifndef SORVIK_DRIVER_RUN_LOCK_H_
#define SORVIK_DRIVER_RUN_LOCK_H_

#include <string>

namespace sorvik {

// Exit status of a run stopped because another run holds the lock (the
// conventional "temporary failure, try again later").
inline constexpr int kExitRunLocked = 75;

// An open lock file; the lock is released when the file is closed, by
// release_run_lock or the destructor (a stopped run), and at the latest by the
// process's end.
struct RunLock {
  int fd = -1;
  std::string path;

  RunLock() = default;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock();
};

// The name of the lock file of `results_file`.
std::string run_lock_path(const std::string& results_file);

// Takes the lock of settings.results_file without waiting. The lock file is
// created empty when it is missing; an existing one is opened as it is and
// never written. When another process holds the lock the run ends with status
// 75, no key wait and the line "Another run holds the lock file <path>:
// stopped."; a lock file that cannot be opened or locked, or a symbolic link
// at its name, ends the run with the I/O report.
void acquire_run_lock(RunLock& lock);

// Releases the lock; does nothing when none is held.
void release_run_lock(RunLock& lock);

}  // namespace sorvik

#endif  // SORVIK_DRIVER_RUN_LOCK_H_
