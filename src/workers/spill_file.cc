#include "workers/spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace sorvik {

namespace {

// Makes the file; false when the temporary directory refuses it.
bool make_spill_file(SpillFile& file) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  path += "sorvik-spill-XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // A file that would stay behind (with the lists in it) is not used.
  if (unlink(name.data()) != 0) {
    close(fd);
    return false;
  }
  file.fd = fd;
  file.path.assign(name.data());
  return true;
}

}  // namespace

SpillFile::~SpillFile() {
  if (fd >= 0) close(fd);
}

bool spill_bytes(SpillFile& file, std::string_view bytes, SpilledBytes& placed) {
  if (file.failed) return false;
  if (file.fd < 0 && !make_spill_file(file)) {
    file.failed = true;
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = pwrite(file.fd, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(file.size + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      // What was written of these bytes is never read: the file only grows.
      file.failed = true;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  placed = SpilledBytes{file.size, bytes.size()};
  file.size += bytes.size();
  return true;
}

int read_spilled(const SpillFile& file, const SpilledBytes& placed, std::string& out) {
  out.resize(placed.size);
  std::size_t done = 0;
  while (done < placed.size) {
    const ssize_t got = pread(file.fd, out.data() + done, placed.size - done,
                              static_cast<off_t>(placed.offset + done));
    if (got < 0 && errno == EINTR) continue;
    // The file never shrinks: an early end means it was cut behind the run's back.
    if (got <= 0) return got < 0 ? errno : EIO;
    done += static_cast<std::size_t>(got);
  }
  return 0;
}

}  // namespace sorvik
