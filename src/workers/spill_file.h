// Bytes that a run keeps for a later step set aside in a temporary file, so
// that they take no memory meanwhile: the system keeps the file's pages in
// its cache while memory allows, and writes them out when it does not.
#ifndef SORVIK_WORKERS_SPILL_FILE_H_
#define SORVIK_WORKERS_SPILL_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvik {

// A temporary file in $TMPDIR (or /tmp), made at its first use and removed
// from its directory at once, so that nothing is left behind however the
// run ends. Bytes are only ever appended; reading may happen on any thread.
struct SpillFile {
  int fd = -1;
  std::string path;     // as made, for an error report
  uint64_t size = 0;    // bytes appended so far
  bool failed = false;  // could not be made or written: nothing more goes there

  SpillFile() = default;
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;
  ~SpillFile();
};

// Where appended bytes lie in the file.
struct SpilledBytes {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Appends `bytes` and tells where they went; false when the file cannot be
// made or take them (no room, say), and for every later call: the caller
// then keeps them itself.
bool spill_bytes(SpillFile& file, std::string_view bytes, SpilledBytes& placed);

// Reads bytes appended before into `out`; 0, or the errno of the failure.
int read_spilled(const SpillFile& file, const SpilledBytes& placed, std::string& out);

}  // namespace sorvik

#endif  // SORVIK_WORKERS_SPILL_FILE_H_
