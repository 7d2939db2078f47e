#include <algorithm>
#include <chrono>

#include "hosts/host_cache.h"
#include "hosts_fixture.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

using std::chrono::milliseconds;
using HostResolutionTest = HostsTest;

constexpr int32_t kFailedDay = kTestToday - 173;

TEST_F(HostResolutionTest, ResolvesOnlyUnnamedAddressesInNumericOrder) {
  host_insert("10.0.0.1", "", 0);
  host_insert("9.0.0.1", "", 0);
  host_insert("10.0.0.2", "cached.example", 46000);
  host_insert("10.0.0.3", "", 0);
  resolver_.answer("9.0.0.1", "nine.example");
  resolver_.answer("10.0.0.3", std::string(70, 'h'));  // cut without a message
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url: .-. [18]\nIPs: 3[23] 2[24] 1[25]\n");
  std::vector<std::string> looked_up = resolver_.lookups();  // concurrent: any order
  std::sort(looked_up.begin(), looked_up.end());
  EXPECT_EQ(looked_up, (std::vector<std::string>{"10.0.0.1", "10.0.0.3", "9.0.0.1"}));
  EXPECT_EQ(host_lookup("9.0.0.1"), "nine.example");
  EXPECT_EQ(cached(0x09000001).day, kTestToday);
  EXPECT_EQ(host_lookup("10.0.0.1"), "(not found)");
  EXPECT_EQ(cached(0x0A000001).day, kFailedDay);
  EXPECT_EQ(host_lookup("10.0.0.3"), std::string(64, 'h'));
  EXPECT_EQ(cached(0x0A000002).day, 46000);
}

TEST_F(HostResolutionTest, NothingToResolvePrintsNoCounters) {
  host_insert("10.0.0.2", "cached.example", 46000);
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url:  [18]\n");
  EXPECT_TRUE(resolver_.lookups().empty());
}

TEST_F(HostResolutionTest, HostileAndSlowAnswersAreFailedLookups) {
  const char* hostile[] = {"a=b.example", "a;b.example", "a\nb.example", "a\tb.example",
                           "\x1f.example"};
  for (int i = 0; i < 5; ++i) {
    host_insert("1.0.0." + std::to_string(i), "", 0);
    resolver_.answer("1.0.0." + std::to_string(i), hostile[i]);
  }
  host_insert("1.0.0.5", "", 0);
  resolver_.fail("1.0.0.5", milliseconds(50));  // a time-out
  host_insert("1.0.0.6", "", 0);
  resolver_.answer("1.0.0.6", "m\xFCller.example", milliseconds(50));
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url: ------. [18]\nIPs: 7[23] 1[24] 6[25]\n");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(host_lookup("1.0.0." + std::to_string(i)), "(not found)");
  EXPECT_EQ(host_lookup("1.0.0.6"), "m\xFCller.example");
}

// Later addresses answer sooner, so the lookups finish out of order; what is
// printed and stored must still be the one-by-one result.
TEST_F(HostResolutionTest, ConcurrentLookupsGiveTheSequentialResult) {
  std::string expected_progress;
  for (int i = 0; i < 100; ++i) {
    const std::string address = "10.0." + std::to_string(i) + ".1";
    host_insert(address, "", 0);
    const milliseconds delay((100 - i) % 7 * 5);
    if (i % 3 == 0) {
      resolver_.fail(address, delay);
      expected_progress += "-";
    } else {
      resolver_.answer(address, "host" + std::to_string(i) + ".example", delay);
      expected_progress += ".";
    }
  }
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(),
            "ip2url: " + expected_progress + " [18]\nIPs: 100[23] 66[24] 34[25]\n");
  for (int i = 0; i < 100; ++i) {
    const std::string address = "10.0." + std::to_string(i) + ".1";
    EXPECT_EQ(host_lookup(address),
              i % 3 == 0 ? "(not found)" : "host" + std::to_string(i) + ".example");
    EXPECT_EQ(cached(0x0A000001 | (i << 8)).day, i % 3 == 0 ? kFailedDay : kTestToday);
  }
  std::vector<std::string> looked_up = resolver_.lookups();
  EXPECT_EQ(looked_up.size(), 100u);  // each address once
  std::sort(looked_up.begin(), looked_up.end());
  EXPECT_EQ(std::unique(looked_up.begin(), looked_up.end()), looked_up.end());
  // Lookups this slow make the pool grow beyond its first two threads.
  EXPECT_GT(resolver_.peak_in_flight(), 2);
  EXPECT_LE(resolver_.peak_in_flight(), 32);
}

