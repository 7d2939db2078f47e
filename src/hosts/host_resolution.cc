// Reverse lookups of the cached addresses without a name, the DNS check and
// the naming of a period's clients.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/console.h"
#include "base/message_table.h"
#include "hosts/host_cache.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

struct LookupResult {
  bool found = false;
  std::string name;
};

// Looks `address` up through `resolver`; a resolver that throws counts as
// a failed lookup, since a worker thread must not let an exception escape.
LookupResult look_up(const Resolver& resolver, HostAddress address) {
  LookupResult result;
  try {
    result.found = resolver.lookup(resolver.context, address, result.name);
  } catch (...) {
    result.found = false;
  }
  if (!result.found) result.name.clear();
  return result;
}

// A resolver that answers at once (from a cache) is asked on the calling
// thread: a thread per lookup in flight and a hand-over per result would cost
// more than the lookups. A lookup that takes longer than kGrowAfter is slow;
// four of them (LookupPace::slow_at) within kSlowWindow lookups make the
// resolver slow for the rest of the run (one alone may be a lookup that
// waited for a busy processor). The lookups then run on worker threads:
// kFirstLookupThreads at the start of each call, kMaxConcurrentLookups as
// soon as the calling thread waits longer than kGrowAfter for a result. A
// name server that takes its time thus gets the full number of lookups at
// once within a millisecond, after a few lookups one by one once a run.
constexpr std::size_t kFirstLookupThreads = 2;
constexpr std::chrono::microseconds kGrowAfter{1000};
constexpr int64_t kSlowWindow = 64;

// Counts a lookup made on the calling thread that took `took`; true when the
// resolver has become slow.
bool note_lookup_time(LookupPace& pace, std::chrono::steady_clock::duration took) {
  pace.lookups += 1;
  if (took <= kGrowAfter) return pace.slow_resolver;
  pace.slow += 1;
  pace.slow_at[pace.next] = pace.lookups;
  pace.next = (pace.next + 1) % pace.slow_at.size();
  // The ring's next place holds the earliest of the last slow ones.
  if (pace.slow >= static_cast<int64_t>(pace.slow_at.size()) &&
      pace.lookups - pace.slow_at[pace.next] < kSlowWindow) {
    pace.slow_resolver = true;
  }
  return pace.slow_resolver;
}

// Runs the lookups of `addresses` and hands the results to `take` on the
// calling thread, strictly in the order of `addresses`, each as soon as it
// and all before it are in: on the calling thread while the resolver answers
// at once, else on up to kMaxConcurrentLookups worker threads.
class LookupPool {
 public:
  LookupPool(const Resolver& resolver, const std::vector<HostAddress>& addresses, LookupPace& pace)
      : resolver_(resolver),
        addresses_(addresses),
        pace_(pace),
        results_(addresses.size()),
        done_(addresses.size(), false) {
    if (pace_.slow_resolver) add_workers(kFirstLookupThreads);
  }

  // The result of lookup `index`; waits until it is in. Results must be
  // taken in ascending order of index.
  LookupResult result(std::size_t index) {
    if (workers_.empty()) return look_up_here(index);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, kGrowAfter, [&] { return done_[index]; })) {
      lock.unlock();
      add_workers(kMaxConcurrentLookups);
      lock.lock();
      ready_.wait(lock, [&] { return done_[index]; });
    }
    return std::move(results_[index]);
  }

 private:
  // Looks `index` up on the calling thread; once the resolver has become
  // slow, the lookups after it go to worker threads (none started: they go
  // on here).
  LookupResult look_up_here(std::size_t index) {
    const auto start = std::chrono::steady_clock::now();
    LookupResult result = look_up(resolver_, addresses_[index]);
    const bool was_slow = pace_.slow_resolver;
    if (note_lookup_time(pace_, std::chrono::steady_clock::now() - start) && !was_slow) {
      next_.store(index + 1);
      add_workers(kMaxConcurrentLookups);
    }
    return result;
  }

  // Starts workers until there are `count` (at most one per address).
  void add_workers(std::size_t count) {
    const std::size_t wanted = std::min(addresses_.size(), count);
    while (workers_.size() < wanted) {
      try {
        workers_.emplace_back([this](std::stop_token stop) { work(stop); });
      } catch (const std::system_error&) {
        return;  // go on with the threads there are (or none: see result())
      }
    }
  }

  void work(std::stop_token stop) {
    while (!stop.stop_requested()) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= addresses_.size()) return;
      LookupResult result = look_up(resolver_, addresses_[index]);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[index] = std::move(result);
        done_[index] = true;
      }
      ready_.notify_all();
    }
  }

  const Resolver& resolver_;
  const std::vector<HostAddress>& addresses_;
  LookupPace& pace_;
  std::vector<LookupResult> results_;
  std::vector<bool> done_;  // guarded by mutex_, like results_
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable ready_;
  // Last member: destroyed first, so the threads are stopped and joined while
  // everything they use still exists.
  std::vector<std::jthread> workers_;
};

}  // namespace

