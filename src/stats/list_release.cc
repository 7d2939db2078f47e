#include "stats/list_release.h"

#include <utility>

namespace sorvik {

ListRelease::ListRelease() {
  thread = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stopping || !waiting.empty(); });
      if (waiting.empty()) return;
      std::vector<std::vector<ListEntry>> taken;
      taken.swap(waiting);
      lock.unlock();
      taken.clear();
      lock.lock();
    }
  });
  lists.release = [this](std::vector<ListEntry>&& entries) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      waiting.push_back(std::move(entries));
    }
    changed.notify_one();
  };
}

ListRelease::~ListRelease() {
  lists.release = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_one();
  thread.join();
}

}  // namespace sorvik
