#include "driver/heap_setup.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace sorvik {

namespace {

// Blocks up to this size come from the heap; a larger one (the largest
// lists of a year) gets a mapping of its own, which goes back to the
// system as a whole when it is freed.
constexpr std::size_t kLargestHeapBlock = std::size_t{8} << 20;

}  // namespace

void set_up_heap() {
#if defined(M_ARENA_MAX)
  mallopt(M_ARENA_MAX, 1);
#endif
  // The heap keeps the free space at its end up to beyond the marked
  // stretch, so that the stretch is not given back (and its mark lost) when
  // a period's lists are freed.
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHugePageHeap));
  // The stretch is taken as one block from the heap (not as a mapping of
  // its own), marked, and freed again into the heap, whose later blocks
  // then lie in it.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(2 * kHugePageHeap));
  void* block = std::malloc(kHugePageHeap);
  if (block != nullptr) {
    // From the block's first whole page on: the system backs the marked
    // addresses with pages of 2 MB where a whole one fits.
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first_page = (begin + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(first_page), kHugePageHeap - (first_page - begin),
            MADV_HUGEPAGE);
    std::free(block);
  }
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargestHeapBlock));
}

}  // namespace sorvik
