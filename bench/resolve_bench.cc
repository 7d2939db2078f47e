// Resolves 2,000 new addresses against a scripted resolver that answers each
// lookup after 20 ms, and prints the elapsed seconds. Looked up one after the
// other this takes 40 s; the concurrent lookups should stay under 2.5 s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "base/console.h"
#include "driver/program.h"
#include "hosts/host_cache.h"

int main() {
  using namespace sorvik;
  constexpr int kAddresses = 2000;
  static constexpr auto kAnswerDelay = std::chrono::milliseconds(20);

  reset_all_state();
  std::string progress;
  console.capture = &progress;
  hosts.resolver.lookup = [](void*, HostAddress address, std::string& name) {
    std::this_thread::sleep_for(kAnswerDelay);
    if (address % 10 == 0) return false;
    name = "host" + std::to_string(address & 0xFFFF) + ".example";
    return true;
  };
  for (int i = 0; i < kAddresses; ++i) {
    host_insert("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), "", 0);
  }

  const auto start = std::chrono::steady_clock::now();
  resolve_new_hosts();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  const std::size_t dots = std::count(progress.begin(), progress.end(), '.');
  const std::size_t dashes = std::count(progress.begin(), progress.end(), '-');
  std::printf("resolve_new_hosts: %d addresses, %zu resolved, %zu failed, %.2f s\n", kAddresses,
              dots, dashes, elapsed.count());
  return 0;
}
