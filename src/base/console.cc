#include "base/console.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace sorvik {

Console console;

namespace {

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

void write_to_stdout(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  // Progress characters must show while the run works, not only at line ends.
  static const bool terminal = stdout_is_terminal();
  if (terminal) std::fflush(stdout);
}

// Reads one byte from standard input; on a terminal without echo and without
// waiting for Enter.
int read_key_from_stdin() {
  std::fflush(stdout);
  unsigned char byte = 0;
  if (isatty(STDIN_FILENO) != 1) {
    return read(STDIN_FILENO, &byte, 1) == 1 ? byte : -1;
  }
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return -1;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  const ssize_t got = read(STDIN_FILENO, &byte, 1);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return got == 1 ? byte : -1;
}

// Writes console text where it goes.
void emit(std::string_view text) {
  if (console.capture != nullptr) {
    console.capture->append(text);
  } else {
    write_to_stdout(text);
  }
}

}  // namespace

void reset_console() { console = Console{}; }

void console_write(std::string_view text) {
  if (text.empty()) return;
  emit(text);
  console.at_line_start = text.back() == '\n';
}

void console_line(std::string_view text) {
  if (!text.empty()) emit(text);
  emit("\n");
  console.at_line_start = true;
}

void console_finish_line() {
  if (!console.at_line_start) console_line();
}

int console_read_key() {
  if (console.keys == nullptr) return read_key_from_stdin();
  if (console.next_key >= console.keys->size()) return -1;
  return static_cast<unsigned char>((*console.keys)[console.next_key++]);
}

void console_wait_key() { console_read_key(); }

}  // namespace sorvik
