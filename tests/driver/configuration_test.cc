#include "driver/configuration.h"

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "driver/program.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// A language file just large enough for the configuration step.
const char kSmallLanguage[] = "[Lists]\nab\nClients\nRepeat clients\n[End of configuration file]\n";

// The warnings of a configuration that names no list, result or error-log file.
const char kWarnings[] =
    "Warning! No browser version file defined!\n"
    "Warning! No operating system file defined!\n"
    "Warning! Result-file undefined! Using default file results.txt!\n"
    "Warning! Errlog-file undefined! Using default file errlog.txt!\n";

// The reports of the two settings without which nothing is analysed.
const char kLogfilesMissing[] =
    "Config variable logfiles missing! Nothing analysed!\n"
    "Konfigurationsbezeichner logfiles fehlt! Nichts analysiert!\n";
const char kTargetdirMissing[] =
    "Config variable targetdir missing! Nothing analysed!\n"
    "Konfigurationsbezeichner targetdir fehlt! Nichts analysiert!\n";

class ConfigurationTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    write_file("lang.lng", kSmallLanguage);
  }

  // Writes `content` as test.conf and reads it; the console keeps only what
  // the configuration lines themselves caused.
  bool load(const std::string& content) {
    write_file("test.conf", content);
    return load_configuration({"test.conf"});
  }
};

TEST_F(ConfigurationTest, SplitSettingSeparatorsAndTrimming) {
  struct Case {
    std::string line;
    bool ok;
    std::string key;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"logfiles=/var/log/access.*", true, "logfiles", "/var/log/access.*"},
      {"logfiles /var/log/access.*", true, "logfiles", "/var/log/access.*"},
      {"  targetdir  =  out  ", true, "targetdir", "out"},
      {"key===value==", true, "key", "value"},
      {"html_copyright=<A HREF=x>y</A>", true, "html_copyright", "<A HREF=x>y</A>"},
      // With a blank as separator a "=" in the value still splits the line.
      {"html_copyright <A HREF=x>", true, "html_copyright <A HREF", "x>"},
      {"Host_Url=a b", true, "Host_Url", "a b"},
      {"key=", false, "key", ""},
      {"key =  ", false, "key", ""},
      {"key= = =", false, "key", ""},
      {"=value", false, "", "value"},
      {" #comment", false, "", "#comment"},
      {"key\tvalue", false, "", ""},
      {"noseparator", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string key = "stale";
    std::string value = "stale";
    EXPECT_EQ(split_setting(c.line, key, value), c.ok) << c.line;
    EXPECT_EQ(key, c.key) << c.line;
    EXPECT_EQ(value, c.value) << c.line;
  }
  std::string text = " =a = b= ";
  trim_setting(text);
  EXPECT_EQ(text, "a = b");
  text = "   ";
  trim_setting(text);
  EXPECT_EQ(text, "");
}

