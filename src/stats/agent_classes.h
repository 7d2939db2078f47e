// Browser and operating-system classes of user agents, by the patterns of the
// two list files, and the files of agents that no pattern recognised.
#ifndef SORVIK_STATS_AGENT_CLASSES_H_
#define SORVIK_STATS_AGENT_CLASSES_H_

#include <string>
#include <string_view>

#include "stats/counted_list.h"

namespace sorvik {

// Reads settings.browser_file (kBrowserPatterns) or settings.opsys_file
// (kOpsysPatterns) into that list, one pattern per line.
void load_agent_list(int slot);

// The class of `agent` by the patterns of kBrowserPatterns or kOpsysPatterns:
// the first pattern found in the agent plus the version text after it; Hosts
// line 7 when none matches, and the agent is then counted in kUnknownBrowsers
// or kUnknownOpsys.
std::string classify_agent(int slot, std::string_view agent);

// classify_agent, with the class assigned to `out` (which keeps its
// capacity) instead of returned. `out` may be lists.current_entry.key: the
// count of an unknown agent is made before `out` is assigned.
void classify_agent_into(int slot, std::string_view agent, std::string& out);

// Counts a request's agent as agent_name and classify_agent would: its name
// in `name_slot`, its classes in `browser_slot` and `opsys_slot`, an unknown
// class also in kUnknownBrowsers or kUnknownOpsys. The other values of the
// adds are those staged in lists.current_entry.
void count_agent(std::string_view agent, int name_slot, int browser_slot, int opsys_slot);

// Counts the requests of a list keyed by agent (each entry one agent's
// requests, counted as count_agent's request values would be there), agent
// by agent in list order, into the lists count_agent counts them in: the
// names and classes with each agent's hits and kilobytes summed (their
// visits and latest times are then only estimated), an unknown class's
// agent also in kUnknownBrowsers or kUnknownOpsys with the values
// count_agent gives it there.
void count_agent_list(const CountedList& agents, int name_slot, int browser_slot, int opsys_slot);

// The agent's name: the whole agent when shorter than 20 bytes without "(",
// else the text before its first blank or "(".
std::string agent_name(std::string_view agent);
// agent_name, assigned to `out`.
void agent_name_into(std::string_view agent, std::string& out);

// Writes browser_file + ".unknown" and opsys_file + ".unknown".
void write_unknown_lists();

// Forgets the classes remembered per agent text. load_agent_list does this
// itself, and a change of a pattern list by other means is noticed on the next
// classify_agent; the reset of the run's state calls it to be certain.
void reset_agent_class_cache();

}  // namespace sorvik

#endif  // SORVIK_STATS_AGENT_CLASSES_H_
