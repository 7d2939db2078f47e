// The pieces of one ranked section: what a sort key counts and how it is
// captioned, and the dotted 60-column lines of the period text file.
#ifndef SORVIK_REPORT_TOP_TABLE_H_
#define SORVIK_REPORT_TOP_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik {

// The counted quantity of sort key k: kbytes for kByKbytes, visits for
// kByVisits, hits else.
int64_t sort_value(int k, uint64_t hits, int64_t kbytes, uint64_t visits);
// "<sorted by> <order>" heading part for sort key k (at most 255 bytes).
std::string sort_caption(int k);
// Column head of the counted quantity of sort key k; "???" for unknown keys.
std::string value_caption(int k);

// The text-file lines of one entry: key, a dot leader and the formatted
// number, 60 characters wide, then " " + caption on the last line. A key too
// long for one line is broken into pieces that leave room for the number,
// continuation lines indented by three blanks; the number is never split.
std::vector<std::string> dotted_entry_lines(std::string_view key, int64_t number,
                                            std::string_view caption);

// label + " " + dot leader + " " + formatted number, 60 characters when it fits.
std::string dotted_total_line(std::string_view label, int64_t number);

// Character i (from 1) of a letter line of the language file, or the
// character with code 0 when the line is shorter.
char letter_at(const std::string& letters, int i);

}  // namespace sorvik

#endif  // SORVIK_REPORT_TOP_TABLE_H_
