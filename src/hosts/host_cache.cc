#include "hosts/host_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <vector>

#include "driver/clock.h"
#include "driver/console.h"
#include "driver/error_log.h"
#include "driver/file_io.h"
#include "driver/message_table.h"
#include "driver/run_stop.h"
#include "driver/settings.h"

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

void host_insert(std::string_view address_text, std::string_view name, int32_t day) {
  HostAddress address = 0;
  if (!parse_address(address_text, address)) return;
  // The file is kept in address order, so a load mostly adds at the end.
  std::map<HostAddress, HostLeaf>& cache = hosts.cache;
  auto at = !cache.empty() && std::prev(cache.end())->first < address ? cache.end()
                                                                      : cache.lower_bound(address);
  const bool made = at == cache.end() || at->first != address;
  if (made) at = cache.emplace_hint(at, address, HostLeaf{});
  HostLeaf& leaf = at->second;
  if (!name.empty()) leaf.name = std::string(name.substr(0, kHostNameLimit));
  // Every entry without a name is in `unnamed`: an entry that had one keeps it.
  if (made && leaf.name.empty()) hosts.unnamed.push_back(address);
  if (day != 0) leaf.day = day;
}

std::string host_lookup(std::string_view address_text) {
  HostAddress address = 0;
  if (!parse_address(address_text, address)) return kNotCachedName;
  const auto found = hosts.cache.find(address);
  if (found == hosts.cache.end()) return kNotCachedName;
  return found->second.name;
}

bool dns_available() { return hosts.dns_available; }

void host_cache_load() {
  const std::string& path = settings.host_file;
  console_write(messages_line(21) + " " + path + " ... ");
  if (!path_exists(path)) {
    console_line(messages_line(23));
    error_log_entry(path, "File not found");
    return;
  }
  int64_t line_number = 1;
  // Line by line: the file of a busy site holds hundreds of thousands.
  for_each_text_line(path, [&line_number](std::string_view line) {
    load_host_line(line, line_number);
    ++line_number;
  });
  console_line(std::to_string(line_number) + messages_line(12));
}

void host_cache_save() {
  const std::string& path = settings.host_file;
  console_write(messages_line(29) + " ");
  if (hosts.cache.empty()) {
    console_line(messages_line(27));
    error_log_entry(path, "IP-list is empty, not saved");
    return;
  }
  std::string content;
  // An address, a name of a few dozen bytes and a day number per line.
  content.reserve(hosts.cache.size() * 64);
  for (const auto& [address, leaf] : hosts.cache) {
    append_address(content, address);
    content += '=';
    content += leaf.name;
    content += ';';
    append_number(content, leaf.day);
    content += '\n';
  }
  // The complete new file exists before the previous one is touched, so a
  // failed write costs neither the file nor its backup. The previous file
  // gets the backup name as a second link and the new file then replaces it
  // in one rename, so that `path` names a complete file at every moment, also
  // when the run is killed in between; a file system without hard links has
  // the previous file renamed instead.
  const std::string temporary = write_temporary_file(path, content);
  const std::string backup = path + "~";
  if (path_exists(backup)) unlink(backup.c_str());
  if (path_exists(path) && link(path.c_str(), backup.c_str()) != 0 &&
      std::rename(path.c_str(), backup.c_str()) != 0) {
    console_line(messages_line(28));
    error_log_entry(path, "Failed renaming to " + backup);
  }
  replace_file(temporary, path);
  console_line(std::to_string(hosts.cache.size()) + " " + messages_line(12));
}

void host_cache_free() {
  hosts.cache.clear();
  hosts.unnamed.clear();
}

}  // namespace sorvik