TEST_F(ConfigurationTest, CleanFileGivesExactConsoleAndEveryKey) {
  write_file("b.lst", "MSIE\nOpera\n");
  write_file("o.lst", "Windows\n");
  EXPECT_TRUE(
      load("# comment\n"
           "logfiles=/var/log/access.*\n"
           "Analyse_Years=yes\r\n"
           "Host_Url=www.example.org\n"
           "Defaultfile=default.htm\n"
           "Errlogfile=err.txt\n"
           "targetdir=out\r\n"
           "Host_file=hosts.dat\n"
           "Host_notfound=no\n"
           "Browser=b.lst\n"
           "OpSys=o.lst\n"
           "Results=res.txt\n"
           "no_text_out=yes\n"
           "htmldir=html\n"
           "no_html_out=yes\n"
           "no_html_index=yes\n"
           "no_html_week=yes\n"
           "no_html_month=yes\n"
           "no_html_year=yes\n"
           "html_robots=index,follow\n"
           "html_bgcolor=white\n"
           "html_tables=+30\n"
           "html_copyright=(c) me\n"
           "html_charts=yes\n"
           "Lang_file=lang.lng\r\n"
           "decsep=,x\n"
           "ksep=.\n"));
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei test.conf ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ...  done.\n"
            "Read language in lang.lng ... done.\n"
            " 2\n"
            " 1\n");
  EXPECT_EQ(settings.config_file, "test.conf");
  EXPECT_EQ(settings.logfiles, "/var/log/access.*");
  EXPECT_EQ(settings.log_dir, "/var/log/");
  EXPECT_TRUE(settings.analyse_years);
  EXPECT_EQ(settings.host_url, "www.example.org");
  EXPECT_EQ(settings.default_file, "default.htm");
  EXPECT_EQ(settings.errlog_file, "err.txt");
  EXPECT_EQ(settings.target_dir, "out");  // CR LF ends a line too
  EXPECT_EQ(settings.host_file, "hosts.dat");
  EXPECT_TRUE(settings.host_notfound);
  EXPECT_EQ(settings.browser_file, "b.lst");
  EXPECT_EQ(settings.opsys_file, "o.lst");
  EXPECT_EQ(settings.results_file, "res.txt");
  EXPECT_FALSE(settings.text_out);
  EXPECT_EQ(settings.html_dir, "html");
  EXPECT_FALSE(settings.html_out);
  EXPECT_FALSE(settings.html_index);
  EXPECT_FALSE(settings.html_week);
  EXPECT_FALSE(settings.html_month);
  EXPECT_FALSE(settings.html_year);
  EXPECT_EQ(settings.html_robots, "index,follow");
  EXPECT_EQ(settings.html_bgcolor, "white");
  EXPECT_EQ(settings.html_tables, 30);
  EXPECT_EQ(settings.html_copyright, "(c) me");
  EXPECT_TRUE(settings.html_charts);
  EXPECT_EQ(settings.lang_file, "lang.lng");
  EXPECT_EQ(settings.decsep, ',');
  EXPECT_EQ(settings.ksep, '.');
  // The pattern lists and the list vocabulary were loaded on the way.
  EXPECT_EQ(list_snapshot(kBrowserPatterns).count, 2);
  EXPECT_EQ(list_snapshot(kOpsysPatterns).count, 1);
  EXPECT_EQ(list_snapshot(kClients).title, "Clients");
  EXPECT_EQ(list_snapshot(kRepeatClients).list_letter, 'b');
}

TEST_F(ConfigurationTest, FlagsNeedExactlyLowerCaseYes) {
  EXPECT_TRUE(
      load("Analyse_Years=Yes\nno_html_out=no\nno_text_out=YES\nhtml_charts=YES\n"
           "Lang_file=lang.lng\nlogfiles=a\ntargetdir=t\n"));
  EXPECT_FALSE(settings.analyse_years);
  EXPECT_FALSE(settings.html_charts);
  EXPECT_TRUE(settings.html_out);
  EXPECT_TRUE(settings.text_out);
}

TEST_F(ConfigurationTest, HtmlTablesReadsSignedIntegersAndZeroOtherwise) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"12", 12},
      {"-7", -7},
      {"+30", 30},
      {" = 40 ", 40},
      {"25abc", 0},
      {"2 5", 0},
      {"+", 0},
      {"--3", 0},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", 0},
      {"99999999999999999999", 0},
  };
  for (const auto& [value, expected] : cases) {
    reset_settings();
    load("Lang_file=lang.lng\nhtml_tables=" + value + "\n");
    EXPECT_EQ(settings.html_tables, expected) << value;
  }
}

