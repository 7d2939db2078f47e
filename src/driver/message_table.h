// The language table: every report text and most console texts, addressed by
// group and line number (line k of group G is entry group_start(G) + k).
#ifndef SORVIK_DRIVER_MESSAGE_TABLE_H_
#define SORVIK_DRIVER_MESSAGE_TABLE_H_

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

inline const std::string& messages_line(int k) { return message(kMessages, k); }
inline const std::string& html_line(int k) { return message(kHtml, k); }
inline const std::string& lists_line(int k) { return message(kLists, k); }
inline const std::string& sort_options_line(int k) { return message(kSortOptions, k); }
inline const std::string& hosts_line(int k) { return message(kHosts, k); }
inline const std::string& return_codes_line(int k) { return message(kReturnCodes, k); }

}  // namespace sorvik

#endif  // SORVIK_DRIVER_MESSAGE_TABLE_H_
