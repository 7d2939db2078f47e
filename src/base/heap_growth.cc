// The heap's growth in steps, made resident a step at a time, and the
// restart that gives the heap the settings only the environment can give.
#include "base/heap_growth.h"

#include <malloc.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace sorvik {

HeapGrowth heap_growth;

void set_heap_growth() {
  mallopt(M_TOP_PAD, static_cast<int>(kHeapStep));
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapLargestBlock));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(kHeapKeep));
  heap_growth.resident_end = reinterpret_cast<uintptr_t>(sbrk(0));
}

void make_heap_growth_resident() {
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  // Before set_heap_growth, or a heap that has shrunk since: only what grows
  // from here on is made resident.
  if (heap_growth.resident_end == 0 || end < heap_growth.resident_end) {
    heap_growth.resident_end = end;
    return;
  }
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = heap_growth.resident_end & ~(page - 1);
  if (end > start) {
    // Linux 5.14 and later fault the range in, writable, in one call; an
    // older system refuses, and the pages fault one by one as they are used.
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
  }
  heap_growth.resident_end = end;
}

std::optional<std::string> heap_tunables_for(std::string_view present) {
  // The names set now: the settings are "name=value" separated by ':'.
  const auto sets = [present](std::string_view name) {
    for (std::size_t start = 0; start <= present.size();) {
      std::size_t end = present.find(':', start);
      if (end == std::string_view::npos) end = present.size();
      const std::string_view setting = present.substr(start, end - start);
      if (setting.substr(0, setting.find('=')) == name) return true;
      start = end + 1;
    }
    return false;
  };
  std::string wanted(present);
  for (const std::string_view tunable : kHeapTunables) {
    if (sets(tunable.substr(0, tunable.find('=')))) continue;
    if (!wanted.empty()) wanted += ':';
    wanted += tunable;
  }
  if (wanted.size() == present.size()) return std::nullopt;
  return wanted;
}

void restart_with_heap_tunables(char** argv) {
  // With raised privileges the C library drops the variable: the restarted
  // program would not find it and start again without end.
  if (getauxval(AT_SECURE) != 0) return;
  const char* present = std::getenv(kHeapTunablesVariable);
  const std::optional<std::string> wanted = heap_tunables_for(present != nullptr ? present : "");
  if (!wanted) return;
  // The program's file by its name: a program run under a tool (valgrind)
  // is that tool's to start again, where /proc/self/exe would be the tool.
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path - 1) return;
  path[length] = '\0';
  const std::string before = present != nullptr ? present : "";
  if (setenv(kHeapTunablesVariable, wanted->c_str(), 1) != 0) return;
  execv(path, argv);
  // Not restarted (no /proc, or the file is gone): the environment is put
  // back as it was.
  if (present != nullptr) {
    setenv(kHeapTunablesVariable, before.c_str(), 1);
  } else {
    unsetenv(kHeapTunablesVariable);
  }
}

}  // namespace sorvik
