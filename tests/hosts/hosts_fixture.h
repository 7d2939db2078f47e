// The fixture of the host-name tests: a scripted resolver, a fixed generator
// seed, Messages lines that name themselves ("[k]") and an open error log.
#ifndef SORVIK_TESTS_HOSTS_HOSTS_FIXTURE_H_
#define SORVIK_TESTS_HOSTS_HOSTS_FIXTURE_H_

#include <string>
#include <vector>

#include "base/error_log.h"
#include "base/settings.h"
#include "hosts/host_cache.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {

// The day number of the fixed test date, 7 December 2026.
inline constexpr int32_t kTestToday = 46363;

// The cache entry of `address`; an absent one fails the test.
inline const HostLeaf& cached(HostAddress address) {
  static const HostLeaf kAbsent{"(absent)", -1};
  const HostLeaf* leaf = host_cache_find(hosts.cache, address);
  EXPECT_NE(leaf, nullptr) << format_address(address) << " is not cached";
  return leaf != nullptr ? *leaf : kAbsent;
}

class HostsTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages;
    for (int k = 0; k <= 45; ++k) messages.push_back("[" + std::to_string(k) + "]");
    set_group_lines(kMessages, messages);
    resolver_.install();
    seed_host_random(2026);
    settings.errlog_file = "errlog.txt";
    error_log_open();
    take_console_output();
  }

  // The entries written to the error log so far, without the session lines.
  std::string logged_entries() {
    error_log_close();
    take_console_output();
    std::string entries;
    std::size_t start = 0;
    const std::string log = read_file("errlog.txt");
    while (start < log.size()) {
      const std::size_t end = log.find('\n', start);
      const std::string line = log.substr(start, end - start);
      if (!line.empty() && line.rfind("****", 0) != 0) entries += line + "\n";
      start = end == std::string::npos ? log.size() : end + 1;
    }
    return entries;
  }

  FakeResolver resolver_;
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_HOSTS_HOSTS_FIXTURE_H_
