// Counting one request into the period lists, and ending a period.
#ifndef SORVIK_ANALYSIS_ACCUMULATION_H_
#define SORVIK_ANALYSIS_ACCUMULATION_H_

#include <cstddef>
#include <string>

#include "analysis/log_record.h"

namespace sorvik {

// Adds one parsed request (with analysis.record) to the period lists 1..20.
void count_request(const RequestInfo& info);

// Gives the page and image lists, empty while analysis.path_lists_owed is
// set, the entries of the file list whose paths go to them, as if each
// request had been added to them as it came; clears the flag.
void make_path_lists();

// Gives the directory list, empty while analysis.directories_owed is set,
// an entry for the directory of each entry of the file list, in the order
// of their first files, with their files' hits and kilobytes summed;
// clears the flag.
void make_directory_list();

// The most agents analysis.stretch_agents holds: at this many they are
// counted into the agent lists at once and the list starts again, so that a
// log whose agents are all different does not grow the memory with every
// request.
inline constexpr std::size_t kStretchAgentsHeld = std::size_t{1} << 14;

// Counts the agents of analysis.stretch_agents into the agent name, browser,
// operating-system and unknown-agent lists (count_agent_list) and empties
// it; clears analysis.agents_owed.
void make_agent_lists();

// Gives each client noted in analysis.client_pages the key of its file
// entry as its latest page (the client's extra), as if each page request
// had copied its path; clears the notes. The flag stays.
void give_client_pages();

// Ends a period: names the clients, writes the 24 ranked tables and the
// volume, and empties the period lists.
void flush_period(const std::string& page_name, const std::string& number_text,
                  const std::string& year_text, int mode);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_ACCUMULATION_H_
