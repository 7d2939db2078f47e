// Reverse name resolution of IPv4 addresses. The hosts state holds the
// resolver it asks: the system's, or one that the caller gives in its place
// (a scripted one in tests, one that answers at once in the benchmarks).
#ifndef SORVIK_HOSTS_RESOLVER_H_
#define SORVIK_HOSTS_RESOLVER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvik {

// An IPv4 address as one number, first octet in the highest byte, so that the
// numeric order of the values is the order of the dotted addresses.
using HostAddress = uint32_t;

// Answers one reverse lookup: `lookup(context, address, name)` returns true
// and sets `name` to the official name of `address` when the address has
// one; false when it has none or the lookup failed. Several lookups run at
// once, so the function must be safe to call from many threads.
struct Resolver {
  bool (*lookup)(void* context, HostAddress address, std::string& name) = nullptr;
  void* context = nullptr;
};

// The resolver of the C library (a reverse lookup that requires a name).
Resolver system_resolver();

// True when a name from a resolver can be stored in the cache and its file:
// it holds no "=", no ";" and no byte below 32 (a line feed included), which
// would break the file's line format.
bool usable_host_name(std::string_view name);

}  // namespace sorvik

#endif  // SORVIK_HOSTS_RESOLVER_H_
