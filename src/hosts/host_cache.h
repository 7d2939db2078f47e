// Host names of client addresses: the in-memory cache, its file, reverse DNS
// lookups and the DNS availability check.
#ifndef SORVIK_HOSTS_HOST_CACHE_H_
#define SORVIK_HOSTS_HOST_CACHE_H_

#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/resolver.h"
#include "stats/text_arena.h"

namespace sorvik {

// Longest host name the cache keeps; longer names are cut.
inline constexpr std::size_t kHostNameLimit = 64;
// Cached names older than this many days are dropped when the file is loaded.
inline constexpr int32_t kHostExpiryDays = 180;
// A failed lookup is stamped so that it expires this many days later.
inline constexpr int32_t kFailedLookupRetryDays = 7;
// The most reverse lookups that resolve_new_hosts runs at the same time.
inline constexpr int kMaxConcurrentLookups = 32;
// The address whose reverse lookup tells whether name resolution works.
inline constexpr const char* kDnsCheckAddress = "8.8.8.8";

// The name stored for an address whose lookup failed, and the answer of
// host_lookup for an address that is not cached. Both end in ")", by which
// the reports recognise a client without a host name.
inline constexpr const char* kLookupFailedName = "(not found)";
inline constexpr const char* kNotCachedName = "(Not found!)";

// A name of up to 15 bytes is held in the leaf itself, a longer one in the
// cache's arena of names (`HostCache::names`), where it is set.
struct HostLeaf {
  ListText name;    // at most 64 bytes; empty = not yet resolved
  int32_t day = 0;  // day number of the last resolution
};

struct HostEntry {
  HostAddress address = 0;
  HostLeaf leaf;
};

static_assert(sizeof(HostEntry) == 24);

// A bucket of the host cache's index: an address and the position + 1 of
// its entry, 0 for an empty bucket.
struct HostSlot {
  HostAddress address = 0;
  uint32_t position = 0;
};

// The cached addresses with their names, found by address through a hash
// index: a busy site's cache holds hundreds of thousands of addresses, and a
// period's clients, a few of them scattered among the rest, each cost a hash
// and a probe or two instead of a walk down a tree. The entries stay where
// they are made (a deque) until the cache is emptied; the index holds each
// entry's address and place, from the bucket its address leads to on, and is
// a power of two long, at most half full. The file and the lookups take the
// entries in address order (host_cache_in_order). A cache of hundreds of
// thousands of names takes their bytes from one arena, packed, instead of a
// heap block (with its header and rounding) for each; an entry is 24 bytes.
struct HostCache {
  std::deque<HostEntry> entries;
  std::vector<HostSlot> index;
  TextArena names;
  // Counts the changes of the entries (made, named, stamped anew), so that a
  // save can tell whether the file it wrote last still holds the cache.
  uint64_t changes = 0;
};

// The file that the run's last save wrote, and the cache's change count
// then (valid: there was such a save since the cache was last emptied).
struct SavedHostFile {
  bool valid = false;
  uint64_t changes = 0;
  std::string path;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified_ns = 0;
};

// The entry of `address`, or null when it is not cached.
HostLeaf* host_cache_find(HostCache& cache, HostAddress address);

// Asks for the index bucket of `address` to be loaded, for a lookup of it
// a little later.
void host_cache_prefetch(const HostCache& cache, HostAddress address);

// The entry of `address`, made with an empty name and day 0 when absent
// (`made` tells which).
HostLeaf& host_cache_entry(HostCache& cache, HostAddress address, bool& made);

// Sets the name of `leaf`, an entry of `cache`, to `name` cut to
// kHostNameLimit bytes, a longer one's bytes taken from the cache's arena.
void set_host_name(HostCache& cache, HostLeaf& leaf, std::string_view name);

// Every entry, in ascending numeric address order.
std::vector<const HostEntry*> host_cache_in_order(const HostCache& cache);

// How fast the resolver answers, as the lookups made one by one showed: a
// few slow answers close together (not one that a busy machine delayed)
// make it slow for the rest of the run, and the lookups then run on worker
// threads (see resolve_new_hosts).
struct LookupPace {
  int64_t lookups = 0;  // made one by one so far
  // The numbers (in `lookups`) of the last slow ones, a ring from `next`.
  std::array<int64_t, 4> slow_at{};
  std::size_t next = 0;
  int64_t slow = 0;  // slow ones so far
  bool slow_resolver = false;
};

struct HostState {
  HostCache cache;
  SavedHostFile saved;
  // The addresses of the entries made without a name since the last
  // resolve_new_hosts (some may have been named since), so that it need not
  // walk the whole cache for the few without one. Whatever makes an entry
  // without a name adds its address.
  std::vector<HostAddress> unnamed;
  bool dns_available = false;
  LookupPace pace;
  // The run's day number, fixed at its first use (see today()).
  bool today_fixed = false;
  int32_t today = 0;
  // Draws the day stamps of file entries without a usable stamp.
  std::mt19937 random;
  Resolver resolver;
};

extern HostState hosts;

// Start-up state: empty cache, today's day number not yet taken, generator
// seeded from the clock, the system resolver.
void reset_hosts();

// Reseeds the generator of the pseudo-random day stamps (for reproducible runs).
void seed_host_random(uint32_t seed);

// The run's day number: whole days from 30 December 1899 to the date of the
// clock when first asked in this run; the same value afterwards.
int32_t today();

// Reads a dotted address: four parts separated by ".", each part's bytes
// folded as value * 10 + (byte - 48) modulo 256 (bytes are not tested for
// being digits; an empty part is 0). False when the text has fewer than four
// parts, that is fewer than three "." or nothing after the third, and for
// any text with a ":" (an IPv6 address, which is never looked up or cached);
// anything after the fourth part is ignored.
bool parse_address(std::string_view text, HostAddress& address);

// The four octets of `address` in decimal, joined by ".".
std::string format_address(HostAddress address);

// Finds or creates the cache entry of `address_text` (a new one has an empty
// name and day 0); a non-empty `name` replaces its name (cut at 64 bytes), a
// non-zero `day` its day. Does nothing for a text that is not an address.
void host_insert(std::string_view address_text, std::string_view name, int32_t day);

// The cached name of `address_text` (possibly empty or "(not found)"), or
// "(Not found!)" when the text is not an address or the address is not cached.
std::string host_lookup(std::string_view address_text);

// True when the last dns_check got an answer.
bool dns_available();

// Tests name resolution with a reverse lookup of kDnsCheckAddress; the verbose
// form prints its progress and result.
void dns_check(bool quiet);

// Reads settings.host_file into the cache: reports a missing file and every
// malformed line (console and error log), stamps entries without a usable day,
// and drops entries 180 or more days old. An unreadable existing file ends the
// run with the I/O report.
void host_cache_load();

// Writes the cache to settings.host_file, one "address=name;day" line per
// entry in address order. The new content goes to a temporary file first; the
// previous file then becomes the backup host_file + "~" and the new file takes
// its name. When the file is still the one this run's last save wrote and
// the cache has not changed since, it stays as it is and the backup becomes
// a second name of it: the same contents in both names as writing it again
// would give, without making the lines again. An empty cache is never written. A failed write
// leaves the previous file intact and ends the run with the I/O report.
void host_cache_save();

// Empties the cache.
void host_cache_free();

// Looks up every cached address without a name, one after the other while
// the resolver answers at once, else up to kMaxConcurrentLookups at once
// (hosts.pace), and stores the names (or "(not found)") with their day stamps. The
// progress characters, the stored results and the counters are those of a walk
// that looks the addresses up one by one in ascending order.
void resolve_new_hosts();

// Enters the client addresses of kClients into the cache, resolves the new
// ones and appends "=" and the host name to every client key.
void name_period_hosts();

}  // namespace sorvik

#endif  // SORVIK_HOSTS_HOST_CACHE_H_
