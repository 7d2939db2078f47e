#include "base/random_bytes.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace sorvik {

namespace {

bool read_getrandom(unsigned char* out, std::size_t size) {
  while (size > 0) {
    const ssize_t got = getrandom(out, size, GRND_NONBLOCK);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool read_urandom(unsigned char* out, std::size_t size) {
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool complete = true;
  while (size > 0) {
    const ssize_t got = read(fd, out, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      complete = false;
      break;
    }
    out += got;
    size -= static_cast<std::size_t>(got);
  }
  close(fd);
  return complete;
}

}  // namespace

bool read_random_bytes(unsigned char* out, std::size_t size) {
  return read_getrandom(out, size) || read_urandom(out, size);
}

}  // namespace sorvik
