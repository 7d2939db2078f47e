#include "report/page_writer.h"

#include <cstdio>
#include <utility>

#include "base/block_writer.h"

namespace sorvik {

void append_html_escaped(std::string& out, std::string_view data) {
  // Most texts hold nothing to escape: the runs between the four characters
  // are appended whole.
  std::size_t run = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::string_view entity;
    switch (data[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      default:
        continue;
    }
    out.append(data.substr(run, i - run));
    out.append(entity);
    run = i + 1;
  }
  out.append(data.substr(run));
}

PageWriter PageWriter::create(const std::string& path) {
  PageWriter page;
  page.file_ = create_output(path);
  return page;
}

bool PageWriter::try_create(const std::string& path, PageWriter& page, int& error_number) {
  OutputFile file;
  if (!try_create_output(path, file, error_number)) return false;
  page = PageWriter{};
  page.file_ = std::move(file);
  return true;
}

PageWriter PageWriter::create_later(const std::string& path, BlockWriter* writer) {
  if (writer == nullptr) return create(path);
  PageWriter page;
  page.in_memory_ = true;
  page.memory_path_ = path;
  page.block_writer_ = writer;
  return page;
}

PageWriter::PageWriter(PageWriter&& other) noexcept
    : bytes_(std::move(other.bytes_)),
      file_(std::move(other.file_)),
      in_memory_(std::exchange(other.in_memory_, false)),
      memory_path_(std::move(other.memory_path_)),
      block_writer_(std::exchange(other.block_writer_, nullptr)) {
  other.bytes_.clear();
}

PageWriter& PageWriter::operator=(PageWriter&& other) noexcept {
  if (this != &other) {
    close_quietly();
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
    file_ = std::move(other.file_);
    in_memory_ = std::exchange(other.in_memory_, false);
    memory_path_ = std::move(other.memory_path_);
    block_writer_ = std::exchange(other.block_writer_, nullptr);
  }
  return *this;
}

PageWriter::~PageWriter() { close_quietly(); }

void PageWriter::flush_bytes() {
  if (!file_.is_open()) return;
  write_text(file_, bytes_);
  bytes_.clear();
}

void PageWriter::finish() {
  if (in_memory_) {
    in_memory_ = false;
    write_new_file(block_writer_, memory_path_, std::move(bytes_));
    bytes_.clear();
    return;
  }
  if (!file_.is_open()) return;
  flush_bytes();
  close_output(file_);
}

void PageWriter::close_quietly() noexcept {
  if (file_.is_open() && !bytes_.empty()) {
    // The run is being stopped: the page keeps what was written to it, as
    // far as that can still be written.
    (void)std::fwrite(bytes_.data(), 1, bytes_.size(), file_.handle);
  }
  bytes_.clear();
  file_ = OutputFile{};
  in_memory_ = false;
}

}  // namespace sorvik
