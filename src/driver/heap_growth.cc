// The heap's growth in steps, made resident a step at a time.
#include "driver/heap_growth.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sorvik {

HeapGrowth heap_growth;

void set_heap_growth() {
  mallopt(M_TOP_PAD, static_cast<int>(kHeapStep));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapLargestBlock));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(kHeapKeep));
  heap_growth.resident_end = reinterpret_cast<uintptr_t>(sbrk(0));
}

void make_heap_growth_resident() {
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  // Before set_heap_growth, or a heap that has shrunk since: only what grows
  // from here on is made resident.
  if (heap_growth.resident_end == 0 || end < heap_growth.resident_end) {
    heap_growth.resident_end = end;
    return;
  }
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = heap_growth.resident_end & ~(page - 1);
  if (end > start) {
    // Linux 5.14 and later fault the range in, writable, in one call; an
    // older system refuses, and the pages fault one by one as they are used.
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  }
  heap_growth.resident_end = end;
}

}  // namespace sorvik
