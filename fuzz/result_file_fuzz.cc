// Fuzzes the result file reader: the input is the result file. What was read
// is written back and read again; the second reading must find the same
// periods, completeness and figures, since the writer's lines are the
// reader's own format. (Only a log name that does not fit the 255-byte line
// may lose its end, and a figure beyond the signed 64-bit range reads back
// as 0.)
#include <cstdint>
#include <string>

#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "driver/result_file.h"
#include "fuzz_support.h"

namespace sorvik {
namespace {

void check_same_figure(int64_t before, int64_t after) {
  fuzz::check(before < 0 || before == after, "a figure changed when written and read again");
}

void check_same_results(const ResultState& before, const ResultState& after) {
  for (int mode = 1; mode <= 3; ++mode) {
    const auto& first = before.result_lists[mode];
    const auto& second = after.result_lists[mode];
    fuzz::check(first.size() == second.size(), "periods lost or gained in the result file");
    for (std::size_t i = 0; i < first.size(); ++i) {
      fuzz::check(first[i].name == second[i].name, "a period name changed");
      fuzz::check(first[i].complete == second[i].complete, "a period's completeness changed");
      check_same_figure(first[i].files, second[i].files);
      check_same_figure(first[i].kbytes, second[i].kbytes);
      check_same_figure(first[i].visits, second[i].visits);
      fuzz::check(second[i].log.size() <= kTextLimit, "log name longer than 255 bytes");
      fuzz::check(first[i].log.starts_with(second[i].log), "a log name changed");
    }
  }
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  fuzz::reset_for_input();
  fuzz::write_input_file("results.txt", fuzz::as_text(data, size));
  settings.results_file = "results.txt";
  settings.errlog_file = "errlog.txt";
  try {
    read_results();
    const ResultState first = results;
    write_results();
    reset_results();
    read_results();
    check_same_results(first, results);
  } catch (const RunStop&) {
  }
  return 0;
}
