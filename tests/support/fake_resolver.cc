#include "support/fake_resolver.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "hosts/host_cache.h"

namespace sorvik {

namespace {

HostAddress address_of(const std::string& text) {
  HostAddress address = 0;
  if (!parse_address(text, address)) throw std::invalid_argument("not an address: " + text);
  return address;
}

}  // namespace

void FakeResolver::answer(const std::string& address, const std::string& name,
                          std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[address_of(address)] = Answer{true, name, delay};
}

void FakeResolver::fail(const std::string& address, std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[address_of(address)] = Answer{false, "", delay};
}

void FakeResolver::answer_all(std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_all_ = true;
  default_delay_ = delay;
}

void FakeResolver::install() { hosts.resolver = resolver(); }

Resolver FakeResolver::resolver() {
  return Resolver{[](void* fake, HostAddress address, std::string& name) {
                    return static_cast<FakeResolver*>(fake)->lookup(address, name);
                  },
                  this};
}

std::vector<std::string> FakeResolver::lookups() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookups_;
}

int FakeResolver::peak_in_flight() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_in_flight_;
}

bool FakeResolver::lookup(HostAddress address, std::string& name) {
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lookups_.push_back(format_address(address));
    in_flight_ += 1;
    peak_in_flight_ = std::max(peak_in_flight_, in_flight_);
    const auto scripted = answers_.find(address);
    if (scripted != answers_.end()) {
      answer = scripted->second;
    } else if (answer_all_) {
      std::string dashed = format_address(address);
      for (char& c : dashed) {
        if (c == '.') c = '-';
      }
      answer = Answer{true, "host-" + dashed + ".example", default_delay_};
    }
  }
  if (answer.delay.count() > 0) std::this_thread::sleep_for(answer.delay);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    in_flight_ -= 1;
  }
  if (answer.found) name = answer.name;
  return answer.found;
}

}  // namespace sorvik
