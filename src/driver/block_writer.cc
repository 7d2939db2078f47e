#include "driver/block_writer.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "driver/run_stop.h"

namespace sorvik {

BlockWriter::BlockWriter() {
  thread = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stopping || !waiting.empty(); });
      if (waiting.empty()) return;
      Block block = std::move(waiting.front());
      waiting.pop_front();
      const bool dropped = failed_errno != 0;
      writing = true;
      lock.unlock();
      int error_number = 0;
      if (!dropped && std::fwrite(block.bytes.data(), 1, block.bytes.size(), block.file->handle) !=
                          block.bytes.size()) {
        error_number = errno != 0 ? errno : EIO;
      }
      lock.lock();
      writing = false;
      if (error_number != 0) {
        failed_errno = error_number;
        failed_path = block.file->path;
      }
      block.bytes.clear();
      spare.push_back(std::move(block.bytes));
      changed.notify_all();
    }
  });
}

BlockWriter::~BlockWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
}

void write_block(BlockWriter* writer, OutputFile& file, std::string& bytes) {
  if (writer == nullptr) {
    write_text(file, bytes);
    bytes.clear();
    return;
  }
  if (bytes.empty()) return;
  std::string next;
  {
    std::lock_guard<std::mutex> lock(writer->mutex);
    writer->waiting.push_back(BlockWriter::Block{&file, std::move(bytes)});
    if (!writer->spare.empty()) {
      next = std::move(writer->spare.back());
      writer->spare.pop_back();
    }
  }
  writer->changed.notify_all();
  bytes = std::move(next);
  bytes.clear();
}

void finish_blocks(BlockWriter* writer) {
  if (writer == nullptr) return;
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->changed.wait(lock, [writer] { return writer->waiting.empty() && !writer->writing; });
  if (writer->failed_errno == 0) return;
  const int error_number = std::exchange(writer->failed_errno, 0);
  const std::string path = std::move(writer->failed_path);
  lock.unlock();
  stop_on_io_error("write", path, error_number);
}

}  // namespace sorvik
