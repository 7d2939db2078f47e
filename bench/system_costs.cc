// Prints what the machine charges for the system services the analyzer
// leans on: a system call, a page fault on the first touch of a page, the
// same pages made resident in one call (as the analyzer's heap growth is)
// or mapped resident, and a thread's start and end. The
// figures differ by an order of magnitude between machines (a virtual
// machine pays much more for a fault), and they explain why a change that
// saves faults or thread switches pays off on one machine and not another.
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void* nothing(void* argument) { return argument; }

}  // namespace

int main() {
  constexpr int kCalls = 200000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCalls; ++i) syscall(SYS_getppid);
  std::printf("system call: %.2f us\n", seconds_since(start) / kCalls * 1e6);

  constexpr std::size_t kPages = 25600;  // 100 MB
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t size = kPages * page;
  start = std::chrono::steady_clock::now();
  auto* touched = static_cast<char*>(
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (touched == MAP_FAILED) return 1;
  for (std::size_t i = 0; i < kPages; ++i) touched[i * page] = 1;
  std::printf("page fault on first touch: %.2f us a page\n", seconds_since(start) / kPages * 1e6);
  munmap(touched, size);

  start = std::chrono::steady_clock::now();
  auto* resident = static_cast<char*>(
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (resident == MAP_FAILED) return 1;
  const bool populated = madvise(resident, size, MADV_POPULATE_WRITE) == 0;
  for (std::size_t i = 0; i < kPages; ++i) resident[i * page] = 1;
  std::printf("made resident in one call%s: %.2f us a page\n", populated ? "" : " (refused)",
              seconds_since(start) / kPages * 1e6);
  munmap(resident, size);

  start = std::chrono::steady_clock::now();
  auto* mapped = static_cast<char*>(mmap(nullptr, size, PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0));
  if (mapped == MAP_FAILED) return 1;
  for (std::size_t i = 0; i < kPages; ++i) mapped[i * page] = 1;
  std::printf("mapped resident: %.2f us a page\n", seconds_since(start) / kPages * 1e6);
  munmap(mapped, size);

  constexpr int kThreads = 1000;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kThreads; ++i) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, nothing, nullptr) != 0) return 1;
    pthread_join(thread, nullptr);
  }
  std::printf("thread started and joined: %.2f us\n", seconds_since(start) / kThreads * 1e6);
  return 0;
}
