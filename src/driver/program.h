// One complete run of the analyzer, in its fixed order of steps.
#ifndef SORVIK_DRIVER_PROGRAM_H_
#define SORVIK_DRIVER_PROGRAM_H_

#include <string>
#include <vector>

namespace sorvik {

// Sets every subsystem's start-up defaults (settings, tables, lists, caches,
// console, clock).
void reset_all_state();

// Runs the analyzer with `arguments` (command line without the program name)
// and returns the exit status. Every RunStop thrown below is turned here into
// its console line, key wait and status; nothing below calls exit().
int run_program(const std::vector<std::string>& arguments);

}  // namespace sorvik

#endif  // SORVIK_DRIVER_PROGRAM_H_
