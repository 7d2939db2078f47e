// How a layer below the driver ends the run: it throws a RunStop, and the
// driver's entry point alone turns it into console output, the key wait and
// the exit status. No layer below the driver calls exit().
#ifndef SORVIK_BASE_RUN_STOP_H_
#define SORVIK_BASE_RUN_STOP_H_

#include <string>
#include <string_view>

namespace sorvik {

inline constexpr int kExitNormal = 0;
inline constexpr int kExitOperatorStop = 1;
inline constexpr int kExitTooManyArguments = 2;
inline constexpr int kExitFileNotCreated = 3;  // configuration missing or report not created
inline constexpr int kExitBadTime = 4;
inline constexpr int kExitBadSize = 5;         // also an unknown language group
inline constexpr int kExitInternalError = 70;  // out of memory or an unexpected failure
inline constexpr int kExitIoError = 74;

struct RunStop {
  int exit_status = kExitNormal;
  // Stops with statuses 2 to 5 wait for one key press before the program ends.
  bool wait_for_key = false;
  // A line the driver prints (on a line of its own) before it ends the run;
  // empty when the thrower has already printed what it had to say.
  std::string console_line;
};

// Ends the run with `exit_status`; the thrower has printed and logged its own
// report already.
[[noreturn]] void stop_run(int exit_status, bool wait_for_key);

// Ends the run on an I/O failure with the one-line report
// "Cannot <operation> <path>: <system error text>" and exit status 74.
[[noreturn]] void stop_on_io_error(std::string_view operation, std::string_view path,
                                   int error_number);

}  // namespace sorvik

#endif  // SORVIK_BASE_RUN_STOP_H_
