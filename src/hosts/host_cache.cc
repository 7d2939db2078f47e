#include "hosts/host_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <vector>

#include "base/clock.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/radix_sort.h"
#include "stats/text_hash.h"

namespace sorvik {

HostState hosts;

namespace {

// Day stamps drawn for file entries: without a stamp up to 6 days old, with a
// stamp that is not a number up to 179 days old, so that their re-resolution
// spreads over the following days instead of falling on one run.
constexpr int32_t kUnstampedSpreadDays = 7;
constexpr int32_t kBadStampSpreadDays = 180;

// A whole number from 0 to count - 1, uniformly drawn.
int32_t random_below(int32_t count) {
  std::uniform_int_distribution<int32_t> draw(0, count - 1);
  return draw(hosts.random);
}

// Reads a day stamp: optional leading blanks, an optional sign and decimal
// digits up to the end of the text, within the signed 32-bit range. Anything
// else (a trailing carriage return included) is not a valid stamp.
bool read_day_text(std::string_view text, int32_t& day) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return false;
  day = static_cast<int32_t>(value);
  return true;
}

// One line of the host-name file, numbered `line_number` from 1.
void load_host_line(std::string_view line, int64_t line_number) {
  const std::string& path = settings.host_file;
  const auto line_text = [line_number] { return "Line " + std::to_string(line_number); };
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    console_line("!");
    error_log_entry(path, line_text() + ", Separator = missing");
    return;
  }
  const std::string_view address = line.substr(0, equals);
  std::string_view name;
  int32_t day = 0;
  const std::size_t semicolon = line.find(';');
  if (semicolon == std::string_view::npos) {
    name = line.substr(equals + 1);
    day = today() - random_below(kUnstampedSpreadDays);
  } else {
    // A ";" in front of the "=" leaves no text for the name.
    if (semicolon > equals) name = line.substr(equals + 1, semicolon - equals - 1);
    if (!read_day_text(line.substr(semicolon + 1), day)) {
      day = today() - random_below(kBadStampSpreadDays);
    }
  }
  if (name.size() > kHostNameLimit) {
    console_line("!");
    error_log_entry(path, line_text() + ", Url: " + std::string(name) + ", Url-String is too long");
    name = name.substr(0, kHostNameLimit);
  }
  // 64-bit difference: a stamp far in the past or future must not wrap.
  if (int64_t{today()} - day < kHostExpiryDays) host_insert(address, name, day);
}

}  // namespace

void reset_hosts() {
  host_cache_free();
  hosts.dns_available = false;
  hosts.pace = LookupPace{};
  hosts.today_fixed = false;
  hosts.today = 0;
  const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
  hosts.random.seed(static_cast<uint32_t>(ticks ^ (ticks >> 32)));
  hosts.resolver = system_resolver();
}

void seed_host_random(uint32_t seed) { hosts.random.seed(seed); }

int32_t today() {
  // Taken at first use rather than in reset_hosts, so that the day belongs to
  // the clock the run actually uses; it then stays fixed for the whole run.
  if (!hosts.today_fixed) {
    hosts.today = days_since_1899(clock_now());
    hosts.today_fixed = true;
  }
  return hosts.today;
}

bool parse_address(std::string_view text, HostAddress& address) {
  // An IPv6 address may hold dots too (::ffff:192.0.2.1); read by the digit
  // rule it would become some unrelated IPv4 address.
  if (text.find(':') != std::string_view::npos) return false;
  std::size_t position = 0;
  HostAddress value = 0;
  for (int part = 0; part < 4; ++part) {
    // A part needs at least one character to start on; "1.2.3" and "1.2.3."
    // both end before the fourth part.
    if (position >= text.size()) return false;
    uint32_t octet = 0;
    while (position < text.size() && text[position] != '.') {
      octet = (octet * 10 + static_cast<unsigned char>(text[position]) - 48) & 0xFF;
      ++position;
    }
    if (position < text.size()) ++position;  // the "." after the part
    value = (value << 8) | octet;
  }
  address = value;
  return true;
}

namespace {

// Appends the decimal digits of `value`.
void append_number(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// Appends the dotted form of `address`.
void append_address(std::string& out, HostAddress address) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    append_number(out, (address >> shift) & 0xFF);
    if (shift > 0) out += '.';
  }
}

}  // namespace

std::string format_address(HostAddress address) {
  std::string text;
  append_address(text, address);
  return text;
}

