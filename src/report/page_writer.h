// The one door through which bytes reach an HTML page.
//
// A page holds two kinds of bytes, and PageWriter has one way to write each:
//   markup  the template: the analyzer's own tags and numbers, and the texts
//           of the language file and the configuration, which the pages
//           carry unescaped by design (they may hold markup of their own);
//   text    data: anything that comes from the logs, the resolver or the
//           file system (keys, host names, period and file names), written
//           with & < > " escaped.
// There is no other way to write to a page, so every unescaped write is a
// call of `markup` (or `markup_line`), and a grep for them finds them all.
//
// The bytes are gathered in a buffer of the writer, so that the many small
// pieces of a page cost an append each; a page written to a file goes to it
// in blocks of kPageBlockBytes and when finished, a page kept in memory is
// handed whole to the report's block writer.
#ifndef SORVIK_REPORT_PAGE_WRITER_H_
#define SORVIK_REPORT_PAGE_WRITER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/file_io.h"

namespace sorvik {

struct BlockWriter;

inline constexpr std::size_t kPageBlockBytes = 64 * 1024;

// Appends `data` to `out` with & < > " replaced by &amp; &lt; &gt; &quot;.
void append_html_escaped(std::string& out, std::string_view data);

class PageWriter {
 public:
  // Page `path`, created (or replaced) now; a failure ends the run.
  static PageWriter create(const std::string& path);
  // Page `path`, created (or replaced) now into `page`; on failure returns
  // false with `error_number` set and `page` closed, without ending the run.
  static bool try_create(const std::string& path, PageWriter& page, int& error_number);
  // Page `path`, made in memory and handed to `writer` by finish, which
  // creates it on its own thread (a failure then ends the run at
  // finish_blocks); without a writer, the page is created now, as by create.
  static PageWriter create_later(const std::string& path, BlockWriter* writer);

  // A writer with no page: nothing it is given goes anywhere.
  PageWriter() = default;
  PageWriter(PageWriter&& other) noexcept;
  PageWriter& operator=(PageWriter&& other) noexcept;
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;
  // A page not finished (the run is being stopped) keeps what was written
  // to it, without reporting errors; a page kept in memory is dropped.
  ~PageWriter();

  bool is_open() const { return in_memory_ || file_.is_open(); }

  // Writes `template_markup` unescaped. Only for the analyzer's own markup
  // and the texts of the language file and the configuration.
  PageWriter& markup(std::string_view template_markup) {
    bytes_.append(template_markup);
    if (bytes_.size() >= kPageBlockBytes) flush_bytes();
    return *this;
  }
  // markup, then a line end.
  PageWriter& markup_line(std::string_view template_markup = {}) {
    bytes_.append(template_markup);
    bytes_ += '\n';
    if (bytes_.size() >= kPageBlockBytes) flush_bytes();
    return *this;
  }
  // Writes `data` with & < > " escaped.
  PageWriter& text(std::string_view data) {
    append_html_escaped(bytes_, data);
    if (bytes_.size() >= kPageBlockBytes) flush_bytes();
    return *this;
  }

  // Writes what is left and closes the page, or hands a page kept in memory
  // to its block writer. A failure ends the run. Nothing without a page.
  void finish();

 private:
  // Writes the gathered bytes to the page's file (none for a page kept in
  // memory, which gathers the whole page); a failure ends the run.
  void flush_bytes();
  // Writes the gathered bytes without reporting errors and closes the page.
  void close_quietly() noexcept;

  std::string bytes_;  // written, not yet in the file
  OutputFile file_;    // open for a page written to a file
  bool in_memory_ = false;
  std::string memory_path_;  // of a page kept in memory
  BlockWriter* block_writer_ = nullptr;
};

}  // namespace sorvik

#endif  // SORVIK_REPORT_PAGE_WRITER_H_
