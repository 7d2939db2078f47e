#include "driver/language_file.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

// The group names in the order a header is searched for them; the first that
// occurs in a header line names its group.
constexpr std::array<std::string_view, kGroupCount + 1> kGroupNames = {
    "",      "Return codes", "Lists", "Sort options",
    "Hosts", "Messages",     "HTML",  "End of configuration file",
};

// The group a header line names, or 0 when it names none.
int find_group(const std::string& header) {
  for (int g = 1; g <= kGroupCount; ++g) {
    if (header.find(kGroupNames[g]) != std::string::npos) return g;
  }
  return 0;
}

[[noreturn]] void stop_on_unknown_group(const std::string& header) {
  const std::string text = "Unknown group " + header;
  console_line(text);
  error_log_entry(settings.lang_file, text);
  error_log_close();
  stop_run(kExitBadSize, true);
}

}  // namespace

void load_language() {
  console_write("Read language in " + settings.lang_file + " ... ");
  const std::vector<std::string> lines = read_text_lines(settings.lang_file);
  MessageTable& table = message_table;
  // Counts every stored line, also those beyond the table's last entry, so
  // that the group ranges stay true to the file; such lines read as empty.
  int32_t count = 0;
  int current = 0;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    if (line[0] == '[') {
      const int group = find_group(line);
      if (group == 0) stop_on_unknown_group(line);
      if (current != 0) table.group_end[current] = count;
      current = group;
      table.group_start[group] = count + 1;
      continue;
    }
    ++count;
    if (count <= kMessageEntries) {
      table.entries[count] = line;
      table.entry_count = count;
    }
  }
  console_line("done.");
}

void derive_vocabularies() {
  MessageTable& table = message_table;
  table.list_letters = lists_line(ListsId::kListLetters);
  // Line i of "Lists" is the title of list i, line k of "Sort options" the
  // name of sort key k.
  for (int i = 1; i < static_cast<int>(table.list_titles.size()); ++i) {
    table.list_titles[i] = lists_line(i);
  }
  table.sort_letters = sort_options_line(SortOptionsId::kSortLetters);
  for (int i = 1; i < static_cast<int>(table.sort_names.size()); ++i) {
    table.sort_names[i] = sort_options_line(i);
  }
  for (int slot = 1; slot <= kListSlots; ++slot) {
    list_set_title(slot, table.list_titles[slot]);
    // A letters line too short for this slot gives the letter with code 0.
    const std::size_t position = static_cast<std::size_t>(slot);
    list_set_letter(
        slot, position <= table.list_letters.size() ? table.list_letters[position - 1] : '\0');
  }
}

}  // namespace sorvik