TEST_F(ConfigurationTest, IllegalExpressionReportContinuesTheRunningLine) {
  load(
      "#logfiles=a\n"
      "/logfiles=b\n"
      "*logfiles=c\n"
      "\n"
      "Host_Url=\n"
      " #not a comment\n"
      "logfiles= = \n"
      "Lang_file=lang.lng\n");
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei test.conf ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ... "
            "Illegal expression, line 5 of conf file:\n"
            "Ung\xFCltiger Ausdruck, Zeile 5 der Konfigurationsdatei:\n"
            ">>Host_Url=\n"
            "test.conf, line ignored!\n"
            "test.conf, Zeile wird ignoriert!\n"
            "Illegal expression, line 6 of conf file:\n"
            "Ung\xFCltiger Ausdruck, Zeile 6 der Konfigurationsdatei:\n"
            ">> #not a comment\n"
            "test.conf, line ignored!\n"
            "test.conf, Zeile wird ignoriert!\n"
            "Illegal expression, line 7 of conf file:\n"
            "Ung\xFCltiger Ausdruck, Zeile 7 der Konfigurationsdatei:\n"
            ">>logfiles= = \n"
            "test.conf, line ignored!\n"
            "test.conf, Zeile wird ignoriert!\n"
            " done.\n"
            "Read language in lang.lng ... done.\n" +
                std::string(kWarnings) + kLogfilesMissing + kTargetdirMissing);
  EXPECT_EQ(settings.host_url, "");
  EXPECT_EQ(settings.logfiles, "");
}

TEST_F(ConfigurationTest, UnknownKeyReportStartsWithALineEnd) {
  load("LOGFILES=/var/log/a*\nhtml_copyright <A HREF=x>\nLang_file=lang.lng\n");
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei test.conf ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ... \n"
            "Config variable not found!\n"
            "Konfigurationsbezeichner nicht gefunden!\n"
            "Variable=LOGFILES Parameter=/var/log/a*\n"
            "Line 1 in conf file will be ignored!\n"
            "Zeile 1 in der Konfigurationsdatei wird ignoriert!\n"
            "\n"
            "Config variable not found!\n"
            "Konfigurationsbezeichner nicht gefunden!\n"
            "Variable=html_copyright <A HREF Parameter=x>\n"
            "Line 2 in conf file will be ignored!\n"
            "Zeile 2 in der Konfigurationsdatei wird ignoriert!\n"
            " done.\n"
            "Read language in lang.lng ... done.\n" +
                std::string(kWarnings) + kLogfilesMissing + kTargetdirMissing);
  EXPECT_EQ(settings.logfiles, "");
}

TEST_F(ConfigurationTest, LongLinesAreCutAt255Bytes) {
  const std::string long_url(300, 'u');
  load("Host_Url=" + long_url + "\nLang_file=lang.lng\n" + std::string(300, 'k') + "\n");
  EXPECT_EQ(settings.host_url, std::string(255 - 9, 'u'));
  EXPECT_NE(console_output().find(">>" + std::string(255, 'k') + "\n"), std::string::npos);
  EXPECT_EQ(console_output().find(std::string(256, 'k')), std::string::npos);
}

TEST_F(ConfigurationTest, MissingLanguageFileEndsTheStepWithFailure) {
  EXPECT_FALSE(load("logfiles=a\ntargetdir=t\n"));
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei test.conf ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ...  done.\n"
            "Language file missing! Execution terminated!\n"
            "Keine Sprachdatei gefunden! Abbruch!\n");
  EXPECT_EQ(settings.results_file, "");  // the later steps did not run
  EXPECT_EQ(message_table.entry_count, 0);
}

TEST_F(ConfigurationTest, MissingListAndStateFilesWarnAndTakeDefaults) {
  EXPECT_FALSE(load("Lang_file=lang.lng\ntargetdir=t\n"));
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei test.conf ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ...  done.\n"
            "Read language in lang.lng ... done.\n" +
                std::string(kWarnings) + kLogfilesMissing);
  EXPECT_EQ(settings.results_file, "results.txt");
  EXPECT_EQ(settings.errlog_file, "errlog.txt");
  EXPECT_EQ(settings.default_file, "index.html");
  EXPECT_EQ(settings.host_file, "host.dat");
}

