#include "driver/result_file.h"

#include <string_view>
#include <utility>

#include "base/console.h"
#include "base/error_log.h"
#include "base/file_io.h"
#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "stats/counted_list.h"

namespace sorvik {

namespace {

bool contains(std::string_view line, std::string_view part) {
  return line.find(part) != std::string_view::npos;
}

// Reads a figure at `position`: blanks are skipped, then decimal digits are
// taken up to the first other byte. No digits give 0; the value wraps at 64 bits.
int64_t read_figure(std::string_view line, std::size_t position) {
  while (position < line.size() && line[position] == ' ') ++position;
  uint64_t value = 0;
  while (position < line.size() && line[position] >= '0' && line[position] <= '9') {
    value = value * 10 + static_cast<uint64_t>(line[position] - '0');
    ++position;
  }
  return static_cast<int64_t>(value);
}

// One console line: the text, a blank and the line in double quotes, then "!".
void quoted_report(MessageId message, std::string_view line) {
  std::string text = messages_line(message);
  text.append(" \"").append(line).append("\"!");
  console_line(text);
}

void report_problem(MessageId message, std::string_view line, std::string_view log_text) {
  quoted_report(message, line);
  std::string text(log_text);
  text.append(line);
  error_log_entry(settings.results_file, text);
}

// The section line's run mode; 0 when it names none.
int section_mode(std::string_view line) {
  if (contains(line, "Years")) return kModeYears;
  if (contains(line, "Monthes")) return kModeMonths;
  if (contains(line, "Weeks")) return kModeWeeks;
  return 0;
}

// The period name of a complete line at its fixed positions; empty when the
// positions do not hold the mode's letter and colon.
std::string_view period_name(int mode, std::string_view line) {
  if (mode == kModeYears) {
    if (line.size() >= 6 && line[4] == 'y' && line[5] == ':') return line.substr(0, 5);
    return {};
  }
  const char letter = mode == kModeMonths ? 'm' : 'w';
  if (line.size() >= 8 && line[4] == letter && line[7] == ':') return line.substr(0, 7);
  return {};
}

void read_data_line(int mode, std::string_view line) {
  // The log field is looked for after the period name and the completeness
  // only in front of the log field: a name may hold "log=" and a log file's
  // name "incomplete", and the line must still read back as it was written.
  const std::size_t name_end = mode == kModeYears ? 5 : (mode == 0 ? 0 : 7);
  const std::size_t complete_at = line.find("complete");
  const std::size_t files_at = line.find("files=");
  const std::size_t kbytes_at = line.find("kBytes=");
  const std::size_t visits_at = line.find("visits=");
  const std::size_t log_at = line.find("log=", name_end);
  if (complete_at == std::string_view::npos || files_at == std::string_view::npos ||
      kbytes_at == std::string_view::npos || visits_at == std::string_view::npos ||
      log_at == std::string_view::npos) {
    report_problem(MessageId::kIncompleteResultLine, line, "Incomplete info ");
    return;
  }
  ResultEntry entry;
  entry.complete = !contains(line.substr(0, log_at), "incomplete");
  entry.files = read_figure(line, files_at + 6);
  entry.kbytes = read_figure(line, kbytes_at + 7);
  entry.visits = read_figure(line, visits_at + 7);
  entry.log = std::string(line.substr(log_at + 4));

  if (!entry.complete) {
    // Only the first open period of a section says where its run mode resumes.
    if (mode != 0 && results.start_file[mode].empty()) {
      results.start_file[mode] = entry.log;
      results.open_period[mode] = std::string(line.substr(0, mode == kModeYears ? 5 : 7));
    }
    return;
  }

  if (mode == 0) {
    std::string text = "info \"";
    text.append(line).append("\" ").append(messages_line(MessageId::kWithoutRunMode));
    console_line(text);
    std::string log_text = "Info ";
    log_text.append(line).append(" without correct run mode");
    error_log_entry(settings.results_file, log_text);
  }
  const std::string_view name = mode == 0 ? std::string_view{} : period_name(mode, line);
  if (name.empty()) {
    report_problem(MessageId::kIncorrectResultLine, line, "Incorrect line: ");
    return;
  }
  entry.name = std::string(name);
  insert_result(mode, std::move(entry));
}

std::string entry_line(const ResultEntry& entry) {
  std::string line = entry.name;
  line += ": ";
  if (!entry.complete) line += "in";
  line += "complete, files=";
  line += std::to_string(entry.files);
  line += ", kBytes=";
  line += std::to_string(entry.kbytes);
  line += ", visits=";
  line += std::to_string(entry.visits);
  line += ", log=";
  line += entry.log;
  line += '\n';
  return line;
}

}  // namespace

void read_results() {
  if (!path_exists(settings.results_file)) return;
  console_write(messages_line(MessageId::kReadingResults) + " ");
  const std::vector<std::string> lines = read_text_lines(settings.results_file);
  int mode = 0;
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == '#' || line[0] == '*' || line[0] == '/') continue;
    if (line[0] == '{') {
      const int named = section_mode(line);
      if (named != 0) {
        mode = named;
      } else {
        report_problem(MessageId::kUnknownResultOption, line, "Unknown option ");
      }
      continue;
    }
    read_data_line(mode, line);
  }
  console_line(messages_line(MessageId::kDone));
}

void write_results() {
  static constexpr const char* kSections[] = {nullptr, "{ Years }\n", "{ Monthes }\n",
                                              "{ Weeks }\n"};
  std::string content = "# Results of sorvik analysis #\n";
  for (int mode = kModeYears; mode <= kModeWeeks; ++mode) {
    content += kSections[mode];
    for (const ResultEntry& entry : results.result_lists[mode]) content += entry_line(entry);
  }
  write_file_atomically(settings.results_file, content);
  for (std::vector<ResultEntry>& list : results.result_lists) list.clear();
}

}  // namespace sorvik
