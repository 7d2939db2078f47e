#include "stats/agent_classes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "stats/counted_list.h"
#include "stats/text_hash.h"

namespace sorvik {
namespace {

// Agents are classified twice per request, but a log holds few distinct
// agents; the classes found for an agent text are therefore remembered. Only
// the pattern match is remembered: an unknown agent is still counted on every
// request, and the unknown text is read from the language table each time.
struct CachedClass {
  std::string class_text;
  bool found = false;  // false: not looked for yet
  bool unknown = false;
};

// What a request's agent adds to the lists, remembered per agent text: its
// name and its class by each pattern list, with their list hashes
// (list_key_hash); an unknown class has no text here (Hosts line 7 stands
// for it when it is counted).
struct AgentKeys {
  std::string name;
  uint32_t name_hash = 0;
  bool unknown[2] = {false, false};  // by browser patterns, by operating-system patterns
  std::string class_text[2];
  uint32_t class_hash[2] = {0, 0};
};

// Both classes of one agent text, so that the operating-system call that
// follows the browser call for the same request finds its entry directly,
// and the keys the request adds for the agent.
struct AgentClasses {
  CachedClass classes[2];  // by browser patterns, by operating-system patterns
  AgentKeys keys;
  bool keys_made = false;
};

// A remembered agent text with its classes; it stays where it is until the
// whole cache is forgotten.
struct KnownAgent {
  std::string agent;
  uint64_t hash = 0;
  AgentClasses classes;
};

// What a pattern list looked like when classes were found by it: when the
// list is seen changed, every remembered class is forgotten.
struct PatternShape {
  std::size_t count = 0;
  const ListEntry* data = nullptr;
  std::string first;
  std::string last;
};

struct ClassCache {
  std::vector<std::unique_ptr<KnownAgent>> agents;
  // Open addressing over `agents`: the position of an agent (from 1) in the
  // bucket its hash leads to, 0 for an empty bucket; a power of two long,
  // at most half full.
  std::vector<uint32_t> index;
  PatternShape shapes[2];
  KnownAgent* last = nullptr;  // the agent looked up last
};

// A log whose agents are all different would otherwise grow the memory with
// every request.
constexpr std::size_t kCacheLimit = 1 << 16;

ClassCache class_cache;

int cache_side(int slot) { return slot == kBrowserPatterns ? 0 : 1; }

PatternShape shape_of(const CountedList& patterns) {
  PatternShape shape;
  shape.count = patterns.entries.size();
  shape.data = patterns.entries.data();
  if (!patterns.entries.empty()) {
    shape.first = patterns.entries.front().key;
    shape.last = patterns.entries.back().key;
  }
  return shape;
}

bool same_shape(const PatternShape& shape, const CountedList& patterns) {
  if (shape.count != patterns.entries.size() || shape.data != patterns.entries.data()) return false;
  // Asked for every request: the keys are compared without a library call.
  return patterns.entries.empty() || (same_text(shape.first, patterns.entries.front().key) &&
                                      same_text(shape.last, patterns.entries.back().key));
}

void forget_agents() {
  class_cache.agents.clear();
  class_cache.index.clear();
  class_cache.last = nullptr;
}

// Puts the last remembered agent into the index, which is made again twice
// as long first when it would be more than half full.
void index_last_agent(ClassCache& cache) {
  const auto place = [&](uint32_t position) {
    const std::size_t mask = cache.index.size() - 1;
    std::size_t i = cache.agents[position - 1]->hash & mask;
    while (cache.index[i] != 0) i = (i + 1) & mask;
    cache.index[i] = position;
  };
  const auto count = static_cast<uint32_t>(cache.agents.size());
  if (count * std::size_t{2} > cache.index.size()) {
    cache.index.assign(std::max<std::size_t>(64, cache.index.size() * 2), 0);
    for (uint32_t position = 1; position < count; ++position) place(position);
  }
  place(count);
}

// Forgets every remembered class and notes the list's present shape.
void renew_shape(int side, const CountedList& patterns) {
  forget_agents();
  class_cache.shapes[side] = shape_of(patterns);
}

// Forgets every remembered class when the pattern list of `side` is seen
// changed since classes were found by it. Asked twice for every request,
// so the check is made part of its callers.
[[gnu::always_inline]] inline void notice_pattern_change(int side, const CountedList& patterns) {
  if (!same_shape(class_cache.shapes[side], patterns)) renew_shape(side, patterns);
}

// The remembered classes of `agent`, made when absent.
AgentClasses& classes_of(std::string_view agent) {
  ClassCache& cache = class_cache;
  // Records mostly come in runs from one client with one agent, so the agent
  // looked up last is compared before any hashing.
  if (cache.last != nullptr && same_text(cache.last->agent, agent)) return cache.last->classes;
  const uint64_t hash = hash_text(agent);
  if (!cache.index.empty()) {
    const std::size_t mask = cache.index.size() - 1;
    for (std::size_t i = hash & mask; cache.index[i] != 0; i = (i + 1) & mask) {
      KnownAgent& known = *cache.agents[cache.index[i] - 1];
      if (known.hash == hash && same_text(known.agent, agent)) {
        cache.last = &known;
        return known.classes;
      }
    }
  }
  if (cache.agents.size() >= kCacheLimit) forget_agents();
  auto known = std::make_unique<KnownAgent>();
  known->agent.assign(agent);
  known->hash = hash;
  cache.agents.push_back(std::move(known));
  index_last_agent(cache);
  cache.last = cache.agents.back().get();
  return cache.last->classes;
}

// The first pattern in list order that occurs in the agent, with the agent's
// text after that occurrence up to ")", ";" or "(".
CachedClass find_class(const CountedList& patterns, std::string_view agent) {
  for (const ListEntry& pattern : patterns.entries) {
    const std::size_t at = agent.find(pattern.key);
    if (at == std::string_view::npos) continue;
    const std::size_t tail_start = at + pattern.key.size();
    const std::size_t tail_end = agent.find_first_of(")(;", tail_start);
    CachedClass match;
    match.found = true;
    match.class_text = cut_text(pattern.key);
    append_cut(match.class_text, agent.substr(tail_start, tail_end - tail_start));
    return match;
  }
  CachedClass none;
  none.found = true;
  none.unknown = true;
  return none;
}

// Counts the agent in kUnknownBrowsers or kUnknownOpsys with values of its
// own, then gives the caller back the values it staged for the request's
// further adds.
void count_unknown_agent(int slot, std::string_view agent) {
  EntryValues& entry = lists.current_entry;
  const uint64_t staged_hits = entry.hits;
  const int64_t staged_kbytes = entry.kbytes;
  const uint64_t staged_visits = entry.visits;
  assign_cut(entry.key, agent);
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

void write_unknown_file(int slot, MessageId message, const std::string& list_file,
                        std::string_view heading) {
  const std::string path = list_file + ".unknown";
  console_write(messages_line(message));
  console_write(" ");
  console_write(path);
  console_write(" ... ");
  const int32_t count = list_snapshot(slot).count;
  list_sort(slot, kByHits);
  OutputFile file = create_output(path);
  write_line(file, heading);
  for (int32_t i = 1; i <= count; ++i) {
    list_fetch(slot, i);
    write_line(file, std::to_string(lists.current_entry.hits) + ": " + lists.current_entry.key);
  }
  close_output(file);
  console_line(std::to_string(count) + messages_line(MessageId::kEntries));
}

}  // namespace

void reset_agent_class_cache() {
  forget_agents();
  for (PatternShape& shape : class_cache.shapes) shape = PatternShape{};
}

void load_agent_list(int slot) {
  EntryValues& entry = lists.current_entry;
  entry.hits = 0;
  entry.kbytes = 0;
  entry.time = 0;
  entry.visits = 0;
  const bool browsers = slot == kBrowserPatterns;
  console_write(messages_line(browsers ? MessageId::kBrowserPatterns : MessageId::kOpsysPatterns));
  console_write(" ");
  for (std::string& line :
       read_text_lines(browsers ? settings.browser_file : settings.opsys_file)) {
    if (is_comment_line(line)) continue;
    entry.key = std::move(line);
    list_add(slot);
  }
  console_line(std::to_string(list_snapshot(slot).count) + messages_line(MessageId::kEntries));
  forget_agents();
  class_cache.shapes[cache_side(slot)] = shape_of(list_snapshot(slot));
}

void classify_agent_into(int slot, std::string_view agent, std::string& out) {
  const CountedList& patterns = list_snapshot(slot);
  const int side = cache_side(slot);
  notice_pattern_change(side, patterns);
  CachedClass& cached = classes_of(agent).classes[side];
  if (!cached.found) cached = find_class(patterns, agent);
  if (!cached.unknown) {
    out.assign(cached.class_text);
    return;
  }
  count_unknown_agent(slot, agent);
  out.assign(hosts_line(HostsId::kUnknownAgentClass));
}

namespace {

// The keys of `agent`, found with one search of the remembered agents.
const AgentKeys& agent_keys(std::string_view agent) {
  const CountedList& browsers = list_snapshot(kBrowserPatterns);
  const CountedList& systems = list_snapshot(kOpsysPatterns);
  notice_pattern_change(0, browsers);
  notice_pattern_change(1, systems);
  AgentClasses& classes = classes_of(agent);
  if (!classes.keys_made) {
    AgentKeys& keys = classes.keys;
    agent_name_into(agent, keys.name);
    keys.name_hash = list_key_hash(keys.name);
    for (const int side : {0, 1}) {
      CachedClass& cached = classes.classes[side];
      if (!cached.found) cached = find_class(side == 0 ? browsers : systems, agent);
      keys.unknown[side] = cached.unknown;
      keys.class_text[side] = cached.class_text;
      keys.class_hash[side] = list_key_hash(cached.class_text);
    }
    classes.keys_made = true;
  }
  return classes.keys;
}

}  // namespace

void count_agent(std::string_view agent, int name_slot, int browser_slot, int opsys_slot) {
  const AgentKeys& keys = agent_keys(agent);
  list_add_key(name_slot, keys.name, keys.name_hash);
  const int class_slots[2] = {browser_slot, opsys_slot};
  for (const int side : {0, 1}) {
    if (!keys.unknown[side]) {
      list_add_key(class_slots[side], keys.class_text[side], keys.class_hash[side]);
      continue;
    }
    count_unknown_agent(side == 0 ? kBrowserPatterns : kOpsysPatterns, agent);
    const std::string& unknown = hosts_line(HostsId::kUnknownAgentClass);
    list_add_key(class_slots[side], unknown, list_key_hash(unknown));
  }
}

void count_agent_list(const CountedList& agents, int name_slot, int browser_slot, int opsys_slot) {
  const std::string& unknown = hosts_line(HostsId::kUnknownAgentClass);
  const uint32_t unknown_hash = list_key_hash(unknown);
  const int class_slots[2] = {browser_slot, opsys_slot};
  for (std::size_t i = 0; i < agents.entries.size(); ++i) {
    const ListEntry& agent = agents.entries[i];
    const PackedTime first_time = list_first_time(agents, i);
    // The agent's requests merge into each of its keys as a later stretch's
    // entry merges into a period's.
    const auto merge = [&](int slot, std::string_view key, uint32_t hash, int64_t kbytes) {
      list_merge_view(lists.list_slots[slot],
                      EntryView{key, {}, agent.hits, agent.time, agent.visits, kbytes}, first_time,
                      hash);
    };
    const AgentKeys& keys = agent_keys(agent.key);
    merge(name_slot, keys.name, keys.name_hash, agent.kbytes);
    for (const int side : {0, 1}) {
      if (!keys.unknown[side]) {
        merge(class_slots[side], keys.class_text[side], keys.class_hash[side], agent.kbytes);
        continue;
      }
      // A kilobyte for each request, as count_unknown_agent counts one.
      merge(side == 0 ? kUnknownBrowsers : kUnknownOpsys, agent.key, list_key_hash(agent.key),
            static_cast<int64_t>(agent.hits));
      merge(class_slots[side], unknown, unknown_hash, agent.kbytes);
    }
  }
}

std::string classify_agent(int slot, std::string_view agent) {
  std::string out;
  classify_agent_into(slot, agent, out);
  return out;
}

void agent_name_into(std::string_view agent, std::string& out) {
  if (agent.size() < 20 && agent.find('(') == std::string_view::npos) {
    assign_cut(out, agent);
    return;
  }
  assign_cut(out, agent.substr(0, agent.find_first_of(" (")));
}

std::string agent_name(std::string_view agent) {
  std::string out;
  agent_name_into(agent, out);
  return out;
}

void write_unknown_lists() {
  write_unknown_file(kUnknownBrowsers, MessageId::kUnknownBrowsers, settings.browser_file,
                     "List of unknown browsers");
  write_unknown_file(kUnknownOpsys, MessageId::kUnknownOpsys, settings.opsys_file,
                     "List of unknown operating systems");
}

}  // namespace sorvik
