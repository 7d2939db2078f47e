// The three run modes that cut the log files into weeks, months and years.
#ifndef SORVIK_ANALYSIS_RUN_MODES_H_
#define SORVIK_ANALYSIS_RUN_MODES_H_

#include <cstddef>
#include <string>

namespace sorvik {

void run_weeks();
void run_months();
void run_years();
// The index of the first selected file that the run mode reads (where it
// resumes); the number of files when it reads none.
std::size_t first_file_index(int mode);

// run_weeks, run_months or run_years for kModeWeeks, kModeMonths, kModeYears.
void run_mode(int mode);

// The name of a months period (year, "m", month) or of a years period (year, "y").
std::string period_name(int mode, const std::string& year, const std::string& number);

// "mm" for 0; otherwise the decimal digits of n, with a leading "0" when single.
std::string two_digits(int n);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_RUN_MODES_H_
