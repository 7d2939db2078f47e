// A ranked section of the period's text file: every entry of the list on
// dotted lines 60 characters wide, and the dotted total line that closes the
// file.
#ifndef SORVIK_REPORT_TEXT_SECTION_H_
#define SORVIK_REPORT_TEXT_SECTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"

namespace sorvik {

struct BlockWriter;
struct CountedList;

// Writes the section of `list` (list slot `slot`, sorted by sort key `k`) to
// `file`: a line with the entry count, the list's title and the sort
// caption, the dotted lines of every entry in list order, then "---". The
// lines are made in a reused buffer and written in blocks of about 64 KiB,
// by `writer` when it is set (nothing else may then be written to `file`
// until finish_blocks), else at once.
void write_text_section(OutputFile& file, BlockWriter* writer, int slot, int k,
                        const CountedList& list);

// The text-file lines of one entry: key, a dot leader and the formatted
// number, 60 characters wide, then " " + caption on the last line. A key too
// long for one line is broken into pieces that leave room for the number,
// continuation lines indented by three blanks; the number is never split.
std::vector<std::string> dotted_entry_lines(std::string_view key, int64_t number,
                                            std::string_view caption);

// label + " " + dot leader + " " + formatted number, 60 characters when it fits.
std::string dotted_total_line(std::string_view label, int64_t number);

}  // namespace sorvik

#endif  // SORVIK_REPORT_TEXT_SECTION_H_
