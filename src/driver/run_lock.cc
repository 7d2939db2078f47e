#include "driver/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/run_stop.h"
#include "base/settings.h"

namespace sorvik {

RunLock::~RunLock() { release_run_lock(*this); }

std::string run_lock_path(const std::string& results_file) { return results_file + ".lock"; }

void acquire_run_lock(RunLock& lock) {
  release_run_lock(lock);
  const std::string path = run_lock_path(settings.results_file);
  // No O_TRUNC: opening an existing lock file changes neither its content nor
  // its time stamps. Read-write, because some network file systems grant an
  // exclusive lock only on a file open for writing. A symbolic link at the
  // name is not followed (ELOOP ends the run): the lock file is created where
  // the result file lies, and a link there could have the run create or
  // lock a file anywhere.
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) stop_on_io_error("open", path, errno);
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error_number = errno;
    close(fd);
    if (error_number == EWOULDBLOCK) {
      throw RunStop{kExitRunLocked, false,
                    "Another run holds the lock file " + path + ": stopped."};
    }
    stop_on_io_error("lock", path, error_number);
  }
  lock.fd = fd;
  lock.path = path;
}

void release_run_lock(RunLock& lock) {
  if (lock.fd < 0) return;
  // Closing the only descriptor of the open file releases its lock.
  close(lock.fd);
  lock.fd = -1;
  lock.path.clear();
}

}  // namespace sorvik
