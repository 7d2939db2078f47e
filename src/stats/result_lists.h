// The periods analysed so far, per run mode: what the result file keeps
// between runs, what the run modes record as they end periods, and what the
// index page shows.
#ifndef SORVIK_STATS_RESULT_LISTS_H_
#define SORVIK_STATS_RESULT_LISTS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvik {

// Run modes, numbered as in the result file.
inline constexpr int kModeYears = 1;
inline constexpr int kModeMonths = 2;
inline constexpr int kModeWeeks = 3;

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

// Inserts `entry` into the list of `mode`, or overwrites the entry that has
// its name; a list holds one entry per period name.
void insert_result(int mode, ResultEntry entry);

// Inserts or updates the entry `name` of run mode `mode` with the current
// totals of kFiles (files, kbytes) and kClients (visits).
void record_result(int mode, const std::string& name, bool complete, const std::string& log);

}  // namespace sorvik

#endif  // SORVIK_STATS_RESULT_LISTS_H_
