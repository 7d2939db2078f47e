// The console: running progress lines on standard output and single key
// presses from standard input. Tests (and a child process that hands its
// console text to the analyzer) capture the text and give the keys as data.
#ifndef SORVIK_BASE_CONSOLE_H_
#define SORVIK_BASE_CONSOLE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvik {

struct Console {
  // When set, every byte written to the console is appended here instead of
  // going to standard output.
  std::string* capture = nullptr;
  // When set, the key presses are these bytes, one a key, from `next_key`
  // on, and the end of input after the last, instead of standard input.
  const std::string* keys = nullptr;
  std::size_t next_key = 0;
  // True when nothing has been written since the last line end.
  bool at_line_start = true;
};

extern Console console;

// Connects the console to standard output and the keyboard (no capture, no
// keys given).
void reset_console();

// Writes `text` as it stands, without a line end.
void console_write(std::string_view text);
// Writes `text` followed by a line end.
void console_line(std::string_view text = {});
// Ends a pending running line, so that the next text starts on a line of its own.
void console_finish_line();

// Reads one key press (no echo, no Enter on a terminal; one byte per key
// otherwise). Returns -1 at the end of input.
int console_read_key();
// Waits for one key press; returns at once at the end of input.
void console_wait_key();

}  // namespace sorvik

#endif  // SORVIK_BASE_CONSOLE_H_
