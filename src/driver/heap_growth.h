// How the analyzer's heap takes memory from the system. A page of memory
// costs a fault the first time it is touched; on a virtual machine that is
// many microseconds, and the analyzer touches its whole peak once. The heap
// therefore grows in steps of kHeapStep, keeps what it has (no return to the
// system at every free, no mapping of its own for a block of a few
// megabytes), and the analyzer's thread makes the pages of each step
// resident in one call (make_heap_growth_resident) before it uses them,
// instead of one fault per page.
#ifndef SORVIK_DRIVER_HEAP_GROWTH_H_
#define SORVIK_DRIVER_HEAP_GROWTH_H_

#include <cstddef>
#include <cstdint>

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

}  // namespace sorvik

#endif  // SORVIK_DRIVER_HEAP_GROWTH_H_
