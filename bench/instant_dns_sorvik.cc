// The analyzer with a resolver that answers every reverse lookup at once, so
// that a benchmark measures the analysis and not the name server. It runs
// exactly like sorvik and prints to stderr, when the run ends, the number of
// lookups made (and how many of them were slow), and the peak memory of the
// analyzer's own process and of the largest of the child processes that
// counted the run modes.
#include <sys/resource.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/heap_setup.h"
#include "driver/program.h"
#include "hosts/host_cache.h"

int main(int argc, char** argv) {
  using namespace sorvik;
  set_up_heap();
  static std::atomic<long> lookups{0};
  reset_all_state();
  hosts.resolver.lookup = [](void*, HostAddress address, std::string& name) {
    lookups.fetch_add(1, std::memory_order_relaxed);
    // Made in place, as an answer from a cache would be copied: the
    // benchmark measures the analyzer, not the making of names.
    name.assign(1, 'h');
    for (int shift = 24; shift >= 0; shift -= 8) {
      char digits[3];
      name.append(digits,
                  std::to_chars(digits, digits + sizeof digits, (address >> shift) & 255).ptr);
      name += shift > 0 ? '-' : '.';
    }
    name += "bench.example";
    return true;
  };
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = run_program(arguments);
  std::fflush(stdout);
  std::fprintf(stderr, "Reverse lookups made: %ld\n", lookups.load());
  // A busy machine can make a few answers slow; enough of them close
  // together would move the lookups to threads, which this tells.
  std::fprintf(stderr, "Lookups slower than a millisecond: %lld of %lld%s\n",
               static_cast<long long>(hosts.pace.slow), static_cast<long long>(hosts.pace.lookups),
               hosts.pace.slow_resolver ? ", then on worker threads" : "");
  rusage own{};
  rusage children{};
  getrusage(RUSAGE_SELF, &own);
  getrusage(RUSAGE_CHILDREN, &children);
  std::fprintf(stderr, "Peak resident memory of the analyzer: %ld kB\n", own.ru_maxrss);
  std::fprintf(stderr, "Peak resident memory of the largest counting process: %ld kB\n",
               children.ru_maxrss);
  return status;
}
