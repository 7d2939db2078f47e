// The console texts that are fixed in the program rather than taken from the
// language file: the start-up reports of the command line and the
// configuration file, printed in English and then in German. They are raw
// Latin-1 bytes; the German "u" with umlaut is the byte 0xFC.
#ifndef SORVIK_BASE_CONSOLE_TEXTS_H_
#define SORVIK_BASE_CONSOLE_TEXTS_H_

#include <array>
#include <string_view>

namespace sorvik::console_texts {

// More than one command-line argument.
inline constexpr std::array<std::string_view, 4> kTooManyParameters = {
    "Too many parameters on command line! Only the path/name of the",
    "configuration file is allowed!",
    "Zu viele Parameter in der Aufrufzeile! Nur der Pfad/Name der",
    "Konfigurationsdatei sind erlaubt!",
};

// The search for the configuration file: prefix, the two line ends, and the
// five help lines after "failed!".
inline constexpr std::string_view kSearchingFile = "Searching file/Suche Datei ";
inline constexpr std::string_view kRunningDots = " ... ";
inline constexpr std::string_view kFound = "found.";
inline constexpr std::string_view kFailed = "failed!";
inline constexpr std::array<std::string_view, 5> kConfigurationMissing = {
    "Create sorvik.conf file either in the current directory and call sorvik again OR",
    "create such a file in another directory and call sorvik again with the path",
    " and name of this file as the sole parameter!",
    "Suche gescheitert! Die Datei sorvik.conf entweder im aktuellen Pfad erzeugen ODER",
    "eine Konfigurationsdatei erzeugen und deren Pfad/Name in der Aufrufzeile angeben.",
};

inline constexpr std::string_view kReadingConfiguration =
    "Reading config file / Lesen der Konfig-Datei ... ";
inline constexpr std::string_view kReadingDone = " done.";

// A line without key or value; the pieces around the line number and the
// configuration file name.
inline constexpr std::string_view kIllegalExpression = "Illegal expression, line ";
inline constexpr std::string_view kIllegalExpressionEnd = " of conf file:";
inline constexpr std::string_view kIllegalExpressionDe = "Ung\xFCltiger Ausdruck, Zeile ";
inline constexpr std::string_view kIllegalExpressionDeEnd = " der Konfigurationsdatei:";
inline constexpr std::string_view kQuotedLine = ">>";
inline constexpr std::string_view kLineIgnored = ", line ignored!";
inline constexpr std::string_view kLineIgnoredDe = ", Zeile wird ignoriert!";

// A key that is not in the key table.
inline constexpr std::string_view kVariableNotFound = "Config variable not found!";
inline constexpr std::string_view kVariableNotFoundDe = "Konfigurationsbezeichner nicht gefunden!";
inline constexpr std::string_view kVariable = "Variable=";
inline constexpr std::string_view kParameter = " Parameter=";
inline constexpr std::string_view kLine = "Line ";
inline constexpr std::string_view kInConfWillBeIgnored = " in conf file will be ignored!";
inline constexpr std::string_view kLineDe = "Zeile ";
inline constexpr std::string_view kInConfWillBeIgnoredDe =
    " in der Konfigurationsdatei wird ignoriert!";

// Missing settings after the file was read.
inline constexpr std::string_view kLanguageMissing = "Language file missing! Execution terminated!";
inline constexpr std::string_view kLanguageMissingDe = "Keine Sprachdatei gefunden! Abbruch!";
inline constexpr std::string_view kNoBrowserFile = "Warning! No browser version file defined!";
inline constexpr std::string_view kNoOpsysFile = "Warning! No operating system file defined!";
inline constexpr std::string_view kNoResultsFile =
    "Warning! Result-file undefined! Using default file results.txt!";
inline constexpr std::string_view kNoErrlogFile =
    "Warning! Errlog-file undefined! Using default file errlog.txt!";

// A required setting ("logfiles" or "targetdir") that the file does not give;
// its key stands between the two pieces of each line.
inline constexpr std::string_view kVariableMissing = "Config variable ";
inline constexpr std::string_view kVariableMissingEnd = " missing! Nothing analysed!";
inline constexpr std::string_view kVariableMissingDe = "Konfigurationsbezeichner ";
inline constexpr std::string_view kVariableMissingDeEnd = " fehlt! Nichts analysiert!";

}  // namespace sorvik::console_texts

#endif  // SORVIK_BASE_CONSOLE_TEXTS_H_
