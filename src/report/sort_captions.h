// What a ranked section counts under each sort key, and how the section and
// its value column are captioned (texts of the language file).
#ifndef SORVIK_REPORT_SORT_CAPTIONS_H_
#define SORVIK_REPORT_SORT_CAPTIONS_H_

#include <cstdint>
#include <string>

namespace sorvik {

struct CountedList;

// The counted quantity of sort key k: kbytes for kByKbytes, visits for
// kByVisits, hits else.
int64_t sort_value(int k, uint64_t hits, int64_t kbytes, uint64_t visits);
// The list's total of that quantity, which the percentages divide by.
int64_t section_total(int k, const CountedList& list);
// "<sorted by> <order>" heading part for sort key k (at most 255 bytes).
std::string sort_caption(int k);
// "Top <shown> <of> <count> <title>": what a table or a chart of the list's
// first `shown` entries shows.
std::string top_caption(int32_t shown, const CountedList& list);
// Column head of the counted quantity of sort key k; "???" for unknown keys.
std::string value_caption(int k);

}  // namespace sorvik

#endif  // SORVIK_REPORT_SORT_CAPTIONS_H_
