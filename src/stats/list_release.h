// Freeing the entries of cleared lists on a thread of their own.
//
// A period's lists hold a text or two for each of their many entries, and
// giving all that memory back takes the analyzer a good part of a period's
// end. While a ListRelease lives, list_clear hands the entries it drops to
// its thread, and the analyzer goes on with the next period meanwhile.
// Nothing visible depends on when the memory is freed.
#ifndef SORVIK_STATS_LIST_RELEASE_H_
#define SORVIK_STATS_LIST_RELEASE_H_

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "stats/counted_list.h"

namespace sorvik {

struct ListRelease {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<ListEntry>> waiting;  // guarded by mutex
  bool stopping = false;                        // guarded by mutex
  std::thread thread;

  // Starts the thread and sets lists.release. A process that forks must do
  // so before, or after the ListRelease has ended.
  ListRelease();
  // Unsets lists.release, and waits until the thread has freed everything
  // handed to it.
  ~ListRelease();
  ListRelease(const ListRelease&) = delete;
  ListRelease& operator=(const ListRelease&) = delete;
};

}  // namespace sorvik

#endif  // SORVIK_STATS_LIST_RELEASE_H_
