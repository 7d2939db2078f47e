// Counting one request into the period lists, and ending a period.
#ifndef SORVIK_ANALYSIS_ACCUMULATION_H_
#define SORVIK_ANALYSIS_ACCUMULATION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/log_record.h"

namespace sorvik {

// How a counting child counts a stretch of a file (its records between two
// changes of month or year), which it sends as lists of their own: some
// lists follow from others and are owed their entries until the stretch is
// sent, and each new client's first request is kept for the merging.
struct StretchTally {
  // The page and image lists are owed their entries: which of them a
  // request goes to follows from its path alone, so they are made from the
  // file list when the stretch is sent (make_path_lists) instead of being
  // added to request by request. A path longer than a held key (the reader
  // cuts its fields, so only other callers give one) has them made at once,
  // since its cut key may share a file entry with a path of another kind.
  bool path_lists_owed = true;
  // The directory list is owed its entries, like the page lists: a path
  // decides its directory, so the list is made from the file list
  // (make_directory_list). Of a directory entry only the key, the hits, the
  // kilobytes and the place in the list are ever shown, and the file list
  // gives each of them exactly; its visits and latest time are then only
  // estimated from its files'.
  bool directories_owed = true;
  // The lists of the agents' names, browsers and operating systems, and of
  // the unknown agents, are owed their entries. Each request's agent is
  // counted in `stretch_agents` alone, keyed by the agent, and those lists
  // are made from it (make_agent_lists): an agent decides its keys in them.
  // The unknown agents' entries come out as counted one by one; of a name
  // or a class only the key, the hits, the kilobytes and the place in its
  // list are shown, which it gives exactly. An agent longer than a held key
  // has them made at once; kStretchAgentsHeld agents are counted into them
  // at once, and the list starts again.
  bool agents_owed = true;
  CountedList stretch_agents;
  // The client entries are owed their latest pages (the extra of a
  // client). A page request notes where its path is in the file list under
  // its client's position in `client_pages` (that position + 1; 0 for no
  // page since the pages were last given) instead of copying the path into
  // the client's entry, which for every page request cost a copy into
  // memory that the processor caches rarely hold; give_client_pages gives
  // them.
  bool client_pages_owed = true;
  std::vector<uint32_t> client_pages;
  // Each new client's first request, in the order of the client list.
  std::vector<FirstRequest> first_requests;
};

// A tally as a counting child starts each stretch with: every list owed,
// no notes, the agents' first times kept.
void reset_stretch_tally(StretchTally& tally);

// Adds one parsed request of `record` to the period lists 1..20; with a
// tally, as a counting child counts a stretch.
void count_request(const LogRecord& record, const RequestInfo& info,
                   StretchTally* tally = nullptr);

// Gives the page and image lists, empty while tally.path_lists_owed is
// set, the entries of the file list whose paths go to them, as if each
// request had been added to them as it came; clears the flag.
void make_path_lists(StretchTally& tally);

// Gives the directory list, empty while tally.directories_owed is set, an
// entry for the directory of each entry of the file list, in the order of
// their first files, with their files' hits and kilobytes summed; clears
// the flag.
void make_directory_list(StretchTally& tally);

// The most agents tally.stretch_agents holds: at this many they are
// counted into the agent lists at once and the list starts again, so that a
// log whose agents are all different does not grow the memory with every
// request.
inline constexpr std::size_t kStretchAgentsHeld = std::size_t{1} << 14;

// Counts the agents of tally.stretch_agents into the agent name, browser,
// operating-system and unknown-agent lists (count_agent_list) and empties
// it; clears tally.agents_owed.
void make_agent_lists(StretchTally& tally);

// Gives each client noted in tally.client_pages the key of its file entry
// as its latest page (the client's extra), as if each page request had
// copied its path; clears the notes. The flag stays.
void give_client_pages(StretchTally& tally);

// Makes every list the tally owes, as the stretch is sent.
void settle_stretch_tally(StretchTally& tally);

// Ends a period: names the clients, writes the 24 ranked tables and the
// volume, and empties the period lists.
void flush_period(const std::string& page_name, const std::string& number_text,
                  const std::string& year_text, int mode);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_ACCUMULATION_H_
