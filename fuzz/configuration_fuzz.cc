// Fuzzes the configuration reader: the input is the configuration file named
// on the command line. A language file and two agent lists lie next to it
// under the names the seeds use, so that the fuzzer reaches the loading that
// follows the reading.
//
// The reader opens whatever the file names; inputs that name a path with a
// "/" for the language file or an agent list are skipped, because a device or
// a pipe elsewhere on the machine could block the read forever, and that is
// the operator's choice, not a fault of the reader.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "driver/configuration.h"
#include "fuzz_support.h"

namespace sorvik {
namespace {

const std::string& shipped_language() {
  static const std::string text = [] {
    std::ifstream in(SORVIK_SOURCE_DIR "/examples/english.lng", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  return text;
}

// True when a line would make the reader open a file outside the working
// directory.
bool names_outside_file(std::string_view input) {
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    std::string line(input.substr(0, std::min(end, kTextLimit)));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    std::string key;
    std::string value;
    if (!split_setting(line, key, value)) continue;
    if ((key == "Lang_file" || key == "Browser" || key == "OpSys") &&
        value.find('/') != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  const std::string_view input = fuzz::as_text(data, size);
  if (names_outside_file(input)) return 0;
  fuzz::reset_for_input();
  fuzz::write_input_file("fuzz.conf", input);
  fuzz::write_input_file("english.lng", shipped_language());
  fuzz::write_input_file("browsers.lst", "MSIE\nFirefox/\n/ comment\nMozilla\n");
  fuzz::write_input_file("opsys.lst", "Windows\nLinux\n* comment\nMac\n");
  try {
    load_configuration({"fuzz.conf"});
    for (const std::string* text :
         {&settings.logfiles, &settings.log_dir, &settings.target_dir, &settings.html_dir,
          &settings.lang_file, &settings.results_file, &settings.errlog_file, &settings.host_file,
          &settings.html_robots, &settings.html_copyright}) {
      fuzz::check(text->size() <= kTextLimit, "setting longer than 255 bytes");
    }
    fuzz::check(settings.log_dir.empty() || settings.log_dir.back() == '/',
                "log folder without its final slash");
  } catch (const RunStop&) {
  }
  return 0;
}
