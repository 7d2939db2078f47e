// How the analyzer's heap takes memory from the system. A page of memory
// costs a fault the first time it is touched; on a virtual machine that is
// many microseconds, and the analyzer touches its whole peak once. The heap
// therefore grows in steps of kHeapStep, keeps what it has (no return to the
// system at every free, no mapping of its own for a block of a few
// megabytes), and the analyzer's thread makes the pages of each step
// resident in one call (make_heap_growth_resident) before it uses them,
// instead of one fault per page. Pages of 2 MB where the system allows them,
// and a larger cache of freed blocks in each thread, can only be asked for
// before the program starts: it starts itself again with them
// (restart_with_heap_tunables).
#ifndef SORVIK_BASE_HEAP_GROWTH_H_
#define SORVIK_BASE_HEAP_GROWTH_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvik {

// How far the heap grows beyond each request that does not fit.
inline constexpr std::size_t kHeapStep = std::size_t{2} << 20;
// Blocks up to this size come from the heap; larger ones (the largest lists
// of a year) get a mapping of their own, which goes back to the system as a
// whole when they are freed instead of leaving a hole in the heap.
inline constexpr std::size_t kHeapLargestBlock = std::size_t{8} << 20;
// Free memory at the heap's end goes back to the system beyond this much.
inline constexpr std::size_t kHeapKeep = std::size_t{16} << 20;

struct HeapGrowth {
  // The end of the heap as far as it has been made resident (0: not yet).
  uintptr_t resident_end = 0;
};

extern HeapGrowth heap_growth;

// Sets the heap's growth as described above (the counting processes, forked
// later, inherit it) and takes the heap's present end as resident.
void set_heap_growth();

// Makes the heap's pages from the end recorded last (by set_heap_growth or
// by this) to its present end resident, and records that end.
void make_heap_growth_resident();

// Two settings of the C library's heap can only be chosen before the program
// starts, through the environment variable GLIBC_TUNABLES, which it reads as
// it loads the program:
// - hugetlb=1: the heap asks the system for pages of 2 MB where it grows, so
//   that a step of the heap costs one fault instead of 512;
// - tcache_count: each thread keeps up to this many freed blocks of each
//   size for its next requests (7 by default), so that the analyzer, which
//   frees a period's entries by the ten thousand and makes the next period's
//   as many, seldom has to lock the heap or sort blocks back into it.
inline constexpr std::string_view kHeapTunables[] = {
    "glibc.malloc.hugetlb=1",
    "glibc.malloc.tcache_count=16000",
};
inline constexpr const char* kHeapTunablesVariable = "GLIBC_TUNABLES";

// The value GLIBC_TUNABLES takes for the restart: `present` (its value now,
// empty when unset) with each of kHeapTunables whose name it does not set
// already added. nullopt when it sets them all: the program runs as it is.
std::optional<std::string> heap_tunables_for(std::string_view present);

// Starts the program again, with the same arguments and descriptors, with
// kHeapTunables in its environment, unless they are there (or would be
// dropped, in a program run with raised privileges). When the program
// cannot be started again it returns and the run goes on with the heap as it
// is. Called first thing in main, before anything is read or written.
void restart_with_heap_tunables(char** argv);

}  // namespace sorvik

#endif  // SORVIK_BASE_HEAP_GROWTH_H_
