#include "analysis/log_file_selection.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "analysis/log_record.h"
#include "driver/console.h"
#include "driver/file_io.h"
#include "driver/message_table.h"
#include "driver/settings.h"

namespace sorvik {

bool select_log_files() {
  console_write("Logfiles ... ");
  std::vector<std::string>& names = analysis.log_files;
  names.clear();
  for (DirectoryEntry& entry : list_matching(settings.logfiles)) {
    names.push_back(std::move(entry.name));
  }
  // std::string compares as unsigned bytes, a proper prefix first; the stable
  // sort keeps equal names in listing order.
  std::stable_sort(names.begin(), names.end());
  console_line(std::to_string(names.size()) + messages_line(0));
  return !names.empty();
}

}  // namespace sorvik
