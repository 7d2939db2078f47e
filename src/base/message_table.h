// The language table: every report text and most console texts, addressed by
// group and line number (line k of group G is entry group_start(G) + k).
#ifndef SORVIK_BASE_MESSAGE_TABLE_H_
#define SORVIK_BASE_MESSAGE_TABLE_H_

#include <array>
#include <cstdint>
#include <string>

namespace sorvik {

// The language groups, numbered as their headers are searched.
enum Group : int {
  kReturnCodes = 1,
  kLists = 2,
  kSortOptions = 3,
  kHosts = 4,
  kMessages = 5,
  kHtml = 6,
  kEndOfConfiguration = 7,
};
inline constexpr int kGroupCount = 7;
inline constexpr int kMessageEntries = 200;

// The fixed lines the program reads, named after what they say (the English
// text of examples/english.lng is quoted). The value is the line number
// inside the group, which is all the language file knows of a text; lines
// not named here are unused, or read by position in a walk over the group
// (list titles, sort names, return codes).

// Lines of "Messages": console texts and a few report words.
enum class MessageId : int {
  kFilesFound = 0,             // " log files found."
  kBadTimeStamp = 1,           // "Wrong time stamp: "
  kBadSize = 3,                // "Wrong size: "
  kWeek = 5,                   // "Week" (period titles)
  kOf = 6,                     // "of"
  kMonth = 7,                  // "Month"
  kYear = 8,                   // "Year"
  kUnresolved = 9,             // "(unresolved)": the domain of clients without a name
  kRunMode = 10,               // "Run mode"
  kReading = 11,               // "Reading"
  kEntries = 12,               // " entries."
  kElapsedSeconds = 13,        // "Elapsed time in seconds:"
  kPressKey = 14,              // "Press any key to end the program."
  kUnknownStatusCode = 15,     // "Unknown status code"
  kWritingReports = 17,        // "Writing reports"
  kDone = 18,                  // "done."
  kAskWithoutDns = 19,         // "Name resolution (DNS) is not available! Continue anyway? (Y/N)"
  kContinuingWithoutDns = 20,  // "Continuing without name resolution."
  kReadingHostNames = 21,      // "Reading host names from"
  kNewNames = 23,              // " (new)"
  kResolved = 24,              // " resolved,"
  kFailed = 25,                // " failed."
  kCacheEmpty = 27,            // "nothing to save, the cache is empty."
  kNoBackup = 28,              // "no backup made, the old file is overwritten!"
  kSavingHostNames = 29,       // "Saving host names:"
  kUnknownResultOption = 31,   // "Unknown option in the result file:"
  kIncompleteResultLine = 32,  // "Incomplete line in the result file:"
  kWithoutRunMode = 33,        // "without a run mode!"
  kIncorrectResultLine = 34,   // "Incorrect line in the result file:"
  kUnknownBrowsers = 36,       // "Unknown browsers:"
  kUnknownOpsys = 37,          // "Unknown operating systems:"
  kBrowserPatterns = 38,       // "Browser patterns:"
  kOpsysPatterns = 39,         // "Operating system patterns:"
  kReadingResults = 40,        // "Reading results"
  kCollectingClients = 41,     // "Collecting client addresses"
  kNamingClients = 42,         // "Naming clients"
};

// Lines of "HTML": the report vocabulary.
enum class HtmlId : int {
  kCannotCreateFile = 1,    // "Cannot create file"
  kRunStopped = 2,          // "The run is stopped. Please check the configured directories."
  kErrorCode = 3,           // "Error code"
  kOrderByKey = 4,          // "name": a table's order after " sorted by", keys 1 to 4
  kOrderByHits = 5,         // "hits"
  kOrderByKbytes = 6,       // "kilobytes"
  kOrderByVisits = 7,       // "visits"
  kNoOrder = 8,             // "no order": any other key
  kValueByKey = 9,          // "Hits": the value column of a table sorted by key 1 to 4
  kValueByHits = 10,        // "Hits"
  kValueByKbytes = 11,      // "kB"
  kValueByVisits = 12,      // "Visits"
  kSortedBy = 13,           // " sorted by"
  kStatistics = 14,         // " statistics": page titles and headings
  kPathYears = 15,          // "Years": the period pages' path line
  kPathMonths = 16,         // "Months"
  kPathWeeks = 17,          // "Weeks"
  kPathOverview = 18,       // " overview"
  kHeadingYear = 19,        // "Year ": the period heading
  kHeadingWeek = 20,        // " week "
  kHeadingMonth = 21,       // " month "
  kOf = 22,                 // "of": "Top 30 of 120 ..."
  kTotal = 23,              // "Total"
  kBackToTop = 24,          // "Back to top"
  kTransferredVolume = 25,  // "Transferred volume"
  kIndexTitle = 26,         // " Index"
  kIndexPath = 27,          // " ==> Log index"
  kOverviewPages = 28,      // "Overview pages:"
  kIndexLinkYears = 29,     // "Years": the index page's links
  kIndexLinkMonths = 30,    // "Months"
  kIndexLinkWeeks = 31,     // "Weeks"
  kYears = 32,              // "Years": overview headings and links, index sections
  kMonths = 33,             // "Months"
  kWeeks = 34,              // "Weeks"
  kMonthColumn = 35,        // "Month"
  kWeekColumn = 36,         // "Week"
  kYearColumn = 37,         // "Year"
  kHitsColumn = 38,         // "Hits"
  kKbytesColumn = 39,       // "kB"
  kVisitsColumn = 40,       // "Visits"
  kLogIndex = 42,           // "Log index"
  kPageList = 43,           // " - list ": a page cell without known letters
  kOverviewTitle = 44,      // " overview "
  kPageColumn = 45,         // "Page"
  kPeriodPage = 46,         // "Period page "
  kPageSort = 48,           // ", sort "
  kPagesFound = 49,         // " pages found in the HTML directory."
  kPagesSize = 50,          // "Total size of the pages in bytes: "
  kTableColumn = 51,        // "Table": the period page's table of contents
};

// Line 0 of "Lists": one letter per list, in slot order; lines 1 to 27 are
// the list titles.
enum class ListsId : int { kListLetters = 0 };
// Line 0 of "Sort options": one letter per sort key, from key 0; lines 1 to 6
// are the names of the sort options.
enum class SortOptionsId : int { kSortLetters = 0 };
// Line 7 of "Hosts": "Unknown", the class of an agent that no pattern matches.
enum class HostsId : int { kUnknownAgentClass = 7 };
// Line 0 of "Return codes": "Unknown status code", for a code no later line
// names; each later line begins with the code it names.
enum class ReturnCodesId : int { kUnknownCode = 0 };

struct MessageTable {
  // Entries 1..200; entry 0 stays empty.
  std::array<std::string, kMessageEntries + 1> entries;
  int32_t entry_count = 0;
  // Indexed by Group; 0 until the group's header was read.
  std::array<int32_t, kGroupCount + 1> group_start{};
  std::array<int32_t, kGroupCount + 1> group_end{};

