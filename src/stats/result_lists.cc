#include "stats/result_lists.h"

#include <utility>

#include "base/text.h"
#include "stats/counted_list.h"

namespace sorvik {

ResultState results;

void reset_results() { results = ResultState{}; }

void insert_result(int mode, ResultEntry entry) {
  for (ResultEntry& existing : results.result_lists[mode]) {
    if (existing.name == entry.name) {
      existing = std::move(entry);
      return;
    }
  }
  results.result_lists[mode].push_back(std::move(entry));
}

void record_result(int mode, const std::string& name, bool complete, const std::string& log) {
  ResultEntry entry;
  entry.name = cut_text(name);
  entry.log = cut_text(log);
  entry.complete = complete;
  entry.files = static_cast<int64_t>(list_snapshot(kFiles).total_hits);
  entry.kbytes = list_snapshot(kFiles).total_kbytes;
  entry.visits = static_cast<int64_t>(list_snapshot(kClients).total_visits);
  insert_result(mode, std::move(entry));
}

}  // namespace sorvik
