#include "base/run_stop.h"

#include <cstring>

namespace sorvik {

void stop_run(int exit_status, bool wait_for_key) { throw RunStop{exit_status, wait_for_key, {}}; }

void stop_on_io_error(std::string_view operation, std::string_view path, int error_number) {
  std::string line = "Cannot ";
  line.append(operation).append(" ").append(path).append(": ");
  line += std::strerror(error_number);
  throw RunStop{kExitIoError, false, line};
}

}  // namespace sorvik
