// Fuzzes the language file reader: the input is the language file. After it
// is loaded and its vocabularies derived, a period's text file and HTML page
// with one section are written from its texts, as a run would.
#include <cstdint>
#include <string>

#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "driver/language_file.h"
#include "fuzz_support.h"
#include "report/period_report.h"
#include "stats/counted_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  fuzz::reset_for_input();
  fuzz::write_input_file("fuzz.lng", fuzz::as_text(data, size));
  settings.lang_file = "fuzz.lng";
  try {
    load_language();
    derive_vocabularies();
    for (int g = 1; g <= kGroupCount; ++g) {
      for (int k = -2; k <= kMessageEntries + 2; ++k) (void)message(static_cast<Group>(g), k);
    }
    lists.current_entry.key = "/index.html";
    lists.current_entry.hits = 3;
    lists.current_entry.visits = 1;
    list_add(kFiles);
    open_period_report("2002w23", "Heading");
    write_top_table(kFiles, kByHits);
    close_period_report(12);
  } catch (const RunStop&) {
  }
  return 0;
}
