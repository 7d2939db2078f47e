#include "driver/heap_setup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sorvik {
namespace {

// The VmFlags of the mapping of this process that holds `address`, as
// /proc/self/smaps lists them; empty when none holds it.
std::string mapping_flags(uintptr_t address) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t begin = 0;
    uintptr_t end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2 && line.find('-') < 17) {
      inside = begin <= address && address < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return "";
}

// A period's worth of blocks lies in addresses marked for pages of 2 MB
// ("hg"), and so does the next period's, made after the first was freed:
// freeing does not give the marked addresses back. Run in a child process,
// since the heap's settings are the process's own.
TEST(HeapSetupTest, PeriodsOfBlocksLieInAddressesMarkedForLargePages) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator is not the C library's heap";
#endif
  if (mapping_flags(reinterpret_cast<uintptr_t>(&mapping_flags)).empty()) {
    GTEST_SKIP() << "no /proc/self/smaps";
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    set_up_heap();
    int outside = 0;
    for (int period = 0; period < 2; ++period) {
      std::vector<void*> blocks;
      constexpr std::size_t kBlock = std::size_t{5} << 19;
      for (int i = 0; i < 40; ++i) blocks.push_back(std::malloc(kBlock));
      // The last byte: the first block may begin in the page before the
      // marked ones.
      for (void* block : blocks) {
        const std::string flags = mapping_flags(reinterpret_cast<uintptr_t>(block) + kBlock - 1);
        if (flags.find(" hg") == std::string::npos) ++outside;
      }
      for (void* block : blocks) std::free(block);
    }
    _exit(outside == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "blocks outside the marked addresses";
}

}  // namespace
}  // namespace sorvik
