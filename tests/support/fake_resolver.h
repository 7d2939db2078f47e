// A scripted resolver for tests: answers reverse lookups from a table keyed
// by address, can fail, answer slowly or return hostile names, and records
// the lookups it was asked for. It never touches the network.
#ifndef SORVIK_TESTS_SUPPORT_FAKE_RESOLVER_H_
#define SORVIK_TESTS_SUPPORT_FAKE_RESOLVER_H_

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hosts/resolver.h"

namespace sorvik {

class FakeResolver {
 public:
  // `address` answers with `name` (any bytes, hostile ones included) after
  // `delay`.
  void answer(const std::string& address, const std::string& name,
              std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  // `address` has no name; the failure comes after `delay` (a time-out).
  void fail(const std::string& address,
            std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  // Addresses without a scripted answer fail at once, or answer with
  // "host-<a>-<b>-<c>-<d>.example" after `delay` once this is called.
  void answer_all(std::chrono::milliseconds delay);

  // Makes hosts.resolver use this fake; it must outlive the lookups.
  void install();
  Resolver resolver();

  // The addresses looked up so far, dotted, in the order the calls began.
  std::vector<std::string> lookups() const;
  // The largest number of lookups that were in progress at the same time.
  int peak_in_flight() const;

 private:
  struct Answer {
    bool found = false;
    std::string name;
    std::chrono::milliseconds delay{0};
  };

  bool lookup(HostAddress address, std::string& name);

  mutable std::mutex mutex_;
  std::map<HostAddress, Answer> answers_;
  bool answer_all_ = false;
  std::chrono::milliseconds default_delay_{0};
  std::vector<std::string> lookups_;
  int in_flight_ = 0;
  int peak_in_flight_ = 0;
};

}  // namespace sorvik

#endif  // SORVIK_TESTS_SUPPORT_FAKE_RESOLVER_H_
