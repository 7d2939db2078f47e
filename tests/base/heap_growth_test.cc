#include "base/heap_growth.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace sorvik {
namespace {

// The pages between `start` and `end` that are not resident.
std::size_t pages_not_resident(uintptr_t start, uintptr_t end) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  start &= ~(page - 1);
  if (end <= start) return 0;
  std::vector<unsigned char> resident((end - start + page - 1) / page);
  EXPECT_EQ(mincore(reinterpret_cast<void*>(start), end - start, resident.data()), 0);
  std::size_t absent = 0;
  for (const unsigned char flags : resident) absent += (flags & 1) == 0 ? 1 : 0;
  return absent;
}

// A block that makes the heap grow by a step is left untouched; the next
// call makes the whole growth resident and records the heap's new end. (A
// build whose allocator does not use the heap has nothing to check.)
TEST(HeapGrowthTest, TheHeapsGrowthIsMadeResidentInOneCall) {
  set_heap_growth();
  const uintptr_t before = heap_growth.resident_end;
  EXPECT_EQ(before, reinterpret_cast<uintptr_t>(sbrk(0)));
  void* block = std::malloc(kHeapLargestBlock / 2);
  ASSERT_NE(block, nullptr);
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  make_heap_growth_resident();
  EXPECT_EQ(heap_growth.resident_end, end);
  EXPECT_EQ(pages_not_resident(before, end), 0u);
  std::free(block);

  // A heap that has shrunk below the recorded end is taken as it is.
  heap_growth.resident_end = end + (std::size_t{1} << 30);
  make_heap_growth_resident();
  EXPECT_EQ(heap_growth.resident_end, reinterpret_cast<uintptr_t>(sbrk(0)));
}

// The restart adds only the settings whose names the environment does not
// set, keeps what it sets (an operator's own choice among them), and the
// restarted program, finding them all, runs as it is instead of starting
// again without end.
TEST(HeapGrowthTest, HeapTunablesAreAddedToWhatTheEnvironmentSets) {
  const std::string ours = "glibc.malloc.hugetlb=1:glibc.malloc.tcache_count=16000";
  EXPECT_EQ(heap_tunables_for(""), ours);
  EXPECT_EQ(heap_tunables_for("glibc.malloc.check=3"), "glibc.malloc.check=3:" + ours);
  EXPECT_EQ(heap_tunables_for("glibc.malloc.hugetlb=0"),
            "glibc.malloc.hugetlb=0:glibc.malloc.tcache_count=16000");
  EXPECT_EQ(heap_tunables_for("glibc.malloc.tcache_count=7:glibc.malloc.check=3"),
            "glibc.malloc.tcache_count=7:glibc.malloc.check=3:glibc.malloc.hugetlb=1");
  // A name that merely begins like one of them sets nothing of theirs.
  EXPECT_EQ(heap_tunables_for("glibc.malloc.hugetlbx=1"), "glibc.malloc.hugetlbx=1:" + ours);

  for (const char* present : {"", "glibc.malloc.check=3", "glibc.malloc.hugetlb=0"}) {
    const std::optional<std::string> restarted = heap_tunables_for(present);
    ASSERT_TRUE(restarted.has_value());
    EXPECT_EQ(heap_tunables_for(*restarted), std::nullopt) << present;
  }
}

}  // namespace
}  // namespace sorvik
