// Fuzzes the host-name file reader: the input is the host-name file. The
// cache it gives is saved and loaded again; the second load must give the
// same addresses, and the same names and day stamps for every name without a
// ";" (the separator of the stamp, which a name from the resolver never holds).
#include <cstdint>
#include <map>
#include <string>

#include "base/run_stop.h"
#include "base/settings.h"
#include "fuzz_support.h"
#include "hosts/host_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  fuzz::reset_for_input();
  fuzz::write_input_file("host.dat", fuzz::as_text(data, size));
  settings.host_file = "host.dat";
  try {
    host_cache_load();
    std::map<HostAddress, HostLeaf> first;
    for (const HostEntry* entry : host_cache_in_order(hosts.cache)) {
      first.emplace(entry->address, entry->leaf);
    }
    for (const auto& [address, leaf] : first) {
      fuzz::check(leaf.name.size() <= kHostNameLimit, "host name longer than 64 bytes");
      fuzz::check(int64_t{today()} - leaf.day < kHostExpiryDays, "an expired entry was kept");
      fuzz::check(host_lookup(format_address(address)) == leaf.name, "lookup misses an entry");
    }
    if (first.empty()) return 0;
    host_cache_save();
    host_cache_free();
    host_cache_load();
    fuzz::check(hosts.cache.entries.size() == first.size(), "addresses lost or gained when saved");
    for (const auto& [address, leaf] : first) {
      const HostLeaf* again = host_cache_find(hosts.cache, address);
      fuzz::check(again != nullptr, "an address was lost when saved");
      if (leaf.name.view().find(';') != std::string_view::npos) continue;
      fuzz::check(again->name == leaf.name, "a host name changed when saved");
      fuzz::check(again->day == leaf.day, "a day stamp changed when saved");
    }
  } catch (const RunStop&) {
  }
  return 0;
}
