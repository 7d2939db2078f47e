// Search engines and search phrases in referrers.
#ifndef SORVIK_STATS_SEARCH_KEYWORDS_H_
#define SORVIK_STATS_SEARCH_KEYWORDS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvik {

// True when `referrer` is a search query ("http://" or "https://", a host and
// a query part holding one of the search keys); the engine (scheme and host)
// has then been added to kSearchEngines and the decoded phrase to
// kSearchPhrases (with the caller's staged values).
bool extract_search_keyword(std::string_view referrer);

// 0..15 for "0"-"9" and "A"-"F", else 255.
int hex_value(char c);

// Replaces the escape at `position` (0-based index of a "%") by its character,
// or by "?" when it is not a "%" followed by two upper-case hex digits or when
// it stands for a control byte (below 32, or 127).
void decode_escape(std::string& text, std::size_t position);

}  // namespace sorvik

#endif  // SORVIK_STATS_SEARCH_KEYWORDS_H_