TEST_F(ConfigurationTest, LogfilesAndTargetdirAreBothRequired) {
  // Each missing one is named after the warnings, "logfiles" first.
  const std::string warnings = kWarnings;
  EXPECT_FALSE(load("Lang_file=lang.lng\nlogfiles=a\n"));
  EXPECT_TRUE(take_console_output().ends_with(warnings + kTargetdirMissing));
  EXPECT_FALSE(load("Lang_file=lang.lng\ntargetdir=t\n"));
  EXPECT_TRUE(take_console_output().ends_with(warnings + kLogfilesMissing));
  EXPECT_FALSE(load("Lang_file=lang.lng\n"));
  EXPECT_TRUE(take_console_output().ends_with(warnings + kLogfilesMissing + kTargetdirMissing));
  // The later of two lines wins; the directory part keeps its final "/".
  EXPECT_TRUE(load("logfiles=/first/a*\nlogfiles /var/log/b*\nLang_file=lang.lng\ntargetdir=t\n"));
  EXPECT_EQ(settings.logfiles, "/var/log/b*");
  EXPECT_EQ(settings.log_dir, "/var/log/");
  EXPECT_TRUE(load("logfiles=access.*\nLang_file=lang.lng\ntargetdir=t\n"));
  EXPECT_EQ(settings.log_dir, "");
  // Without an argument sorvik.conf is read; it starts from empty values
  // again, not from the earlier file's.
  write_file("sorvik.conf", "Lang_file=lang.lng\n");
  EXPECT_FALSE(load_configuration({}));
  EXPECT_EQ(settings.config_file, "sorvik.conf");
  EXPECT_EQ(settings.target_dir, "");
}

// Both stops end the run after exactly one key press.
TEST_F(ConfigurationTest, ArgumentAndMissingFileStopsWaitForAKey) {
  const std::string too_many =
      "Too many parameters on command line! Only the path/name of the\n"
      "configuration file is allowed!\n"
      "Zu viele Parameter in der Aufrufzeile! Nur der Pfad/Name der\n"
      "Konfigurationsdatei sind erlaubt!\n";
  const std::string missing =
      "Searching file/Suche Datei nowhere.conf ... failed!\n"
      "Create sorvik.conf file either in the current directory and call sorvik again OR\n"
      "create such a file in another directory and call sorvik again with the path\n"
      " and name of this file as the sole parameter!\n"
      "Suche gescheitert! Die Datei sorvik.conf entweder im aktuellen Pfad erzeugen ODER\n"
      "eine Konfigurationsdatei erzeugen und deren Pfad/Name in der Aufrufzeile angeben.\n";
  const std::string banner_end = std::string(50, '-') + "\n";
  set_keys("xy");
  EXPECT_EQ(run_program({"a.conf", "b.conf"}), kExitTooManyArguments);
  EXPECT_TRUE(take_console_output().ends_with(banner_end + too_many));
  EXPECT_EQ(console_read_key(), 'y');
  set_keys("xy");
  EXPECT_EQ(run_program({"nowhere.conf"}), kExitFileNotCreated);
  EXPECT_TRUE(take_console_output().ends_with(banner_end + missing));
  EXPECT_EQ(console_read_key(), 'y');
}

// Any directory entry passes the search; what cannot be read is an I/O failure.
TEST_F(ConfigurationTest, UnreadableConfigurationIsAnIoFailure) {
  ASSERT_EQ(mkdir("conf.d", 0755), 0);
  const RunStop stop = stop_of([] { load_configuration({"conf.d"}); });
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_FALSE(stop.wait_for_key);
  EXPECT_EQ(stop.console_line, "Cannot read conf.d: Is a directory");
  EXPECT_EQ(console_output(),
            "Searching file/Suche Datei conf.d ... found.\n"
            "Reading config file / Lesen der Konfig-Datei ... ");
  ASSERT_EQ(symlink("missing-target", "link.conf"), 0);
  EXPECT_EQ(stop_of([] { load_configuration({"link.conf"}); }).console_line,
            "Cannot open link.conf: No such file or directory");
}

}  // namespace
}  // namespace sorvik
