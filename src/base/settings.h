// The run's configuration record, filled by load_configuration and read-only
// afterwards.
#ifndef SORVIK_BASE_SETTINGS_H_
#define SORVIK_BASE_SETTINGS_H_

#include <cstdint>
#include <string>

namespace sorvik {

// The program's version text, shown in the banner and in the HTML meta lines.
inline constexpr const char* kReportVersion = "0.8";

struct Settings {
  std::string logfiles;                  // "logfiles": path and wildcard pattern of the logs
  std::string log_dir;                   // logfiles up to and including its last "/"
  bool analyse_years = false;            // "Analyse_Years"
  std::string host_url;                  // "Host_Url"
  std::string default_file;              // "Defaultfile"
  std::string errlog_file;               // "Errlogfile"
  std::string target_dir = ".";          // "targetdir"
  std::string host_file = "host.dat";    // "Host_file"
  bool host_notfound = false;            // "Host_notfound"
  std::string browser_file;              // "Browser"
  std::string opsys_file;                // "OpSys"
  std::string results_file;              // "Results"
  bool text_out = true;                  // "no_text_out"
  std::string html_dir = ".";            // "htmldir"
  bool html_out = true;                  // "no_html_out"
  bool html_index = true;                // "no_html_index"
  bool html_week = true;                 // "no_html_week"
  bool html_month = true;                // "no_html_month"
  bool html_year = true;                 // "no_html_year"
  std::string html_robots = "noindex";   // "html_robots"
  std::string html_bgcolor = "#F0FFF0";  // "html_bgcolor"
  int32_t html_tables = 25;              // "html_tables"
  std::string html_copyright;            // "html_copyright"
  bool html_charts = false;              // "html_charts": bar charts on the pages when "yes"
  std::string lang_file;                 // "Lang_file"
  char decsep = '.';                     // "decsep"
  char ksep = ',';                       // "ksep"

  // Not a configuration key: the configuration file actually read.
  std::string config_file;
  // The generator line of the HTML footer, composed at start-up.
  std::string generator_footer;
};

extern Settings settings;

// Puts `settings` back to the program-start defaults (including the default
// copyright and generator lines).
void reset_settings();

}  // namespace sorvik

#endif  // SORVIK_BASE_SETTINGS_H_