void dns_check(bool quiet) {
  if (!quiet) console_write(std::string("DNS-check (") + kDnsCheckAddress + ") ... ");
  HostAddress address = 0;
  parse_address(kDnsCheckAddress, address);
  const auto start = std::chrono::steady_clock::now();
  hosts.dns_available = look_up(hosts.resolver, address).found;
  // The check's lookup counts among those that tell the resolver's pace.
  note_lookup_time(hosts.pace, std::chrono::steady_clock::now() - start);
  if (!quiet) {
    console_line(hosts.dns_available ? std::string("ok.") : messages_line(MessageId::kFailed));
  }
}

void resolve_new_hosts() {
  console_write("ip2url: ");
  // Only an entry made since the last call can be without a name: every one
  // looked up gets a name or the failure's text.
  std::vector<HostAddress> unnamed = std::move(hosts.unnamed);
  hosts.unnamed.clear();
  std::sort(unnamed.begin(), unnamed.end());
  unnamed.erase(std::unique(unnamed.begin(), unnamed.end()), unnamed.end());
  std::vector<HostAddress> addresses;
  std::vector<HostLeaf*> leaves;
  for (const HostAddress address : unnamed) {
    HostLeaf* leaf = host_cache_find(hosts.cache, address);
    if (leaf == nullptr || !leaf->name.empty()) continue;
    addresses.push_back(address);
    leaves.push_back(leaf);
  }
  int64_t resolved = 0;
  int64_t failed = 0;
  {
    // Only the lookups run in parallel; the cache and the console are updated
    // here, in ascending address order, as the one-by-one walk would.
    LookupPool pool(hosts.resolver, addresses, hosts.pace);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      LookupResult result = pool.result(i);
      HostLeaf& leaf = *leaves[i];
      hosts.cache.changes += 1;
      if (result.found && usable_host_name(result.name)) {
        resolved += 1;
        set_host_name(hosts.cache, leaf, result.name);
        leaf.day = today();
        console_write(".");
      } else {
        failed += 1;
        set_host_name(hosts.cache, leaf, kLookupFailedName);
        leaf.day = today() - kHostExpiryDays + kFailedLookupRetryDays;
        console_write("-");
      }
    }
  }
  const int64_t total = static_cast<int64_t>(addresses.size());
  console_line(" " + messages_line(MessageId::kDone));
  if (total > 0) {
    console_line("IPs: " + std::to_string(total) + messages_line(MessageId::kNewNames) + " " +
                 std::to_string(resolved) + messages_line(MessageId::kResolved) + " " +
                 std::to_string(failed) + messages_line(MessageId::kFailed));
  }
}

void name_period_hosts() {
  const CountedList& clients = list_snapshot(kClients);
  console_write(messages_line(MessageId::kCollectingClients) + " ");
  // The cache entry of each client, kept so that naming the clients needs no
  // second search; entries stay where they are while others are made. The
  // index buckets lie anywhere in memory: each is asked for a few clients
  // ahead.
  std::vector<std::pair<HostAddress, std::size_t>> addresses;
  addresses.reserve(clients.entries.size());
  for (std::size_t i = 0; i < clients.entries.size(); ++i) {
    HostAddress address = 0;
    if (parse_address(clients.entries[i].key, address)) addresses.emplace_back(address, i);
  }
  std::vector<const HostLeaf*> leaves(clients.entries.size(), nullptr);
  constexpr std::size_t kBucketsAhead = 8;
  for (std::size_t k = 0; k < addresses.size(); ++k) {
    if (k + kBucketsAhead < addresses.size()) {
      host_cache_prefetch(hosts.cache, addresses[k + kBucketsAhead].first);
    }
    const auto [address, i] = addresses[k];
    bool made = false;
    leaves[i] = &host_cache_entry(hosts.cache, address, made);
    if (made) hosts.unnamed.push_back(address);
  }
  console_line(messages_line(MessageId::kDone));
  resolve_new_hosts();
  console_write(messages_line(MessageId::kNamingClients) + " ");
  std::string named;
  // Every key changes; the index is made again if a lookup needs it.
  list_drop_index(kClients);
  // The cache entries and their names lie anywhere in memory: each entry is
  // asked for a few clients ahead, and its name (reached through it) half as
  // many, so that the copies below find them loaded.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    if (i + 2 * kAhead < leaves.size() && leaves[i + 2 * kAhead] != nullptr) {
      __builtin_prefetch(leaves[i + 2 * kAhead]);
    }
    if (i + kAhead < leaves.size() && leaves[i + kAhead] != nullptr) {
      __builtin_prefetch(leaves[i + kAhead]->name.data());
    }
    named.assign(clients.entries[i].key);
    named += '=';
    named += leaves[i] != nullptr ? std::string_view(leaves[i]->name) : kNotCachedName;
    list_set_key_at(kClients, static_cast<int64_t>(i) + 1, named);
  }
  console_line(messages_line(MessageId::kDone));
}

}  // namespace sorvik