// Lookups answered at once are made one by one on the calling thread, and
// so is a slow one now and then (a lookup that waited for a busy processor);
// four slow ones close together hand the rest to worker threads, for this
// call and every later one, and the result is still the one-by-one walk's.
TEST_F(HostResolutionTest, SlowLookupsCloseTogetherMoveTheLookupsToWorkerThreads) {
  const auto address = [](int i) {
    return "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256);
  };
  const auto insert_unnamed = [&](int first, int count) {
    for (int i = first; i < first + count; ++i) host_insert(address(i), "", 0);
  };
  insert_unnamed(0, 300);
  resolver_.answer_all(milliseconds(0));
  for (int i = 10; i < 300; i += 70) resolver_.answer(address(i), "lone.example", milliseconds(3));
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(),
            "ip2url: " + std::string(300, '.') + " [18]\nIPs: 300[23] 300[24] 0[25]\n");
  // A busy machine may stretch more lookups past the limit now and then.
  if (hosts.pace.slow <= 5) {
    EXPECT_FALSE(hosts.pace.slow_resolver);
  }
  if (!hosts.pace.slow_resolver) {
    EXPECT_EQ(resolver_.peak_in_flight(), 1);
    std::vector<std::string> in_order;
    for (int i = 0; i < 300; ++i) in_order.push_back(address(i));
    EXPECT_EQ(resolver_.lookups(), in_order);
  }

  insert_unnamed(300, 60);
  resolver_.answer(address(310), "slow.example", milliseconds(20));
  for (int i = 311; i < 360; ++i) resolver_.fail(address(i), milliseconds(5));
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url: " + std::string(11, '.') + std::string(49, '-') +
                                       " [18]\nIPs: 60[23] 11[24] 49[25]\n");
  EXPECT_TRUE(hosts.pace.slow_resolver);
  EXPECT_GT(resolver_.peak_in_flight(), 1);
  EXPECT_EQ(host_lookup(address(310)), "slow.example");
  EXPECT_EQ(host_lookup(address(359)), "(not found)");
  EXPECT_EQ(resolver_.lookups().size(), 360u);  // each address once

  // The check's lookup counts among the first.
  reset_hosts();
  resolver_.install();
  resolver_.answer("8.8.8.8", "dns.example", milliseconds(5));
  dns_check(true);
  EXPECT_FALSE(hosts.pace.slow_resolver);
  EXPECT_EQ(hosts.pace.slow, 1);
  insert_unnamed(400, 3);
  for (int i = 400; i < 403; ++i) resolver_.fail(address(i), milliseconds(3));
  resolve_new_hosts();
  EXPECT_TRUE(hosts.pace.slow_resolver);
}

