#include "stats/search_keywords.h"

#include <algorithm>
#include <array>

#include "base/text.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// The query keys that carry a search phrase, in the order they are tried. The
// order matters: a query holding several of them gives the phrase of the one
// that stands first here, wherever it stands in the query.
constexpr std::array<std::string_view, 28> kSearchKeys = {
    "q=",        "s=",       "as_q=",   "ask=",         "general=", "key=",     "Keywords=",
    "keywords=", "keyword=", "MT=",     "p=",           "qr=",      "qry=",     "qs=",
    "qt=",       "query=",   "QUERY=",  "SearchTerms=", "search=",  "soegord=", "srch=",
    "string=",   "su=",      "szukaj=", "terms=",       "uri=",     "url=",     "words=",
};

constexpr std::string_view kPlainScheme = "http://";
constexpr std::string_view kSecureScheme = "https://";

// Where the phrase of the first key that counts begins in `query`, or npos.
// Only the first occurrence of each key is looked at, and it counts only as a
// parameter of its own (right after "?" or "&").
std::size_t find_phrase_start(std::string_view query) {
  for (std::string_view key : kSearchKeys) {
    const std::size_t at = query.find(key);
    if (at == std::string_view::npos || at == 0) continue;
    const char before = query[at - 1];
    if (before == '?' || before == '&') return at + key.size();
  }
  return std::string_view::npos;
}

}  // namespace

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 255;
}

void decode_escape(std::string& text, std::size_t position) {
  if (position >= text.size()) return;
  const std::size_t following = std::min<std::size_t>(2, text.size() - position - 1);
  if (following == 2) {
    const int high = hex_value(text[position + 1]);
    const int low = hex_value(text[position + 2]);
    if (high != 255 && low != 255) {
      const int code = high * 16 + low;
      const auto byte = static_cast<unsigned char>(code);
      text[position] = is_control_byte(byte) ? '?' : static_cast<char>(byte);
      text.erase(position + 1, 2);
      return;
    }
  }
  text[position] = '?';
  text.erase(position + 1, following);
}

bool extract_search_keyword(std::string_view referrer) {
  const std::string_view scheme =
      referrer.starts_with(kSecureScheme) ? kSecureScheme : kPlainScheme;
  if (referrer.size() <= scheme.size() || !referrer.starts_with(scheme)) return false;
  // The host needs at least one character, so the slash that ends it is
  // looked for from the second character after the scheme on.
  const std::size_t slash = referrer.find('/', scheme.size() + 1);
  if (slash == std::string_view::npos) return false;
  const std::string_view engine = referrer.substr(0, slash);
  const std::string_view query = referrer.substr(slash + 1);
  if (query.empty()) return false;

  const std::size_t start = find_phrase_start(query);
  if (start == std::string_view::npos) return false;
  const std::size_t end = std::min(query.find('&', start), query.size());
  std::string phrase(query.substr(start, end - start));

  std::replace(phrase.begin(), phrase.end(), '+', ' ');
  // A decoded escape may itself be a "%" and is decoded again with what
  // follows it; every pass either shortens the text or turns a "%" into "?",
  // so the loop ends. Nothing before the last decoded position holds a "%".
  for (std::size_t at = phrase.find('%'); at != std::string::npos; at = phrase.find('%', at)) {
    decode_escape(phrase, at);
  }

  EntryValues& entry = lists.current_entry;
  assign_cut(entry.key, engine);
  entry.hits = 1;
  list_add(kSearchEngines);
  entry.key = std::move(phrase);
  cut_text_in_place(entry.key);
  list_add(kSearchPhrases);
  return true;
}

}  // namespace sorvik
