#include "base/block_writer.h"

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <utility>

#include "base/run_stop.h"

namespace sorvik {

namespace {

// Writes `bytes` to the stream of `file`: 0, or the error number.
int write_bytes(OutputFile& file, const std::string& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.handle) == bytes.size()) return 0;
  return errno != 0 ? errno : EIO;
}

// Writes one block: 0, or the error number with `operation` set to what failed.
int write_one(const BlockWriter::Block& block, std::string_view& operation) {
  operation = "write";
  if (block.file != nullptr) return write_bytes(*block.file, block.bytes);
  OutputFile file;
  int error_number = 0;
  if (!try_create_output(block.path, file, error_number)) {
    operation = "create";
    return error_number;
  }
  if ((error_number = write_bytes(file, block.bytes)) != 0) return error_number;
  std::FILE* handle = std::exchange(file.handle, nullptr);
  return std::fclose(handle) == 0 ? 0 : (errno != 0 ? errno : EIO);
}

// The writer's thread is woken once this many bytes wait, or by
// finish_blocks: a wake for every section and page handed over cost both
// threads a switch each, a hundred times a period.
constexpr std::size_t kWakeBytes = std::size_t{256} << 10;

// Waits until the blocks waiting hold fewer than kWaitingBytesLimit bytes.
void wait_for_room(BlockWriter& writer, std::unique_lock<std::mutex>& lock) {
  writer.changed.wait(lock, [&writer] { return writer.waiting_bytes < kWaitingBytesLimit; });
}

}  // namespace

BlockWriter::BlockWriter() {
  thread = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stopping || !waiting.empty(); });
      if (waiting.empty()) return;
      Block block = std::move(waiting.front());
      waiting.pop_front();
      waiting_bytes -= block.bytes.size();
      const bool dropped = failed_errno != 0;
      writing = true;
      lock.unlock();
      std::string_view operation;
      const int error_number = dropped ? 0 : write_one(block, operation);
      lock.lock();
      writing = false;
      if (error_number != 0) {
        failed_errno = error_number;
        failed_operation = operation;
        failed_path = block.file != nullptr ? block.file->path : block.path;
      }
      // Only the blocks of open files come back as room for the next ones.
      if (block.file != nullptr && spare.size() < kSpareBlocks) {
        block.bytes.clear();
        spare.push_back(std::move(block.bytes));
      }
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
  bool wake = false;
  {
    std::unique_lock<std::mutex> lock(writer->mutex);
    wait_for_room(*writer, lock);
    writer->waiting_bytes += bytes.size();
    writer->waiting.push_back(BlockWriter::Block{&file, std::move(bytes), {}});
    if (!writer->spare.empty()) {
      next = std::move(writer->spare.back());
      writer->spare.pop_back();
    }
    wake = writer->waiting_bytes >= kWakeBytes;
  }
  if (wake) writer->changed.notify_all();
  bytes = std::move(next);
  bytes.clear();
}

void write_new_file(BlockWriter* writer, const std::string& path, std::string bytes) {
  if (writer == nullptr) {
    OutputFile file = create_output(path);
    write_text(file, bytes);
    close_output(file);
    return;
  }
  bool wake = false;
  {
    std::unique_lock<std::mutex> lock(writer->mutex);
    wait_for_room(*writer, lock);
    writer->waiting_bytes += bytes.size();
    writer->waiting.push_back(BlockWriter::Block{nullptr, std::move(bytes), path});
    wake = writer->waiting_bytes >= kWakeBytes;
  }
  if (wake) writer->changed.notify_all();
}

void finish_blocks(BlockWriter* writer) {
  if (writer == nullptr) return;
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->changed.notify_all();
  writer->changed.wait(lock, [writer] { return writer->waiting.empty() && !writer->writing; });
  if (writer->failed_errno == 0) return;
  const int error_number = std::exchange(writer->failed_errno, 0);
  const std::string operation = std::move(writer->failed_operation);
  const std::string path = std::move(writer->failed_path);
  lock.unlock();
  stop_on_io_error(operation, path, error_number);
}

}  // namespace sorvik
