#include "base/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/random_bytes.h"
#include "base/run_stop.h"
#include "base/text.h"

namespace sorvik {

bool path_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

void for_each_text_line(const std::string& path,
                        const std::function<void(std::string_view line)>& take) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) stop_on_io_error("open", path, errno);
  // Closes the file also when `take` ends the run.
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  std::string line;
  bool pending = false;     // bytes after the last line feed
  std::size_t seen = 0;     // bytes of the line in `line`, cut ones included
  bool ends_in_cr = false;  // the last of those bytes is a carriage return
  // A carriage return that ends a line is the line end of a file saved with
  // CR LF, not text; it goes before the line is cut at 255 bytes.
  const auto take_line = [&] {
    const std::size_t length = seen - (ends_in_cr ? 1 : 0);
    if (line.size() > length) line.resize(length);
    take(line);
    line.clear();
    seen = 0;
    ends_in_cr = false;
    pending = false;
  };
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      stop_on_io_error("read", path, errno);
    }
    if (got == 0) break;
    // A line keeps its first 255 bytes; the rest up to its line feed is dropped.
    const char* at = buffer;
    const char* const end = buffer + got;
    while (at < end) {
      const auto* feed =
          static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
      const char* const stop = feed != nullptr ? feed : end;
      auto bytes = static_cast<std::size_t>(stop - at);
      if (feed != nullptr && !pending) {
        // A line whole within the buffer goes out without a copy.
        if (bytes > 0 && at[bytes - 1] == '\r') --bytes;
        take(std::string_view(at, std::min(bytes, kTextLimit)));
        at = feed + 1;
        continue;
      }
      line.append(at, std::min(bytes, kTextLimit - line.size()));
      if (bytes > 0) {
        pending = true;
        seen += bytes;
        ends_in_cr = at[bytes - 1] == '\r';
      }
      if (feed == nullptr) break;
      take_line();
      at = feed + 1;
    }
  }
  if (pending) take_line();
}

