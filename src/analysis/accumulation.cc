#include "analysis/accumulation.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/message_table.h"
#include "base/text.h"
#include "hosts/host_cache.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"
#include "report/period_report.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"
#include "stats/search_keywords.h"
#include "stats/text_hash.h"

namespace sorvik {

namespace {

constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";

// Sets every staged value of one request except the key, which changes from
// one add to the next. The extra (the latest page of the client list) is
// staged only while the clients are not owed their pages.
void stage_request(const RequestInfo& info, bool client_pages_owed) {
  EntryValues& entry = lists.current_entry;
  if (info.is_page && !client_pages_owed) {
    entry.extra.assign(info.path);
  } else {
    entry.extra.clear();
  }
  entry.hits = 1;
  entry.kbytes = info.kbytes;
  entry.time = info.time;
  entry.visits = 1;
}

void add_key(int slot, std::string_view key) { list_add_key(slot, key, list_key_hash(key)); }

// Counts the agents held for the stretch into the agent lists, and empties
// their list for the agents to come. The later ones merge into the lists as
// a later stretch's merge into a period's: what the lists show stays exact.
void count_stretch_agents(StretchTally& tally) {
  count_agent_list(tally.stretch_agents, kAgentNames, kBrowsers, kOperatingSystems);
  empty_list(tally.stretch_agents);
}

// Counts the referrer of a page request as internal, as a search query or as
// external. The own site is reached by "http://" and by "https://" alike.
void count_referrer(const LogRecord& record) {
  const std::string_view referrer = record.field[kFieldReferrer];
  const std::string_view server = record.field[kFieldServerHost];
  const std::string_view scheme =
      referrer.starts_with(kSecureScheme) ? kSecureScheme : kPlainScheme;
  // The own site's address is a text like any other, so it holds at most 255 bytes.
  const std::size_t own_length = std::min(scheme.size() + server.size(), kTextLimit);
  const std::size_t server_length = own_length - scheme.size();
  const bool internal =
      referrer.size() >= own_length && same_text(referrer.substr(0, scheme.size()), scheme) &&
      same_text(referrer.substr(scheme.size(), server_length), server.substr(0, server_length));
  if (internal) {
    const std::string_view rest = referrer.substr(own_length);
    add_key(kInternalReferrers, rest.empty() ? std::string_view("/") : rest);
    return;
  }
  if (!extract_search_keyword(referrer)) add_key(kExternalReferrers, referrer);
}

// The top-level domain of a named client key, in lower case, into `domain`;
// clients without a host name (their key ends in ")") count under one common
// text.
void domain_of(std::string_view key, std::string& domain) {
  if (!key.empty() && key.back() == ')') {
    domain.assign(messages_line(MessageId::kUnresolved));
  } else {
    // The search starts before the last character, so a trailing "." is kept.
    const std::size_t dot = key.size() < 2 ? std::string::npos : key.rfind('.', key.size() - 2);
    domain.assign(dot == std::string::npos ? key : key.substr(dot + 1));
  }
  for (char& c : domain) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

// Stages a client's totals under another key for the lists derived from the
// client list. The derived lists never read their extras.
void stage_client(const ListEntry& client) {
  EntryValues& entry = lists.current_entry;
  entry.extra.clear();
  entry.hits = client.hits;
  entry.kbytes = client.kbytes;
  entry.time = client.time;
  entry.visits = client.visits;
}

// The client at position i (from 1) of the client list, for a walk over
// all of them: a sort has scattered their texts in memory, so those of the
// clients a few places on are asked for now.
const ListEntry* client_ahead(int32_t i) {
  constexpr int32_t kAhead = 8;
  if (const ListEntry* later = list_entry_at(kClients, i + kAhead)) {
    __builtin_prefetch(later->key.data());
    __builtin_prefetch(later->extra.data());
  }
  return list_entry_at(kClients, i);
}

std::string period_title(const std::string& number_text, const std::string& year_text, int mode) {
  std::string title;
  if (mode == kModeYears) {
    title = messages_line(MessageId::kYear) + " " + year_text;
  } else {
    title = messages_line(mode == kModeMonths ? MessageId::kMonth : MessageId::kWeek) + " " +
            number_text + " " + messages_line(MessageId::kOf) + " " + year_text;
  }
  cut_text_in_place(title);
  return title;
}

// The "Return codes" line for a status key: searched from the group's last
// line down to its line 1; nullptr when no line's first three bytes are the key.
const std::string* status_text(const std::string& key) {
  const int first = message_table.group_start[kReturnCodes] + 1;
  const int last = message_table.group_end[kReturnCodes];
  for (int entry = last; entry >= first; --entry) {
    if (entry < 1 || entry > kMessageEntries) continue;
    const std::string& line = message_table.entries[entry];
    if (chars_at(line, 1, 3) == key) return &line;
  }
  return nullptr;
}

void name_status_codes() {
  const int32_t count = list_snapshot(kStatusCodes).count;
  for (int32_t i = 1; i <= count; ++i) {
    if (!list_fetch(kStatusCodes, i)) break;
    const std::string key = lists.current_entry.key;
    if (const std::string* line = status_text(key)) {
      list_rename(kStatusCodes, key, *line);
      continue;
    }
    error_log_entry(
        analysis.current_log_path,
        "Unknown return code in line " + std::to_string(analysis.record_number) + ": " + key);
    console_line(messages_line(MessageId::kUnknownStatusCode) + " " + key + "!");
    list_rename(kStatusCodes, key, return_codes_line(ReturnCodesId::kUnknownCode));
  }
}

// The large lists' buckets are asked for this many records ahead, and their
// entries (found through those buckets, which have arrived by then) this
// many: a record's own adds then mostly find what they touch in the cache.
// Whether a path is a page is not known that early; asking the pages for a
// path that is none costs one bucket that finds nothing.
constexpr std::size_t kBucketsAhead = 4;
constexpr std::size_t kEntriesAhead = 2;
// The paths' and directories' keys are mostly longer than an entry holds
// in itself: their bytes, found through those entries, are asked for one
// record ahead, since comparing them waited for the memory most of all.
constexpr std::size_t kKeysAhead = 1;

// The list that a request for a path of this kind goes to besides the
// file list: pages, GIF or JPEG images; 0 for none.
int path_list_of(bool is_page, std::string_view extension) {
  if (is_page) return kPages;
  if (same_text(extension, ".GIF")) return kGifImages;
  if (same_text(extension.substr(0, 3), ".JP")) return kJpegImages;
  return 0;
}

void prefetch_ahead(bool pages, bool directories) {
  // A page or directory list made from the file list later is not touched now.
  RecordHints hints;
  if (peek_record_hints(kBucketsAhead, hints)) {
    list_prefetch_bucket(kClients, hints.client);
    list_prefetch_bucket(kFiles, hints.path);
    if (pages) list_prefetch_bucket(kPages, hints.path);
    if (directories) list_prefetch_bucket(kDirectories, hints.directory);
  }
  if (peek_record_hints(kEntriesAhead, hints)) {
    list_prefetch_entry(kClients, hints.client);
    list_prefetch_entry(kFiles, hints.path);
    if (pages) list_prefetch_entry(kPages, hints.path);
    if (directories) list_prefetch_entry(kDirectories, hints.directory);
  }
  if (peek_record_hints(kKeysAhead, hints)) {
    list_prefetch_key(kFiles, hints.path);
    if (directories) list_prefetch_key(kDirectories, hints.directory);
  }
}

// Notes that the client at `client_at` asked last for the page of the file
// at `file_at` (positions from 0).
void note_client_page(StretchTally& tally, std::size_t client_at, std::size_t file_at) {
  std::vector<uint32_t>& pages = tally.client_pages;
  if (client_at >= pages.size()) pages.resize(client_at + 1, 0);
  pages[client_at] = static_cast<uint32_t>(file_at + 1);
}

// Counts the request's agent. An unknown agent is also counted in
// kUnknownBrowsers or kUnknownOpsys with values of its own; the request's
// staged values are handed back afterwards.
void count_request_agent(std::string_view agent, StretchTally* tally) {
  if (tally != nullptr && tally->agents_owed && agent.size() > kTextLimit) {
    make_agent_lists(*tally);
  }
  if (tally != nullptr && tally->agents_owed) {
    list_add_repeating(tally->stretch_agents, agent);
    if (tally->stretch_agents.entries.size() >= kStretchAgentsHeld) count_stretch_agents(*tally);
  } else {
    count_agent(agent, kAgentNames, kBrowsers, kOperatingSystems);
  }
}

}  // namespace

void count_request(const LogRecord& record, const RequestInfo& info, StretchTally* tally) {
  EntryValues& entry = lists.current_entry;
  // Without a tally nothing is owed.
  const bool pages_owed = tally != nullptr && tally->path_lists_owed;
  const bool directories_owed = tally != nullptr && tally->directories_owed;
  const bool client_pages_owed = tally != nullptr && tally->client_pages_owed;
  stage_request(info, client_pages_owed);
  prefetch_ahead(!pages_owed, !directories_owed);

  // The lists not asked for ahead (images, pages not found) are asked for
  // their buckets and then their entries before any add, so that the loads
  // overlap.
  const bool not_found = same_text(record.field[kFieldStatus], "404");
  const int path_list = path_list_of(info.is_page, info.extension);
  // The keys were hashed as the line was cut, unless the request's path is
  // not the one its request line names.
  RecordHints hints;
  const bool hinted = current_record_hints(record, hints);
  if (!hinted) hints.client = list_key_hash(record.field[kFieldClient]);
  const bool path_hinted = hinted && hints.path_size == info.path.size();
  if (!path_hinted) hints.path = list_key_hash(info.path);
  const uint32_t client_hash = hints.client;
  const uint32_t path_hash = hints.path;
  if (path_list != kPages && path_list != 0) list_prefetch_bucket(path_list, path_hash);
  if (not_found) list_prefetch_bucket(kNotFound, path_hash);
  if (path_list != kPages && path_list != 0) list_prefetch_entry(path_list, path_hash);
  if (not_found) list_prefetch_entry(kNotFound, path_hash);

  std::size_t client_at = 0;
  const bool new_client =
      list_add_key(kClients, record.field[kFieldClient], client_hash, client_at);
  // Only the client list's extra (the client's latest page) is ever read, so
  // the other lists are spared a copy of the path on every add.
  entry.extra.clear();
  if (new_client && info.is_page) list_add_key(kEntryPages, info.path, path_hash);
  if (new_client && tally != nullptr) {
    tally->first_requests.push_back(FirstRequest{
        info.is_page, info.is_page ? info.path : std::string(), info.kbytes, info.time});
  }

  if (info.path.size() > kTextLimit && tally != nullptr) {
    if (tally->path_lists_owed) make_path_lists(*tally);
    if (tally->directories_owed) make_directory_list(*tally);
  }
  std::size_t file_at = 0;
  list_add_key(kFiles, info.path, path_hash, file_at);
  // The file entry's key is the path cut as the client's extra would be;
  // a page request with an empty path leaves the extra as it is.
  if (tally != nullptr && tally->client_pages_owed && info.is_page && !info.path.empty()) {
    note_client_page(*tally, client_at, file_at);
  }
  if (path_list != 0 && !(tally != nullptr && tally->path_lists_owed)) {
    list_add_key(path_list, info.path, path_hash);
  }

  if (!(tally != nullptr && tally->directories_owed)) {
    const std::string_view directory = directory_of(info.path);
    const bool directory_hinted = path_hinted && record_hints_have_directory();
    list_add_key(kDirectories, directory,
                 directory_hinted ? hints.directory : list_key_hash(directory));
  }

  // Referrers of requests that are not pages are not counted anywhere.
  if (info.is_page) count_referrer(record);

  list_add_repeating(kStatusCodes, record.field[kFieldStatus]);
  if (not_found) list_add_key(kNotFound, info.path, path_hash);

  count_request_agent(record.field[kFieldAgent], tally);

  list_add_repeating(kHours, chars_at(record.field[kFieldTimeStamp], 14, 15));
}

void reset_stretch_tally(StretchTally& tally) {
  tally = StretchTally{};
  tally.stretch_agents.keep_first_times = true;
}

void settle_stretch_tally(StretchTally& tally) {
  if (tally.path_lists_owed) make_path_lists(tally);
  if (tally.directories_owed) make_directory_list(tally);
  if (tally.agents_owed) make_agent_lists(tally);
  if (tally.client_pages_owed) give_client_pages(tally);
}

void make_path_lists(StretchTally& tally) {
  tally.path_lists_owed = false;
  const CountedList& files = list_snapshot(kFiles);
  std::string extension;
  bool is_page = true;
  for (std::size_t i = 0; i < files.entries.size(); ++i) {
    const ListEntry& file = files.entries[i];
    // Every key so far is a whole path, so it tells the path's kind.
    classify_path(file.key, extension, is_page);
    const int slot = path_list_of(is_page, extension);
    if (slot == 0) continue;
    const PackedTime first_time = list_first_time(files, i);
    list_append_view(
        lists.list_slots[slot],
        EntryView{file.key, file.extra, file.hits, file.time, file.visits, file.kbytes},
        first_time);
  }
}

void make_directory_list(StretchTally& tally) {
  tally.directories_owed = false;
  const CountedList& files = list_snapshot(kFiles);
  CountedList& directories = lists.list_slots[kDirectories];
  for (std::size_t i = 0; i < files.entries.size(); ++i) {
    const ListEntry& file = files.entries[i];
    // Every key so far is a whole path, so it tells the path's directory.
    const std::string_view directory = directory_of(file.key);
    const PackedTime first_time = list_first_time(files, i);
    // The file's requests merge into its directory as a later stretch's
    // entry merges into a period's.
    list_merge_view(directories,
                    EntryView{directory, {}, file.hits, file.time, file.visits, file.kbytes},
                    first_time, list_key_hash(directory));
  }
}

void make_agent_lists(StretchTally& tally) {
  tally.agents_owed = false;
  count_stretch_agents(tally);
}

void give_client_pages(StretchTally& tally) {
  std::vector<ListEntry>& clients = lists.list_slots[kClients].entries;
  TextArena* client_texts = lists.list_slots[kClients].texts.arena.get();
  const std::vector<ListEntry>& files = list_snapshot(kFiles).entries;
  std::vector<uint32_t>& pages = tally.client_pages;
  const std::size_t noted = std::min(pages.size(), clients.size());
  for (std::size_t i = 0; i < noted; ++i) {
    if (pages[i] == 0 || pages[i] > files.size()) continue;
    clients[i].extra.assign(files[pages[i] - 1].key, client_texts);
  }
  pages.clear();
}

void flush_period(const std::string& page_name, const std::string& number_text,
                  const std::string& year_text, int mode) {
  name_period_hosts();
  console_write(messages_line(MessageId::kWritingReports) + " ");
  open_period_report(page_name, period_title(number_text, year_text, mode));

  write_top_table(kClients, kByHits);
  write_top_table(kClients, kByKbytes);

  // The derived lists walk the clients in the order the last table left them.
  // The entries are read in place: copying each one into current_entry
  // would cost more than the adds themselves.
  const int32_t clients = list_snapshot(kClients).count;
  std::size_t repeat_clients = 0;
  for (const ListEntry& client : list_snapshot(kClients).entries) {
    if (client.visits > 1) repeat_clients += 1;
  }
  list_reserve(kRepeatClients, repeat_clients);
  for (int32_t i = 1; i <= clients; ++i) {
    const ListEntry* client = client_ahead(i);
    if (client->visits <= 1) continue;
    stage_client(*client);
    list_add_key(kRepeatClients, client->key, list_key_hash(client->key));
  }
  write_top_table(kRepeatClients, kByVisits);

  for (int32_t i = 1; i <= clients; ++i) {
    const ListEntry* client = client_ahead(i);
    stage_client(*client);
    domain_of(client->key, lists.current_entry.key);
    list_add(kDomains);
  }
  write_top_table(kDomains, kByHits);
  write_top_table(kDirectories, kByHits);
  write_top_table(kDirectories, kByKbytes);
  write_top_table(kFiles, kByHits);
  write_top_table(kFiles, kByKbytes);
  write_top_table(kPages, kByHits);
  write_top_table(kPages, kByKbytes);
  write_top_table(kJpegImages, kByHits);
  write_top_table(kGifImages, kByHits);
  write_top_table(kEntryPages, kByHits);

  for (int32_t i = 1; i <= clients; ++i) {
    const ListEntry* client = client_ahead(i);
    // The exit page is the client's latest page, kept as the entry's extra.
    stage_client(*client);
    lists.current_entry.hits = 1;
    list_add_key(kExitPages, client->extra, list_key_hash(client->extra));
  }
  write_top_table(kExitPages, kByHits);

  write_top_table(kInternalReferrers, kByHits);
  write_top_table(kExternalReferrers, kByHits);
  write_top_table(kSearchEngines, kByHits);
  write_top_table(kSearchPhrases, kByHits);

  name_status_codes();
  write_top_table(kStatusCodes, kByHits);
  write_top_table(kNotFound, kByHits);
  write_top_table(kAgentNames, kByHits);
  write_top_table(kBrowsers, kByHits);
  write_top_table(kOperatingSystems, kByHits);
  write_top_table(kHours, kByKey);

  // Halves go to the even neighbour under the default rounding mode.
  const long double kilobytes = std::nearbyintl(analysis.period_bytes / 1024.0L);
  close_period_report(static_cast<int64_t>(kilobytes));

  clear_period_lists();
  analysis.period_bytes = 0;
  console_line(messages_line(MessageId::kDone));
}

}  // namespace sorvik