// Each call looks up only what has no name yet: entries made since the last
// call, not one named in between, and nothing of a cache emptied meanwhile.
TEST_F(HostResolutionTest, LaterCallsLookUpOnlyTheNewUnnamedEntries) {
  host_insert("10.0.0.1", "", 0);
  host_insert("10.0.0.2", "", 0);
  resolver_.answer("10.0.0.1", "one.example");
  resolve_new_hosts();
  host_insert("10.0.0.3", "", 0);
  host_insert("10.0.0.4", "", 0);
  host_insert("10.0.0.4", "four.example", 46000);  // named before the call
  host_insert("10.0.0.5", "five.example", 46000);
  host_insert("10.0.0.3", "", 0);  // made once, looked up once
  take_console_output();
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url: - [18]\nIPs: 1[23] 0[24] 1[25]\n");
  std::vector<std::string> looked_up = resolver_.lookups();
  std::sort(looked_up.begin(), looked_up.end());
  EXPECT_EQ(looked_up, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(host_lookup("10.0.0.1"), "one.example");
  EXPECT_EQ(host_lookup("10.0.0.4"), "four.example");

  host_insert("10.0.0.6", "", 0);
  host_cache_free();
  host_insert("10.0.0.7", "", 0);
  resolve_new_hosts();
  EXPECT_EQ(take_console_output(), "ip2url: - [18]\nIPs: 1[23] 0[24] 1[25]\n");
  EXPECT_EQ(hosts.cache.entries.size(), 1u);
  EXPECT_EQ(host_lookup("10.0.0.7"), "(not found)");
}

TEST_F(HostResolutionTest, DnsCheckInBothForms) {
  dns_check(false);
  EXPECT_EQ(take_console_output(), "DNS-check (8.8.8.8) ... [25]\n");
  EXPECT_FALSE(dns_available());
  resolver_.answer("8.8.8.8", "dns.example");
  dns_check(false);
  EXPECT_EQ(take_console_output(), "DNS-check (8.8.8.8) ... ok.\n");
  EXPECT_TRUE(dns_available());
  resolver_.fail("8.8.8.8");
  dns_check(true);
  EXPECT_FALSE(dns_available());
  EXPECT_EQ(take_console_output(), "");
}

TEST_F(HostResolutionTest, PeriodClientsGetTheirHostNames) {
  host_insert("10.0.0.1", "ten.example", 46000);
  const std::vector<std::string> clients = {"10.0.0.1", "9.0.0.1", "10.0.0.7", "www.example.com",
                                            std::string(250, 'k')};
  for (const std::string& key : clients) {
    lists.current_entry = EntryValues{};
    lists.current_entry.key = key;
    list_add(kClients);
  }
  resolver_.answer("9.0.0.1", "nine.example");
  name_period_hosts();
  EXPECT_EQ(take_console_output(),
            "[41] [18]\nip2url: .- [18]\nIPs: 2[23] 1[24] 1[25]\n[42] [18]\n");
  std::vector<std::string> keys;
  for (const ListEntry& entry : list_snapshot(kClients).entries) keys.emplace_back(entry.key);
  const std::vector<std::string> named = {"10.0.0.1=ten.example", "9.0.0.1=nine.example",
                                          "10.0.0.7=(not found)", "www.example.com=(Not found!)",
                                          std::string(250, 'k') + "=(Not"};  // cut at 255
  EXPECT_EQ(keys, named);
}

// The clients are found in the cache in address order: near and far apart,
// before and after every cached address, new ones between cached ones, and
// one address written two ways, each client getting the name of its own.
TEST_F(HostResolutionTest, ClientsInAnyOrderFindTheirCacheEntries) {
  for (int i = 0; i < 200; ++i) {
    host_insert("10.0.0." + std::to_string(i), "n" + std::to_string(i) + ".example", 46000);
  }
  const std::vector<std::string> clients = {"10.0.0.150", "10.0.0.3",   "10.0.1.5", "010.0.0.3",
                                            "10.0.0.4",   "10.0.0.190", "9.9.9.9",  "10.0.0.199"};
  for (const std::string& key : clients) {
    lists.current_entry = EntryValues{};
    lists.current_entry.key = key;
    list_add(kClients);
  }
  resolver_.answer("10.0.1.5", "new.example");
  resolver_.answer("9.9.9.9", "nine.example");
  name_period_hosts();
  take_console_output();
  std::vector<std::string> keys;
  for (const ListEntry& entry : list_snapshot(kClients).entries) keys.emplace_back(entry.key);
  const std::vector<std::string> named = {"10.0.0.150=n150.example", "10.0.0.3=n3.example",
                                          "10.0.1.5=new.example",    "010.0.0.3=n3.example",
                                          "10.0.0.4=n4.example",     "10.0.0.190=n190.example",
                                          "9.9.9.9=nine.example",    "10.0.0.199=n199.example"};
  EXPECT_EQ(keys, named);
  EXPECT_EQ(hosts.cache.entries.size(), 202u);
}

}  // namespace
}  // namespace sorvik
