// The 255-byte text limit that every held text of the analyzer observes.
//
// Settings, list keys, log fields, file names and composed report lines are
// byte strings of at most 255 bytes; a longer result is cut without a message.
// Every place that holds or returns such a text cuts it through these helpers,
// so the cut has one home.
#ifndef SORVIK_BASE_TEXT_H_
#define SORVIK_BASE_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvik {

inline constexpr std::size_t kTextLimit = 255;

// Returns the first 255 bytes of `text` (all of it when it is shorter).
inline std::string cut_text(std::string_view text) {
  return std::string(text.substr(0, kTextLimit));
}

// The first 255 bytes of `text`, in place: for a text appended to a line
// being composed.
inline std::string_view cut_view(std::string_view text) { return text.substr(0, kTextLimit); }

// Sets `out` to the first 255 bytes of `text`, reusing the memory `out`
// already holds: for values replaced on every request.
template <typename String>
void assign_cut(String& out, std::string_view text) {
  out.assign(text.substr(0, kTextLimit));
}

// Cuts `text` to 255 bytes in place.
inline void cut_text_in_place(std::string& text) {
  if (text.size() > kTextLimit) text.resize(kTextLimit);
}

// Appends `piece` to `text`, keeping at most 255 bytes in all.
inline void append_cut(std::string& text, std::string_view piece) {
  if (text.size() >= kTextLimit) return;
  text.append(piece.substr(0, kTextLimit - text.size()));
}

// True for a control byte (below 32, or 127): one that would end, break or
// forge a line of a report, the error log or the console where it is shown.
inline constexpr bool is_control_byte(unsigned char byte) { return byte < 32 || byte == 127; }

// Characters `first` to `last` (counted from 1, inclusive) of `text`, or as
// many of them as exist; the positional reads the formats are defined by.
inline std::string_view chars_at(std::string_view text, std::size_t first, std::size_t last) {
  if (first < 1 || first > text.size() || last < first) return {};
  return text.substr(first - 1, last - first + 1);
}

}  // namespace sorvik

#endif  // SORVIK_BASE_TEXT_H_
