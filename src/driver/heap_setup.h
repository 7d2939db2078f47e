// How the program's heap takes memory from the system.
//
// A run touches its whole peak of memory once, and on a virtual machine the
// first touch of each 4 kB page costs many microseconds. The heap therefore
// asks the system to back its first stretch of addresses with pages of
// 2 MB where it offers them (transparent huge pages in "madvise" mode): one
// fault for 512 pages. All threads share one heap, so that memory one of
// them frees the others reuse (the pipe's blocks become stored stretches,
// lists merged ahead go into the slots, the reports' blocks go to the
// writing thread). bench/README.md has the measurements.
#ifndef SORVIK_DRIVER_HEAP_SETUP_H_
#define SORVIK_DRIVER_HEAP_SETUP_H_

#include <cstddef>

namespace sorvik {

// The stretch of the heap's addresses taken at the start and marked for
// pages of 2 MB. Addresses only: a page takes memory when it is first used.
inline constexpr std::size_t kHugePageHeap = std::size_t{256} << 20;

// Sets the heap up as described above; called once, first thing in main,
// before the threads and the counting processes (which inherit it) start.
// Where the system refuses any part, the heap works as it is.
void set_up_heap();

}  // namespace sorvik

#endif  // SORVIK_DRIVER_HEAP_SETUP_H_