std::vector<std::string> read_text_lines(const std::string& path) {
  std::vector<std::string> lines;
  for_each_text_line(path, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

namespace {

// Below the size that the allocator serves by mapping fresh pages, so that
// opening and closing many files stays cheap.
constexpr std::size_t kOutputBuffer = 64 * 1024;

// Must run before the first write to the new stream.
void give_buffer(OutputFile& file) {
  file.buffer = std::make_unique_for_overwrite<char[]>(kOutputBuffer);
  std::setvbuf(file.handle, file.buffer.get(), _IOFBF, kOutputBuffer);
}

int open_retrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A stream that writes to `fd`; on failure the descriptor is closed and
// `error_number` set.
std::FILE* stream_of(int fd, const char* mode, int& error_number) {
  std::FILE* handle = fdopen(fd, mode);
  if (handle == nullptr) {
    error_number = errno;
    close(fd);
  }
  return handle;
}

// Opens `path` to be written from its start, creating it when absent. A
// symbolic link at the name is never written through: whoever may write the
// folder could otherwise have the run overwrite any file the run may write.
// The link is removed and a new file made in its place; a link that comes
// back in between makes the creation fail. -1 with errno on failure.
int open_for_writing(const std::string& path) {
  // Created with 0666 as fopen creates files: the umask decides. A named
  // pipe planted at the name fails at once (ENXIO) instead of holding the
  // run until someone reads it; a regular file's writes do not heed
  // O_NONBLOCK.
  constexpr int kCreate = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const int fd = open_retrying(path, kCreate | O_TRUNC, 0666);
  if (fd >= 0 || errno != ELOOP) return fd;
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
  return open_retrying(path, kCreate | O_EXCL, 0666);
}

// Letters and digits for a temporary file's name that no other process can
// foresee, so that nobody can place a file or link there beforehand.
constexpr std::size_t kSuffixLength = 6;
std::string unpredictable_suffix(int attempt) {
  static constexpr char kCharacters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[kSuffixLength];
  if (!read_random_bytes(bytes, sizeof bytes)) {
    // Only early at boot has the system no random bytes yet; the exclusive
    // creation keeps the file safe then, its name is just easier to guess.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mixed =
        (static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 30) +
        static_cast<uint64_t>(attempt) * 0x9E3779B97F4A7C15u;
    for (unsigned char& byte : bytes) {
      mixed *= 0xBF58476D1CE4E5B9u;
      byte = static_cast<unsigned char>(mixed >> 56);
    }
  }
  std::string suffix;
  for (const unsigned char byte : bytes) suffix += kCharacters[byte % (sizeof kCharacters - 1)];
  return suffix;
}

// Creates a new file "<path>.tmp<pid>.<suffix>" where no file or link was
// before, and sets `temporary` to its name. The pid tells
// remove_stale_temporary_files whether its writer still runs. -1 with errno
// on failure.
int create_temporary(const std::string& path, std::string& temporary) {
  const std::string stem = path + ".tmp" + std::to_string(getpid()) + ".";
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    temporary = stem + unpredictable_suffix(attempt);
    const int fd =
        open_retrying(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the new file `fd` the permissions and the group of the regular file
// at `path`, when there is one, so that the state file it replaces keeps who
// may read it. A new state file keeps 0644 less the umask. The group is only
// tried: a process may hand a file only to a group of its own, and without it
// the file still keeps its permissions. False with errno when the
// permissions could not be set.
bool take_rights_of(const std::string& path, int fd) {
  struct stat previous {};
  if (lstat(path.c_str(), &previous) != 0 || !S_ISREG(previous.st_mode)) return true;
  struct stat made {};
  if (fstat(fd, &made) == 0 && made.st_gid != previous.st_gid) {
    [[maybe_unused]] const int grouped = fchown(fd, static_cast<uid_t>(-1), previous.st_gid);
  }
  // After the group: handing a file to another group clears its set-group bit.
  return fchmod(fd, previous.st_mode & 07777) == 0;
}

// Makes a rename in the folder of `path` survive a power loss: the new name
// reaches the disk only with the folder.
void sync_folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = open_retrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) stop_on_io_error("sync", folder, errno);
  int synced;
  do {
    synced = fsync(fd);
  } while (synced != 0 && errno == EINTR);
  const int error_number = errno;
  close(fd);
  // A file system that cannot sync a folder says EINVAL; its renames are as
  // durable as it makes them.
  if (synced != 0 && error_number != EINVAL) stop_on_io_error("sync", folder, error_number);
}

}  // namespace

OutputFile::MemoryBytes::~MemoryBytes() { std::free(data); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)),
      path(std::move(other.path)),
      buffer(std::move(other.buffer)),
      memory(std::move(other.memory)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (handle != nullptr) std::fclose(handle);
    handle = std::exchange(other.handle, nullptr);
    path = std::move(other.path);
    // Replaced only now: the closed stream may have used the old ones.
    buffer = std::move(other.buffer);
    memory = std::move(other.memory);
  }
  return *this;
}

OutputFile::~OutputFile() {
  if (handle != nullptr) std::fclose(handle);
}

bool try_create_output(const std::string& path, OutputFile& file, int& error_number) {
  const int fd = open_for_writing(path);
  if (fd < 0) {
    error_number = errno;
    return false;
  }
  std::FILE* handle = stream_of(fd, "wb", error_number);
  if (handle == nullptr) return false;
  file = OutputFile{};
  file.handle = handle;
  file.path = path;
  give_buffer(file);
  return true;
}

OutputFile create_output(const std::string& path) {
  OutputFile file;
  int error_number = 0;
  if (!try_create_output(path, file, error_number)) stop_on_io_error("create", path, error_number);
  return file;
}

OutputFile append_output(const std::string& path) {
  OutputFile file;
  // A symbolic link at the name ends the run (ELOOP) rather than have the
  // run append to whatever it points at.
  const int fd = open_retrying(
      path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) stop_on_io_error("open", path, errno);
  int error_number = 0;
  file.handle = stream_of(fd, "ab", error_number);
  if (file.handle == nullptr) stop_on_io_error("open", path, error_number);
  file.path = path;
  give_buffer(file);
  return file;
}

void write_text(OutputFile& file, std::string_view text) {
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), file.handle) != text.size()) {
    stop_on_io_error("write", file.path, errno);
  }
}

void write_line(OutputFile& file, std::string_view text) {
  write_text(file, text);
  if (std::fputc('\n', file.handle) == EOF) stop_on_io_error("write", file.path, errno);
}

