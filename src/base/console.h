// The console: running progress lines on standard output and single key
// presses from standard input. Tests replace the sink and the key source.
#ifndef SORVIK_BASE_CONSOLE_H_
#define SORVIK_BASE_CONSOLE_H_

#include <functional>
#include <string_view>

namespace sorvik {

struct Console {
  // Receives every byte written to the console.
  std::function<void(std::string_view)> sink;
  // Delivers the next key press as a byte value, or -1 at the end of input
  // (or when input cannot be read).
  std::function<int()> key_source;
  // True when nothing has been written since the last line end.
  bool at_line_start = true;
};

extern Console console;

// Connects the console to standard output and the keyboard.
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
