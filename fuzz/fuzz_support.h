// Shared harness of the fuzz targets: a private temporary working directory,
// fresh global state for every input, a captured console, a fixed clock and a
// resolver that never reaches the network.
//
// Each target defines LLVMFuzzerTestOneInput only; LLVMFuzzerInitialize lives
// in fuzz_support.cc. Because the targets work in their own directory, the
// initializer turns relative paths on the command line (corpus folders, input
// files, -artifact_prefix and the like) into absolute ones first, and makes
// crash files land in the folder the fuzzer was started from.
#ifndef SORVIK_FUZZ_FUZZ_SUPPORT_H_
#define SORVIK_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik::fuzz {

// Puts every subsystem back to its start-up state, then connects the console
// to a string (keys: end of input), the clock to a fixed time, the resolver to
// one that fails at once, and seeds the host stamps' generator; removes the
// files the previous input left in the working directory.
void reset_for_input();

// Everything written to the console since the last reset_for_input.
const std::string& console_output();

// Writes `bytes` to `name` in the working directory, replacing it.
void write_input_file(const std::string& name, std::string_view bytes);
// The whole content of `name`; empty when it cannot be read.
std::string read_whole_file(const std::string& name);
// The names in the working directory (without "." and "..").
std::vector<std::string> working_files();

// Ends the process with `what` on standard error (abort), so that libFuzzer
// keeps the input as a crash: a property of the code under test is broken.
[[noreturn]] void fail(std::string_view what);
inline void check(bool ok, std::string_view what) {
  if (!ok) fail(what);
}

inline std::string_view as_text(const uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace sorvik::fuzz

#endif  // SORVIK_FUZZ_FUZZ_SUPPORT_H_
