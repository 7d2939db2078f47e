#include "driver/configuration.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "base/console.h"
#include "base/console_texts.h"
#include "base/file_io.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "driver/language_file.h"
#include "stats/agent_classes.h"

namespace sorvik {

namespace {

namespace texts = console_texts;

constexpr std::string_view kDefaultConfigurationFile = "sorvik.conf";

// How a key's value is stored.
enum class KeyKind { kText, kYesFlag, kNoFlag, kPresence, kInteger, kCharacter };

struct KeyRule {
  std::string_view key;
  KeyKind kind;
  // The field the value goes to; exactly one of them is set, by kind.
  std::string Settings::*text = nullptr;
  bool Settings::*flag = nullptr;
  char Settings::*character = nullptr;
};

// The 26 keys, compared exactly and case-sensitively.
const std::array<KeyRule, 26> kKeyTable = {{
    {"logfiles", KeyKind::kText, &Settings::logfiles},
    {"Analyse_Years", KeyKind::kYesFlag, nullptr, &Settings::analyse_years},
    {"Host_Url", KeyKind::kText, &Settings::host_url},
    {"Defaultfile", KeyKind::kText, &Settings::default_file},
    {"Errlogfile", KeyKind::kText, &Settings::errlog_file},
    {"targetdir", KeyKind::kText, &Settings::target_dir},
    {"Host_file", KeyKind::kText, &Settings::host_file},
    {"Host_notfound", KeyKind::kPresence, nullptr, &Settings::host_notfound},
    {"Browser", KeyKind::kText, &Settings::browser_file},
    {"OpSys", KeyKind::kText, &Settings::opsys_file},
    {"Results", KeyKind::kText, &Settings::results_file},
    {"no_text_out", KeyKind::kNoFlag, nullptr, &Settings::text_out},
    {"htmldir", KeyKind::kText, &Settings::html_dir},
    {"no_html_out", KeyKind::kNoFlag, nullptr, &Settings::html_out},
    {"no_html_index", KeyKind::kNoFlag, nullptr, &Settings::html_index},
    {"no_html_week", KeyKind::kNoFlag, nullptr, &Settings::html_week},
    {"no_html_month", KeyKind::kNoFlag, nullptr, &Settings::html_month},
    {"no_html_year", KeyKind::kNoFlag, nullptr, &Settings::html_year},
    {"html_robots", KeyKind::kText, &Settings::html_robots},
    {"html_bgcolor", KeyKind::kText, &Settings::html_bgcolor},
    {"html_tables", KeyKind::kInteger},
    {"html_copyright", KeyKind::kText, &Settings::html_copyright},
    {"html_charts", KeyKind::kYesFlag, nullptr, &Settings::html_charts},
    {"Lang_file", KeyKind::kText, &Settings::lang_file},
    {"decsep", KeyKind::kCharacter, nullptr, nullptr, &Settings::decsep},
    {"ksep", KeyKind::kCharacter, nullptr, nullptr, &Settings::ksep},
}};

const KeyRule* find_key(const std::string& key) {
  for (const KeyRule& rule : kKeyTable) {
    if (rule.key == key) return &rule;
  }
  return nullptr;
}

// A decimal integer with optional leading blanks and sign that fits 32 bits;
// anything else (trailing letters, no digits, overflow) reads as 0.
int32_t parse_html_tables(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  if (i == value.size()) return 0;
  int64_t number = 0;
  for (; i < value.size(); ++i) {
    if (value[i] < '0' || value[i] > '9') return 0;
    number = number * 10 + (value[i] - '0');
    if (number > int64_t{INT32_MAX} + 1) return 0;
  }
  if (negative) number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return 0;
  return static_cast<int32_t>(number);
}

void store_value(const KeyRule& rule, const std::string& value) {
  switch (rule.kind) {
    case KeyKind::kText:
      settings.*rule.text = value;
      break;
    case KeyKind::kYesFlag:
      settings.*rule.flag = value == "yes";
      break;
    case KeyKind::kNoFlag:
      settings.*rule.flag = value != "yes";
      break;
    case KeyKind::kPresence:
      settings.*rule.flag = true;
      break;
    case KeyKind::kInteger:
      settings.html_tables = parse_html_tables(value);
      break;
    case KeyKind::kCharacter:
      settings.*rule.character = value.front();
      break;
  }
}

void report_illegal_expression(int line_number, const std::string& line) {
  const std::string number = std::to_string(line_number);
  const std::string& file = settings.config_file;
  console_line(std::string(texts::kIllegalExpression) + number +
               std::string(texts::kIllegalExpressionEnd));
  console_line(std::string(texts::kIllegalExpressionDe) + number +
               std::string(texts::kIllegalExpressionDeEnd));
  console_line(std::string(texts::kQuotedLine) + line);
  console_line(file + std::string(texts::kLineIgnored));
  console_line(file + std::string(texts::kLineIgnoredDe));
}

void report_unknown_key(int line_number, const std::string& key, const std::string& value) {
  const std::string number = std::to_string(line_number);
  console_line();
  console_line(texts::kVariableNotFound);
  console_line(texts::kVariableNotFoundDe);
  console_line(std::string(texts::kVariable) + key + std::string(texts::kParameter) + value);
  console_line(std::string(texts::kLine) + number + std::string(texts::kInConfWillBeIgnored));
  console_line(std::string(texts::kLineDe) + number + std::string(texts::kInConfWillBeIgnoredDe));
}

// True when the required setting `key` has a value; otherwise reports it as
// missing, in English and in German.
bool required_setting_given(std::string_view key, const std::string& value) {
  if (!value.empty()) return true;
  console_line(std::string(texts::kVariableMissing) + std::string(key) +
               std::string(texts::kVariableMissingEnd));
  console_line(std::string(texts::kVariableMissingDe) + std::string(key) +
               std::string(texts::kVariableMissingDeEnd));
  return false;
}

// Finds the configuration file named by the command line; ends the run on
// too many arguments or a missing file.
void find_configuration_file(const std::vector<std::string>& arguments) {
  if (arguments.size() >= 2) {
    for (std::string_view line : texts::kTooManyParameters) console_line(line);
    stop_run(kExitTooManyArguments, true);
  }
  settings.config_file =
      arguments.empty() ? std::string(kDefaultConfigurationFile) : cut_text(arguments.front());
  console_write(std::string(texts::kSearchingFile) + settings.config_file +
                std::string(texts::kRunningDots));
  if (!path_exists(settings.config_file)) {
    console_line(texts::kFailed);
    for (std::string_view line : texts::kConfigurationMissing) console_line(line);
    stop_run(kExitFileNotCreated, true);
  }
  console_line(texts::kFound);
}

void read_configuration_file() {
  console_write(texts::kReadingConfiguration);
  const std::vector<std::string> lines = read_text_lines(settings.config_file);
  int line_number = 0;
  for (const std::string& line : lines) {
    ++line_number;
    if (line.empty() || line[0] == '#' || line[0] == '/' || line[0] == '*') continue;
    std::string key;
    std::string value;
    if (!split_setting(line, key, value)) {
      report_illegal_expression(line_number, line);
      continue;
    }
    const KeyRule* rule = find_key(key);
    if (rule == nullptr) {
      report_unknown_key(line_number, key, value);
      continue;
    }
    store_value(*rule, value);
  }
  console_line(texts::kReadingDone);
}

}  // namespace

void trim_setting(std::string& text) {
  const auto is_trimmed = [](char c) { return c == ' ' || c == '='; };
  std::size_t first = 0;
  while (first < text.size() && is_trimmed(text[first])) ++first;
  std::size_t last = text.size();
  while (last > first && is_trimmed(text[last - 1])) --last;
  text = text.substr(first, last - first);
}

bool split_setting(const std::string& line, std::string& key, std::string& value) {
  std::size_t separator = line.find('=');
  if (separator == std::string::npos) separator = line.find(' ');
  if (separator == std::string::npos) {
    key.clear();
    value.clear();
    return false;
  }
  key = line.substr(0, separator);
  value = line.substr(separator + 1);
  trim_setting(key);
  trim_setting(value);
  return !key.empty() && !value.empty();
}

bool load_configuration(const std::vector<std::string>& arguments) {
  settings.default_file = "index.html";
  settings.logfiles.clear();
  settings.target_dir.clear();
  settings.lang_file.clear();
  settings.browser_file.clear();
  settings.opsys_file.clear();
  settings.results_file.clear();
  settings.errlog_file.clear();
  settings.analyse_years = false;

  find_configuration_file(arguments);
  read_configuration_file();

  if (settings.lang_file.empty()) {
    console_line(texts::kLanguageMissing);
    console_line(texts::kLanguageMissingDe);
    return false;
  }
  load_language();
  if (settings.browser_file.empty()) {
    console_line(texts::kNoBrowserFile);
  } else {
    load_agent_list(kBrowserPatterns);
  }
  if (settings.opsys_file.empty()) {
    console_line(texts::kNoOpsysFile);
  } else {
    load_agent_list(kOpsysPatterns);
  }
  if (settings.results_file.empty()) {
    console_line(texts::kNoResultsFile);
    settings.results_file = "results.txt";
  }
  if (settings.errlog_file.empty()) {
    console_line(texts::kNoErrlogFile);
    settings.errlog_file = "errlog.txt";
  }
  derive_vocabularies();

  // The directory part of the pattern, with its final "/", is put in front
  // of each selected file name when the file is opened.
  settings.log_dir = settings.logfiles;
  while (!settings.log_dir.empty() && settings.log_dir.back() != '/') settings.log_dir.pop_back();

  // Both are checked, so that one run names every missing setting.
  const bool logfiles_given = required_setting_given("logfiles", settings.logfiles);
  const bool target_given = required_setting_given("targetdir", settings.target_dir);
  return logfiles_given && target_given;
}

}  // namespace sorvik