namespace {

// The first bucket of `address` in an index of mask + 1 buckets, by the
// run's keyed hash: the clients of a log cannot pick addresses that crowd
// one bucket.
std::size_t bucket_of(HostAddress address, std::size_t mask) {
  return static_cast<std::size_t>(hash_address(address)) & mask;
}

// The bucket that holds `address`, or the empty bucket where the probe for
// it ends and it would go. The index must not be empty.
std::size_t probe_address(const HostCache& cache, HostAddress address) {
  const std::size_t mask = cache.index.size() - 1;
  std::size_t i = bucket_of(address, mask);
  while (cache.index[i].position != 0 && cache.index[i].address != address) i = (i + 1) & mask;
  return i;
}

}  // namespace

HostLeaf* host_cache_find(HostCache& cache, HostAddress address) {
  if (cache.index.empty()) return nullptr;
  const HostSlot& slot = cache.index[probe_address(cache, address)];
  return slot.position != 0 ? &cache.entries[slot.position - 1].leaf : nullptr;
}

void host_cache_prefetch(const HostCache& cache, HostAddress address) {
  if (!cache.index.empty()) {
    __builtin_prefetch(&cache.index[bucket_of(address, cache.index.size() - 1)]);
  }
}

HostLeaf& host_cache_entry(HostCache& cache, HostAddress address, bool& made) {
  made = false;
  std::size_t bucket = 0;
  if (!cache.index.empty()) {
    bucket = probe_address(cache, address);
    if (cache.index[bucket].position != 0) {
      return cache.entries[cache.index[bucket].position - 1].leaf;
    }
  }
  made = true;
  cache.changes += 1;
  cache.entries.push_back(HostEntry{address, HostLeaf{}});
  if (cache.entries.size() * 2 > cache.index.size()) {
    // Made again twice as long, with every entry in it.
    cache.index.assign(std::max<std::size_t>(1024, cache.index.size() * 2), HostSlot{});
    for (std::size_t position = 0; position < cache.entries.size(); ++position) {
      const HostAddress held = cache.entries[position].address;
      cache.index[probe_address(cache, held)] = HostSlot{held, static_cast<uint32_t>(position + 1)};
    }
  } else {
    // The probe above ended on the bucket the new entry takes.
    cache.index[bucket] = HostSlot{address, static_cast<uint32_t>(cache.entries.size())};
  }
  return cache.entries.back().leaf;
}

void set_host_name(HostCache& cache, HostLeaf& leaf, std::string_view name) {
  leaf.name.assign(name.substr(0, kHostNameLimit), &cache.names);
}

std::vector<const HostEntry*> host_cache_in_order(const HostCache& cache) {
  std::vector<std::pair<HostAddress, uint32_t>> by_address;
  by_address.reserve(cache.entries.size());
  for (std::size_t position = 0; position < cache.entries.size(); ++position) {
    by_address.emplace_back(cache.entries[position].address, static_cast<uint32_t>(position));
  }
  radix_sort_by_value(by_address);
  std::vector<const HostEntry*> ordered;
  ordered.reserve(by_address.size());
  for (const auto& [address, position] : by_address) ordered.push_back(&cache.entries[position]);
  return ordered;
}

void host_insert(std::string_view address_text, std::string_view name, int32_t day) {
  HostAddress address = 0;
  if (!parse_address(address_text, address)) return;
  bool made = false;
  HostLeaf& leaf = host_cache_entry(hosts.cache, address, made);
  hosts.cache.changes += 1;
  if (!name.empty()) set_host_name(hosts.cache, leaf, name);
  // Every entry without a name is in `unnamed`: an entry that had one keeps it.
  if (made && leaf.name.empty()) hosts.unnamed.push_back(address);
  if (day != 0) leaf.day = day;
}

std::string host_lookup(std::string_view address_text) {
  HostAddress address = 0;
  if (!parse_address(address_text, address)) return kNotCachedName;
  const HostLeaf* found = host_cache_find(hosts.cache, address);
  return found != nullptr ? std::string(found->name.view()) : kNotCachedName;
}

bool dns_available() { return hosts.dns_available; }

void host_cache_load() {
  const std::string& path = settings.host_file;
  console_write(messages_line(MessageId::kReadingHostNames) + " " + path + " ... ");
  if (!path_exists(path)) {
    console_line(messages_line(MessageId::kNewNames));
    error_log_entry(path, "File not found");
    return;
  }
  int64_t line_number = 1;
  // Line by line: the file of a busy site holds hundreds of thousands.
  for_each_text_line(path, [&line_number](std::string_view line) {
    load_host_line(line, line_number);
    ++line_number;
  });
  console_line(std::to_string(line_number) + messages_line(MessageId::kEntries));
}

