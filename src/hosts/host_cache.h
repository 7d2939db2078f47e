// Host names of client addresses: the in-memory cache, its file, reverse DNS
// lookups and the DNS availability check.
#ifndef SORVIK_HOSTS_HOST_CACHE_H_
#define SORVIK_HOSTS_HOST_CACHE_H_

#include <cstdint>

namespace sorvik {

// Start-up state: empty cache, today's day number, generator seeded from the
// clock, the system resolver.
void reset_hosts();

// True when the last dns_check got an answer.
bool dns_available();

// Tests name resolution with a reverse lookup of a fixed public address;
// the verbose form prints its progress and result.
void dns_check(bool quiet);

// Reads settings.host_file into the cache (expired entries dropped).
void host_cache_load();

// Writes the cache to settings.host_file (atomically, keeping a "~" backup);
// an empty cache is never written.
void host_cache_save();

void host_cache_free();

// Enters the client addresses of list 1 into the cache, resolves the new ones
// and appends "=" and the host name to every list-1 key.
void name_period_hosts();

}  // namespace sorvik

#endif  // SORVIK_HOSTS_HOST_CACHE_H_
