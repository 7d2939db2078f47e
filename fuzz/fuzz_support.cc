#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/clock.h"
#include "base/console.h"
#include "driver/program.h"
#include "hosts/host_cache.h"

namespace sorvik::fuzz {
namespace {

struct Harness {
  std::string start_dir;    // where the fuzzer was started
  std::string working_dir;  // the private temporary directory
  std::string console_text;
  std::string no_keys;  // empty: the end of input at every key wait
  std::vector<std::string> arguments;  // the rewritten command line
  std::vector<char*> argument_pointers;
};

Harness harness;

// libFuzzer flags whose value names a file or folder (or a path prefix).
constexpr std::string_view kPathFlags[] = {
    "-artifact_prefix=",     "-exact_artifact_path=", "-dict=",
    "-merge_control_file=",  "-features_dir=",        "-data_flow_trace=",
    "-mutation_graph_file=",
};

std::string absolute(std::string_view path) {
  if (path.empty() || path.front() == '/') return std::string(path);
  return harness.start_dir + "/" + std::string(path);
}

// Makes every relative path of the command line absolute, so that it still
// names the same thing after the change of directory, and sends crash files
// to the start folder unless the command line says where they go.
void rewrite_arguments(int* argc, char*** argv) {
  bool artifacts_placed = false;
  harness.arguments.assign(*argv, *argv + *argc);
  for (std::size_t i = 1; i < harness.arguments.size(); ++i) {
    std::string& argument = harness.arguments[i];
    if (argument.empty()) continue;
    if (argument.front() != '-') {
      argument = absolute(argument);
      continue;
    }
    for (std::string_view flag : kPathFlags) {
      if (!argument.starts_with(flag)) continue;
      argument = std::string(flag) + absolute(std::string_view(argument).substr(flag.size()));
      if (flag == "-artifact_prefix=" || flag == "-exact_artifact_path=") artifacts_placed = true;
    }
  }
  if (!artifacts_placed) harness.arguments.push_back("-artifact_prefix=" + harness.start_dir + "/");
  for (std::string& argument : harness.arguments) {
    harness.argument_pointers.push_back(argument.data());
  }
  harness.argument_pointers.push_back(nullptr);
  *argc = static_cast<int>(harness.arguments.size());
  *argv = harness.argument_pointers.data();
}

void remove_working_dir() {
  if (chdir(harness.start_dir.c_str()) != 0) return;
  std::error_code ignored;
  std::filesystem::remove_all(harness.working_dir, ignored);
}

}  // namespace

void reset_for_input() {
  reset_all_state();
  harness.console_text.clear();
  console.capture = &harness.console_text;
  console.keys = &harness.no_keys;
  clock_state.readings = {LocalTime{2026, 12, 7, 10, 11, 12, 13}};
  hosts.resolver = Resolver{[](void*, HostAddress, std::string&) { return false; }};
  seed_host_random(1);
  std::error_code ignored;
  for (const std::string& name : working_files()) std::filesystem::remove_all(name, ignored);
}

const std::string& console_output() { return harness.console_text; }

void write_input_file(const std::string& name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) fail("cannot write the input file " + name);
}

std::string read_whole_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> working_files() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

void fail(std::string_view what) {
  std::fprintf(stderr, "\n*** fuzz property broken: %.*s\n", static_cast<int>(what.size()),
               what.data());
  std::abort();
}

}  // namespace sorvik::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using sorvik::fuzz::harness;
  char cwd[4096];
  harness.start_dir = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/";
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvik-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror("sorvik fuzz: temporary directory");
    std::abort();
  }
  harness.working_dir = pattern;
  std::atexit(sorvik::fuzz::remove_working_dir);
  sorvik::fuzz::rewrite_arguments(argc, argv);
  return 0;
}

// State files are flushed to disk before they replace the old ones; on a
// fuzzer's throw-away files that costs milliseconds per input and proves
// nothing a fuzzer can see, so the flush is a no-op in the fuzz targets.
extern "C" int fsync(int) { return 0; }
