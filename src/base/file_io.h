// Files as raw bytes: text files split at line feeds, report files written
// sequentially, state files replaced atomically, and directory listings with
// wildcards. Every I/O failure here ends the run through stop_on_io_error.
#ifndef SORVIK_BASE_FILE_IO_H_
#define SORVIK_BASE_FILE_IO_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik {

// True when a directory entry of that name exists, of any kind (a dangling
// symbolic link counts).
bool path_exists(const std::string& path);

// Reads a text file as lines split at line feeds; a carriage return right
// before the line feed (or at the very end of a last line without one) is
// dropped, so that files saved with CR LF line ends read the same. Each line
// is then cut at 255 bytes. A last line without a line feed is a line; a
// final line feed does not start another one.
std::vector<std::string> read_text_lines(const std::string& path);

// Hands each line of a text file, split and cut as read_text_lines does, to
// `take` as it is read, so that a long file is never held whole. A failure
// to open or read ends the run, after the lines read before it were taken.
void for_each_text_line(const std::string& path,
                        const std::function<void(std::string_view line)>& take);

// A report or list file open for writing. Closing happens in close_output or,
// when the run is stopped, in the destructor (the file keeps what it holds).
struct OutputFile {
  std::FILE* handle = nullptr;
  std::string path;
  // The stream's buffer: reports are written in many small pieces, and the
  // library's default buffer would turn them into many small writes.
  std::unique_ptr<char[]> buffer;
  // Where the stream of a memory_output puts its bytes; held apart, so that
  // its place stays the same when the OutputFile is moved.
  struct MemoryBytes {
    char* data = nullptr;
    std::size_t size = 0;
    ~MemoryBytes();
  };
  std::unique_ptr<MemoryBytes> memory;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile();

  bool is_open() const { return handle != nullptr; }
};

// Creates (or replaces) `path`; on failure returns false and sets
// `error_number` without stopping the run. A symbolic link at `path` is not
// followed: it is removed and a new file created in its place.
bool try_create_output(const std::string& path, OutputFile& file, int& error_number);
// Creates (or replaces) `path`; a failure ends the run.
OutputFile create_output(const std::string& path);
// Opens `path` for appending, creating it when absent; a failure ends the run,
// and so does a symbolic link at `path` (it is never followed).
OutputFile append_output(const std::string& path);
void write_text(OutputFile& file, std::string_view text);
void write_line(OutputFile& file, std::string_view text = {});
// Flushes and closes; a failure ends the run.
void close_output(OutputFile& file);

// A file for `path` whose bytes stay in memory: written like any other,
// then taken (take_memory_output) to be created and written elsewhere.
OutputFile memory_output(const std::string& path);
// Closes a memory_output file and returns what was written to it.
std::string take_memory_output(OutputFile& file);

// Replaces `path` by `content`: writes a temporary file in the same folder,
// flushes it to disk, renames it over `path` and syncs the folder, so that a
// power loss after the return cannot bring the previous file back. The new
// file keeps the permissions and (where the process may set it) the group of
// the regular file it replaces. A failure leaves the previous file intact,
// removes the temporary file and ends the run.
void write_file_atomically(const std::string& path, std::string_view content);

// The two halves of write_file_atomically, for a caller that keeps a backup of
// the old file in between: writes `content` to a new temporary file next to
// `path` ("<path>.tmp<pid>.<six random letters and digits>", created where no
// file or link was), with the rights of the file at `path`, flushed to disk,
// and returns its name; then renames it over `path` and syncs the folder.
// Failures remove the temporary file and end the run, naming `path`.
std::string write_temporary_file(const std::string& path, std::string_view content);
// The same for content made part by part: `next_part` gives each part in
// turn, and an empty part when there are no more.
std::string write_temporary_file_in_parts(const std::string& path,
                                          const std::function<std::string_view()>& next_part);
void replace_file(const std::string& temporary, const std::string& path);

// Removes the temporary files that write_temporary_file left next to `path`
// when a run was killed before it could rename them ("<path>.tmp<pid>.<six
// characters>", or "<path>.tmp<pid>" of earlier versions): only
// those whose process no longer exists, so that a writer still at work keeps
// its file. Failures are ignored; the files are litter, not state.
void remove_stale_temporary_files(const std::string& path);

struct DirectoryEntry {
  std::string name;      // without directory
  int64_t size = 0;      // bytes
  bool regular = false;  // a regular file, or a symbolic link to one
};

// True when `name` matches `pattern` ("*" any run of bytes, "?" any one byte).
bool wildcard_match(std::string_view pattern, std::string_view name);

// Lists the entries of the directory part of `pattern` (before its last "/",
// the current directory when it has none) whose names match its last component.
// Entries of every kind are listed, hidden ones too, but never "." and "..".
// A directory that cannot be listed gives no entries.
std::vector<DirectoryEntry> list_matching(const std::string& pattern);

}  // namespace sorvik

#endif  // SORVIK_BASE_FILE_IO_H_
