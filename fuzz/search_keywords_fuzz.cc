// Fuzzes extract_search_keyword with the referrer as input, and decode_escape
// with the same text at a position chosen by the first byte.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "fuzz_support.h"
#include "stats/counted_list.h"
#include "stats/search_keywords.h"

namespace sorvik {
namespace {

void check_keyword(std::string_view referrer) {
  const bool found = extract_search_keyword(referrer);
  const CountedList& engines = list_snapshot(kSearchEngines);
  const CountedList& phrases = list_snapshot(kSearchPhrases);
  if (!found) {
    fuzz::check(engines.count == 0 && phrases.count == 0, "lists changed without a keyword");
    return;
  }
  fuzz::check(engines.count == 1 && phrases.count == 1, "a keyword not counted once");
  const std::string_view engine = engines.entries.front().key;
  const std::string_view phrase = phrases.entries.front().key;
  fuzz::check(engine.size() <= kTextLimit && phrase.size() <= kTextLimit,
              "key longer than 255 bytes");
  fuzz::check((engine.starts_with("http://") || engine.starts_with("https://")) &&
                  referrer.starts_with(engine),
              "engine is not the referrer's scheme and host");
  fuzz::check(phrase.find('%') == std::string::npos, "an escape left in the phrase");
}

void check_decode(std::string_view input) {
  std::string text(input);
  const std::size_t position = static_cast<uint8_t>(input.front()) % input.size();
  decode_escape(text, position);
  const std::size_t removed = input.size() - text.size();
  fuzz::check(text.size() <= input.size() && removed <= 2, "decode changed the size wrongly");
  fuzz::check(input.substr(0, position) == std::string_view(text).substr(0, position),
              "decode changed the text before the escape");
  fuzz::check(input.substr(position + 1 + removed) == std::string_view(text).substr(position + 1),
              "decode changed the text after the escape");
  const auto decoded = static_cast<unsigned char>(text[position]);
  fuzz::check(input[position] != '%' || (decoded >= 32 && decoded != 127),
              "an escape decoded to a control byte");
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  if (size == 0) return 0;
  fuzz::reset_for_input();
  lists.current_entry.hits = 1;
  check_keyword(fuzz::as_text(data, size));
  check_decode(fuzz::as_text(data, size));
  return 0;
}
