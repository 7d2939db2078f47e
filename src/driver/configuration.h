// Reading the configuration file into Settings.
#ifndef SORVIK_DRIVER_CONFIGURATION_H_
#define SORVIK_DRIVER_CONFIGURATION_H_

#include <string>
#include <vector>

namespace sorvik {

// Reads the command line (`arguments` without the program name), the
// configuration file, the language file and the two agent list files into
// Settings, the message table and the pattern lists. Ends the run itself (RunStop)
// on too many arguments (2), a missing configuration file (3), an unknown
// language group (5) and I/O failures (74). False, after the missing ones
// have been reported on the console, when "Lang_file", "logfiles" or
// "targetdir" is missing: nothing can be analysed then.
bool load_configuration(const std::vector<std::string>& arguments);

// Splits a configuration line at its first "=" (else its first blank) into a
// trimmed key and value; true when both are non-empty.
bool split_setting(const std::string& line, std::string& key, std::string& value);

// Removes leading and trailing blanks and "=" characters in place.
void trim_setting(std::string& text);

}  // namespace sorvik

#endif  // SORVIK_DRIVER_CONFIGURATION_H_
