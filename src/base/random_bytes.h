// Random bytes from the system, for what no other process may foresee: the
// keys of the lists' hashes and the names of temporary files.
#ifndef SORVIK_BASE_RANDOM_BYTES_H_
#define SORVIK_BASE_RANDOM_BYTES_H_

#include <cstddef>

namespace sorvik {

// Fills `size` bytes at `out` from getrandom without waiting for the
// kernel's pool (a pool not ready yet fails instead of blocking), else from
// /dev/urandom. False when neither gives them all; the caller then makes do
// with what it can mix itself.
bool read_random_bytes(unsigned char* out, std::size_t size);

}  // namespace sorvik

#endif  // SORVIK_BASE_RANDOM_BYTES_H_
