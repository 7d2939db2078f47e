// Entry point of the sorvik log analyzer.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/heap_setup.h"
#include "driver/program.h"

int main(int argc, char** argv) {
  sorvik::set_up_heap();
  sorvik::reset_all_state();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = sorvik::run_program(arguments);
  std::fflush(stdout);
  return status;
}