  // Derived vocabularies, copied once after the file is read.
  std::string list_letters;                 // line 0 of "Lists"
  std::array<std::string, 28> list_titles;  // 1..27: lines 1..27 of "Lists"
  std::string sort_letters;                 // line 0 of "Sort options"
  std::array<std::string, 7> sort_names;    // 1..6: lines 1..6 of "Sort options"
};

extern MessageTable message_table;

// Empties the table and every group range.
void reset_message_table();

// Line k of group g by the addressing rule; an empty text for an entry number
// outside 1..200.
const std::string& message(Group g, int k);

// The named lines of each group.
inline const std::string& messages_line(MessageId id) {
  return message(kMessages, static_cast<int>(id));
}
inline const std::string& html_line(HtmlId id) { return message(kHtml, static_cast<int>(id)); }
inline const std::string& lists_line(ListsId id) { return message(kLists, static_cast<int>(id)); }
inline const std::string& sort_options_line(SortOptionsId id) {
  return message(kSortOptions, static_cast<int>(id));
}
inline const std::string& hosts_line(HostsId id) { return message(kHosts, static_cast<int>(id)); }
inline const std::string& return_codes_line(ReturnCodesId id) {
  return message(kReturnCodes, static_cast<int>(id));
}

// Line k of a group that is walked by position: the list titles, the sort
// names and the return codes.
inline const std::string& lists_line(int k) { return message(kLists, k); }
inline const std::string& sort_options_line(int k) { return message(kSortOptions, k); }
inline const std::string& return_codes_line(int k) { return message(kReturnCodes, k); }

}  // namespace sorvik

#endif  // SORVIK_BASE_MESSAGE_TABLE_H_
