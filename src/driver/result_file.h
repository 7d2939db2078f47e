// The result file: which periods earlier runs analysed, per run mode, and
// where each run mode resumes.
#ifndef SORVIK_DRIVER_RESULT_FILE_H_
#define SORVIK_DRIVER_RESULT_FILE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvik {

struct ResultEntry {
  std::string name;
  std::string log;
  bool complete = false;
  int64_t files = 0;
  int64_t kbytes = 0;
  int64_t visits = 0;
};

struct ResultState {
  // Indexed by run mode 1 years, 2 months, 3 weeks; each in first-insertion order.
  std::array<std::vector<ResultEntry>, 4> result_lists;
  std::array<std::string, 4> start_file;
  std::array<std::string, 4> open_period;
};

extern ResultState results;

void reset_results();

// Reads settings.results_file into the result lists, start files and open periods.
void read_results();

// Inserts or updates the entry `name` of run mode `mode` with the current
// totals of kFiles (files, kbytes) and kClients (visits).
void record_result(int mode, const std::string& name, bool complete, const std::string& log);

// Rewrites settings.results_file from the lists (atomically), then empties them.
void write_results();

}  // namespace sorvik

#endif  // SORVIK_DRIVER_RESULT_FILE_H_
