#include "logs/log_file_selection.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"

namespace sorvik {

namespace {

// `name` with each control byte shown as "?", fit for a line of the error log.
std::string printable_name(std::string_view name) {
  std::string shown(name);
  std::replace_if(
      shown.begin(), shown.end(), [](char byte) { return is_control_byte(byte); }, '?');
  return shown;
}

}  // namespace

LogFileSelection select_log_files() {
  console_write("Logfiles ... ");
  std::vector<DirectoryEntry> entries = list_matching(settings.logfiles);
  // std::string compares as unsigned bytes, a proper prefix first; the stable
  // sort keeps equal names in listing order.
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  LogFileSelection selection;
  std::vector<std::string>& names = selection.names;
  std::vector<SkippedLogFile>& skipped = selection.skipped;
  for (DirectoryEntry& entry : entries) {
    if (std::any_of(entry.name.begin(), entry.name.end(),
                    [](char byte) { return is_control_byte(byte); })) {
      skipped.push_back({settings.log_dir + printable_name(entry.name),
                         "Log file name with a control character, skipped"});
    } else if (!entry.regular) {
      skipped.push_back({settings.log_dir + entry.name, "Not a regular file, skipped"});
    } else {
      names.push_back(std::move(entry.name));
    }
  }
  console_line(std::to_string(names.size()) + messages_line(MessageId::kFilesFound));
  return selection;
}

void report_skipped_log_files(const std::vector<SkippedLogFile>& skipped) {
  for (const SkippedLogFile& entry : skipped) {
    error_log_entry(entry.source, entry.text);
  }
}

}  // namespace sorvik
