#include "workers/worker_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "analysis/log_record.h"
#include "base/run_stop.h"

// Writes the counts of a build made with -fprofile-generate (see
// scripts/build_optimized.sh); in any other build it is not there.
extern "C" void __gcov_dump() __attribute__((weak));

namespace sorvik {

namespace {

// What a child's pipe to the analyzer holds (the most an unprivileged
// process may ask for by default).
constexpr int kPipeSize = 1 << 20;

// Whether a child that counts while `at_once` children do (itself among
// them) reads its files on a thread of its own: only when the machine has a
// core to spare for that thread.
bool child_reading_thread(std::size_t at_once) {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 || cores > at_once;
}

void drain_pipe(ModeWorker* worker) {
  std::vector<char> chunk(kSendSize);
  for (;;) {
    const ssize_t got = read(worker->fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    const std::lock_guard<std::mutex> lock(worker->mutex);
    if (got <= 0) {
      if (got < 0) worker->read_error = errno;
      worker->finished = true;
      worker->arrived.notify_all();
      if (worker->next != nullptr) release(*worker->next);
      return;
    }
    worker->script.emplace_back(chunk.data(), static_cast<std::size_t>(got));
    worker->script_size += static_cast<std::size_t>(got);
    worker->arrived.notify_all();
  }
}

// Moves the next `size` received bytes to `out`, freeing the blocks they
// came in; the caller holds the lock and knows that they have arrived.
void take_script_bytes(ModeWorker& worker, char* out, std::size_t size) {
  while (size > 0) {
    const std::string& block = worker.script.front();
    const std::size_t part = std::min(size, block.size() - worker.script_head);
    std::memcpy(out, block.data() + worker.script_head, part);
    out += part;
    size -= part;
    worker.script_size -= part;
    worker.script_head += part;
    if (worker.script_head == block.size()) {
      worker.script.pop_front();
      worker.script_head = 0;
    }
  }
}

// In the child just forked: keeps the pipe as descriptor 3 and the start
// descriptor as 4, closes every other, and takes the child's settings.
void settle_child(pid_t parent, WorkerRole role, std::size_t at_once, const int ends[2],
                  const int start[2], ChildStart& child) {
  // The child dies with the parent, and keeps no descriptor of the
  // parent's open: above all not the run lock, which must be free the
  // moment the parent ends.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  const int fd = fcntl(ends[1], F_DUPFD_CLOEXEC, 10);
  const int start_fd = start[0] >= 0 ? fcntl(start[0], F_DUPFD_CLOEXEC, 10) : -1;
  if (fd < 0 || dup2(fd, 3) < 0) _exit(1);
  if (start_fd >= 0 && dup2(start_fd, 4) < 0) _exit(1);
  close_range(start_fd >= 0 ? 5 : 4, ~0U, 0);
  child.fd = 3;
  child.start_fd = start_fd >= 0 ? 4 : -1;
  // A counting child yields the processor to the analyzer, whose thread
  // writes each week's reports as the children send it: when that thread
  // falls behind, the run ends with it working alone through the weeks
  // left while a core idles. Set before any thread of the child starts,
  // which takes the value over; a failure only leaves the child as it was.
  if (role == WorkerRole::kCounting) setpriority(PRIO_PROCESS, 0, kCountingChildNice);
  analysis.reader_options.reading_thread = child_reading_thread(at_once);
}

}  // namespace

ModeWorker::~ModeWorker() {
  if (start_fd >= 0) close(start_fd);
  if (pid > 0 && !played) kill(pid, SIGKILL);
  if (drain.joinable()) drain.join();
  if (fd >= 0) close(fd);
  if (pid > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

std::unique_ptr<ModeWorker> fork_worker(int mode, WorkerRole role, int number, bool waits,
                                        std::size_t at_once, CountedStretches* stretches,
                                        ChildBody body) {
  const pid_t parent = getpid();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
  // Room for a stretch or two in the pipe, so that a child goes on counting
  // while the analyzer's busy threads get round to reading; a failure only
  // leaves the pipe as it was.
  fcntl(ends[0], F_SETPIPE_SZ, kPipeSize);
  // A socket pair rather than a pipe, for send's MSG_NOSIGNAL.
  int start[2] = {-1, -1};
  if (waits && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, start) != 0) {
    start[0] = start[1] = -1;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    for (const int end : {ends[0], ends[1], start[0], start[1]}) {
      if (end >= 0) close(end);
    }
    return nullptr;
  }
  if (pid == 0) {
    ChildStart child{mode, number, -1, -1, stretches};
    settle_child(parent, role, at_once, ends, start, child);
    body(child);
    _exit(1);  // a body never returns
  }
  close(ends[1]);
  if (start[0] >= 0) close(start[0]);
  auto worker = std::make_unique<ModeWorker>();
  worker->mode = mode;
  worker->role = role;
  worker->stretches = stretches;
  worker->pid = pid;
  worker->fd = ends[0];
  worker->start_fd = start[1];
  return worker;
}

void release(ModeWorker& worker) {
  if (worker.start_fd < 0) return;
  // A child that is gone must not end the parent with SIGPIPE: its run ends
  // in its turn as a script cut short.
  const char go = 1;
  while (send(worker.start_fd, &go, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
  close(worker.start_fd);
  worker.start_fd = -1;
}

void start_draining(ModeWorker& worker) {
  if (worker.fd >= 0) worker.drain = std::thread(drain_pipe, &worker);
}

bool next_item(ModeWorker& worker, ItemReader& reader) {
  std::unique_lock<std::mutex> lock(worker.mutex);
  uint64_t size = 0;
  worker.arrived.wait(lock, [&] { return worker.script_size >= sizeof size || worker.finished; });
  if (worker.script_size < sizeof size) return false;
  take_script_bytes(worker, reinterpret_cast<char*>(&size), sizeof size);
  worker.arrived.wait(lock, [&] { return worker.script_size >= size || worker.finished; });
  if (worker.script_size < size) return false;
  reader.bytes.resize(size);
  take_script_bytes(worker, reader.bytes.data(), size);
  reader.start(reader.bytes);
  return true;
}

bool script_ended(ModeWorker& worker) {
  const std::lock_guard<std::mutex> lock(worker.mutex);
  return worker.finished;
}

bool wait_for_script(ModeWorker& worker) {
  std::unique_lock<std::mutex> lock(worker.mutex);
  worker.arrived.wait(lock, [&] { return worker.script_size > 0 || worker.finished; });
  return worker.script_size > 0;
}

void put_ending(ScriptWriter& writer) {
  try {
    throw;
  } catch (const RunStop& stop) {
    put_stop(writer, stop);
  } catch (const std::bad_alloc&) {
    writer.begin(Step::kOutOfMemory);
    writer.finish();
  } catch (const std::exception& failure) {
    writer.begin(Step::kFailure);
    writer.put_text(failure.what());
    writer.finish();
  }
}

void exit_child(ScriptWriter& writer) {
  writer.send();
  // _exit skips the exit handlers, among them the one that writes a
  // profiling build's counts: the counting code runs in children only.
  if (__gcov_dump != nullptr) __gcov_dump();
  _exit(0);
}

}  // namespace sorvik
