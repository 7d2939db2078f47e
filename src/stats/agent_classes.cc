#include "stats/agent_classes.h"

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

#include "driver/console.h"
#include "driver/file_io.h"
#include "driver/message_table.h"
#include "driver/settings.h"
#include "driver/text.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// Agents are classified twice per request, but a log holds few distinct
// agents; the class found for an agent text is therefore remembered. Only the
// pattern match is remembered: an unknown agent is still counted on every
// request, and the unknown text is read from the language table each time.
struct CachedClass {
  std::string class_text;
  bool unknown = false;
};

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The remembered classes of one pattern list, and what that list looked like
// when they were found: when the list is seen changed, they are forgotten.
struct PatternCache {
  std::unordered_map<std::string, CachedClass, TextHash, std::equal_to<>> classes;
  std::size_t pattern_count = 0;
  const ListEntry* pattern_data = nullptr;
  std::string first_pattern;
  std::string last_pattern;
};

// A log whose agents are all different would otherwise grow the memory with
// every request.
constexpr std::size_t kCacheLimit = 1 << 16;

PatternCache pattern_caches[2];  // browser patterns, operating-system patterns

PatternCache& cache_for(int slot) { return pattern_caches[slot == kBrowserPatterns ? 0 : 1]; }

void forget_classes(PatternCache& cache, const CountedList& patterns) {
  cache.classes.clear();
  cache.pattern_count = patterns.entries.size();
  cache.pattern_data = patterns.entries.data();
  cache.first_pattern = patterns.entries.empty() ? std::string() : patterns.entries.front().key;
  cache.last_pattern = patterns.entries.empty() ? std::string() : patterns.entries.back().key;
}

bool cache_matches(const PatternCache& cache, const CountedList& patterns) {
  if (cache.pattern_count != patterns.entries.size() ||
      cache.pattern_data != patterns.entries.data()) {
    return false;
  }
  return patterns.entries.empty() || (cache.first_pattern == patterns.entries.front().key &&
                                      cache.last_pattern == patterns.entries.back().key);
}

// The first pattern in list order that occurs in the agent, with the agent's
// text after that occurrence up to ")", ";" or "(".
CachedClass find_class(const CountedList& patterns, std::string_view agent) {
  for (const ListEntry& pattern : patterns.entries) {
    const std::size_t at = agent.find(pattern.key);
    if (at == std::string_view::npos) continue;
    const std::size_t tail_start = at + pattern.key.size();
    const std::size_t tail_end = agent.find_first_of(")(;", tail_start);
    CachedClass found;
    found.class_text = cut_text(pattern.key);
    append_cut(found.class_text, agent.substr(tail_start, tail_end - tail_start));
    return found;
  }
  CachedClass none;
  none.unknown = true;
  return none;
}

// Counts the agent in list 25 or 26 with values of its own, then gives the
// caller back the values it staged for the request's further adds.
void count_unknown_agent(int slot, std::string_view agent) {
  EntryValues& entry = lists.current_entry;
  const uint64_t staged_hits = entry.hits;
  const int64_t staged_kbytes = entry.kbytes;
  const uint64_t staged_visits = entry.visits;
  entry.key = cut_text(agent);
  entry.hits = 1;
  entry.kbytes = 1;
  entry.visits = 1;
  list_add(slot == kBrowserPatterns ? kUnknownBrowsers : kUnknownOpsys);
  entry.hits = staged_hits;
  entry.kbytes = staged_kbytes;
  entry.visits = staged_visits;
}

bool is_comment_line(const std::string& line) {
  return line.empty() || line[0] == '/' || line[0] == '*';
}

void write_unknown_file(int slot, int message, const std::string& list_file,
                        std::string_view heading) {
  const std::string path = list_file + ".unknown";
  console_write(messages_line(message));
  console_write(" ");
  console_write(path);
  console_write(" ... ");
  const int32_t count = list_snapshot(slot).count;
  list_sort(slot, 2);
  OutputFile file = create_output(path);
  write_line(file, heading);
  for (int32_t i = 1; i <= count; ++i) {
    list_fetch(slot, i);
    write_line(file, std::to_string(lists.current_entry.hits) + ": " + lists.current_entry.key);
  }
  close_output(file);
  console_line(std::to_string(count) + messages_line(12));
}

}  // namespace

void reset_agent_class_cache() {
  for (PatternCache& cache : pattern_caches) cache = PatternCache{};
}

void load_agent_list(int slot) {
  EntryValues& entry = lists.current_entry;
  entry.hits = 0;
  entry.kbytes = 0;
  entry.time = 0;
  entry.visits = 0;
  const bool browsers = slot == kBrowserPatterns;
  console_write(messages_line(browsers ? 38 : 39));
  console_write(" ");
  for (std::string& line : read_text_lines(browsers ? settings.browser_file : settings.opsys_file)) {
    if (is_comment_line(line)) continue;
    entry.key = std::move(line);
    list_add(slot);
  }
  console_line(std::to_string(list_snapshot(slot).count) + messages_line(12));
  forget_classes(cache_for(slot), list_snapshot(slot));
}

std::string classify_agent(int slot, std::string_view agent) {
  const CountedList& patterns = list_snapshot(slot);
  PatternCache& cache = cache_for(slot);
  if (!cache_matches(cache, patterns)) forget_classes(cache, patterns);

  auto known = cache.classes.find(agent);
  if (known == cache.classes.end()) {
    if (cache.classes.size() >= kCacheLimit) cache.classes.clear();
    known = cache.classes.emplace(std::string(agent), find_class(patterns, agent)).first;
  }
  if (!known->second.unknown) return known->second.class_text;
  count_unknown_agent(slot, agent);
  return hosts_line(7);
}

std::string agent_name(std::string_view agent) {
  if (agent.size() < 20 && agent.find('(') == std::string_view::npos) return cut_text(agent);
  return cut_text(agent.substr(0, agent.find_first_of(" (")));
}

void write_unknown_lists() {
  write_unknown_file(kUnknownBrowsers, 36, settings.browser_file, "List of unknown browsers");
  write_unknown_file(kUnknownOpsys, 37, settings.opsys_file, "List of unknown operating systems");
}

}  // namespace sorvik