namespace {

// The modification time of a file, in nanoseconds.
int64_t modified_ns(const struct stat& info) {
  return info.st_mtim.tv_sec * int64_t{1000000000} + info.st_mtim.tv_nsec;
}

// Whether `info` is the file that the run's last save wrote to `path`.
bool is_saved_file(const std::string& path, const struct stat& info) {
  const SavedHostFile& saved = hosts.saved;
  return saved.valid && saved.path == path && saved.device == info.st_dev &&
         saved.inode == info.st_ino && saved.size == info.st_size &&
         saved.modified_ns == modified_ns(info);
}

// Keeps the file at `path` when it holds the cache as it is (see
// host_cache_save): true when it did, with the backup made a second name of
// it.
bool keep_unchanged_file(const std::string& path, const std::string& backup) {
  struct stat info {};
  if (hosts.saved.changes != hosts.cache.changes || stat(path.c_str(), &info) != 0 ||
      !is_saved_file(path, info)) {
    return false;
  }
  if (path_exists(backup)) unlink(backup.c_str());
  return link(path.c_str(), backup.c_str()) == 0;
}

// Notes the file just written to `path` as holding the cache as it is.
void remember_saved_file(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    hosts.saved = SavedHostFile{};
    return;
  }
  hosts.saved = SavedHostFile{.valid = true,
                              .changes = hosts.cache.changes,
                              .path = path,
                              .device = info.st_dev,
                              .inode = info.st_ino,
                              .size = info.st_size,
                              .modified_ns = modified_ns(info)};
}

}  // namespace

void host_cache_save() {
  const std::string& path = settings.host_file;
  console_write(messages_line(MessageId::kSavingHostNames) + " ");
  if (hosts.cache.entries.empty()) {
    console_line(messages_line(MessageId::kCacheEmpty));
    error_log_entry(path, "IP-list is empty, not saved");
    return;
  }
  const std::string backup = path + "~";
  if (keep_unchanged_file(path, backup)) {
    console_line(std::to_string(hosts.cache.entries.size()) + " " +
                 messages_line(MessageId::kEntries));
    return;
  }
  // The file is written a part at a time: a busy site's cache makes tens
  // of megabytes of lines. The entries made in this run lie in the order
  // their clients came, and their names anywhere: each entry is asked for a
  // few lines ahead, and its name (reached through it) half as many.
  const std::vector<const HostEntry*> ordered = host_cache_in_order(hosts.cache);
  constexpr std::size_t kPartBytes = std::size_t{1} << 20;
  constexpr std::size_t kAhead = 8;
  std::string part;
  std::size_t i = 0;
  const auto next_part = [&]() -> std::string_view {
    part.clear();
    for (; i < ordered.size() && part.size() < kPartBytes; ++i) {
      if (i + 2 * kAhead < ordered.size()) __builtin_prefetch(ordered[i + 2 * kAhead]);
      if (i + kAhead < ordered.size()) __builtin_prefetch(ordered[i + kAhead]->leaf.name.data());
      const HostEntry& entry = *ordered[i];
      append_address(part, entry.address);
      part += '=';
      part += entry.leaf.name;
      part += ';';
      append_number(part, entry.leaf.day);
      part += '\n';
    }
    return part;
  };
  // The complete new file exists before the previous one is touched, so a
  // failed write costs neither the file nor its backup. The previous file
  // gets the backup name as a second link and the new file then replaces it
  // in one rename, so that `path` names a complete file at every moment, also
  // when the run is killed in between; a file system without hard links has
  // the previous file renamed instead.
  const std::string temporary = write_temporary_file_in_parts(path, next_part);
  if (path_exists(backup)) unlink(backup.c_str());
  if (path_exists(path) && link(path.c_str(), backup.c_str()) != 0 &&
      std::rename(path.c_str(), backup.c_str()) != 0) {
    console_line(messages_line(MessageId::kNoBackup));
    error_log_entry(path, "Failed renaming to " + backup);
  }
  replace_file(temporary, path);
  remember_saved_file(path);
  console_line(std::to_string(hosts.cache.entries.size()) + " " +
               messages_line(MessageId::kEntries));
}

void host_cache_free() {
  hosts.cache = HostCache{};
  hosts.saved = SavedHostFile{};
  hosts.unnamed.clear();
}

}  // namespace sorvik
