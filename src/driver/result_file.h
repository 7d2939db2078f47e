// The result file: reads the result lists (which periods earlier runs
// analysed, per run mode, and where each run mode resumes) and writes them.
#ifndef SORVIK_DRIVER_RESULT_FILE_H_
#define SORVIK_DRIVER_RESULT_FILE_H_

#include "stats/result_lists.h"

namespace sorvik {

// Reads settings.results_file into the result lists, start files and open periods.
void read_results();

// Rewrites settings.results_file from the lists (atomically), then empties them.
void write_results();

}  // namespace sorvik

#endif  // SORVIK_DRIVER_RESULT_FILE_H_