void close_output(OutputFile& file) {
  if (file.handle == nullptr) return;
  std::FILE* handle = std::exchange(file.handle, nullptr);
  const bool flushed = std::fflush(handle) == 0;
  const int error_number = errno;
  if (std::fclose(handle) != 0 || !flushed) {
    stop_on_io_error("write", file.path, flushed ? errno : error_number);
  }
}

OutputFile memory_output(const std::string& path) {
  OutputFile file;
  file.memory = std::make_unique<OutputFile::MemoryBytes>();
  file.handle = open_memstream(&file.memory->data, &file.memory->size);
  if (file.handle == nullptr) stop_on_io_error("create", path, errno);
  file.path = path;
  return file;
}

std::string take_memory_output(OutputFile& file) {
  std::FILE* handle = std::exchange(file.handle, nullptr);
  if (handle != nullptr && std::fclose(handle) != 0) stop_on_io_error("write", file.path, errno);
  std::string bytes;
  if (file.memory != nullptr && file.memory->data != nullptr) {
    bytes.assign(file.memory->data, file.memory->size);
  }
  file.memory.reset();
  return bytes;
}

std::string write_temporary_file(const std::string& path, std::string_view content) {
  bool given = false;
  return write_temporary_file_in_parts(path, [&]() -> std::string_view {
    if (given) return {};
    given = true;
    return content;
  });
}

std::string write_temporary_file_in_parts(const std::string& path,
                                          const std::function<std::string_view()>& next_part) {
  // Failures name the file being replaced: the temporary name means nothing
  // to the operator.
  std::string temporary;
  const int fd = create_temporary(path, temporary);
  if (fd < 0) stop_on_io_error("write", path, errno);
  const auto fail = [&](int error_number) {
    close(fd);
    unlink(temporary.c_str());
    stop_on_io_error("write", path, error_number);
  };
  if (!take_rights_of(path, fd)) fail(errno);
  for (std::string_view part = next_part(); !part.empty(); part = next_part()) {
    std::size_t written = 0;
    while (written < part.size()) {
      const ssize_t put = write(fd, part.data() + written, part.size() - written);
      if (put < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      written += static_cast<std::size_t>(put);
    }
  }
  if (fsync(fd) != 0) fail(errno);
  if (close(fd) != 0) {
    const int error_number = errno;
    unlink(temporary.c_str());
    stop_on_io_error("write", path, error_number);
  }
  return temporary;
}

void replace_file(const std::string& temporary, const std::string& path) {
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int error_number = errno;
    unlink(temporary.c_str());
    stop_on_io_error("replace", path, error_number);
  }
  sync_folder_of(path);
}

void write_file_atomically(const std::string& path, std::string_view content) {
  replace_file(write_temporary_file(path, content), path);
}

void remove_stale_temporary_files(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string prefix = path.substr(directory.size()) + ".tmp";
  for (const DirectoryEntry& entry : list_matching(directory + "*")) {
    if (!entry.name.starts_with(prefix)) continue;
    std::string_view digits = std::string_view(entry.name).substr(prefix.size());
    // "<pid>.<suffix>" as create_temporary names them; a bare "<pid>" was
    // left by earlier versions.
    const std::size_t dot = digits.find('.');
    if (dot != std::string_view::npos) {
      if (digits.size() - dot - 1 != kSuffixLength) continue;
      digits = digits.substr(0, dot);
    }
    if (digits.empty() || digits.size() > 9) continue;
    pid_t pid = 0;
    bool numeric = true;
    for (const char c : digits) {
      numeric = numeric && c >= '0' && c <= '9';
      pid = pid * 10 + (c - '0');
    }
    if (!numeric || pid <= 0) continue;
    // A process that still exists (or cannot be asked) may be writing it.
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;
    unlink((directory + entry.name).c_str());
  }
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
  // Iterative match with backtracking to the last "*".
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<DirectoryEntry> list_matching(const std::string& pattern) {
  const std::size_t slash = pattern.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : pattern.substr(0, slash));
  const std::string name_pattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::vector<DirectoryEntry> entries;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* item = readdir(dir)) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    if (!wildcard_match(name_pattern, name)) continue;
    DirectoryEntry entry;
    entry.name = std::string(name);
    struct stat info {};
    if (fstatat(dirfd(dir), item->d_name, &info, 0) == 0) {
      entry.size = info.st_size;
      entry.regular = S_ISREG(info.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return entries;
}

}  // namespace sorvik
