// Hashes the keys of a log's records (clients, paths, directories, agents)
// with the keyed hash of the counted lists and with the unkeyed hash it
// replaced, and prints the nanoseconds a key of each kind took with each:
// the best of 15 rounds, the two hashes taking turns.
//
// Usage: key_hash_bench LOG_FILE [RECORDS]   (default: the first 200,000)
// The log is in the eleven-field format of bench/generate_bench_log.py.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "stats/text_hash.h"

namespace {

// The unkeyed hash the counted lists used before, kept here only to compare
// its speed: one multiply-and-shift chain over eight bytes at a time.
uint64_t old_unkeyed_hash(std::string_view text) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  const char* data = text.data();
  const std::size_t size = text.size();
  uint64_t h = size * kMultiplier;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, data + i, 8);
    h = (h ^ chunk) * kMultiplier;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  if (size >= 8) {
    if (i < size) std::memcpy(&tail, data + size - 8, 8);
  } else if (size >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, data, 4);
    std::memcpy(&last, data + size - 4, 4);
    tail = (static_cast<uint64_t>(first) << 32) | last;
  } else if (size > 0) {
    tail = (static_cast<uint64_t>(static_cast<unsigned char>(data[0])) << 16) |
           (static_cast<uint64_t>(static_cast<unsigned char>(data[size / 2])) << 8) |
           static_cast<unsigned char>(data[size - 1]);
  }
  h = (h ^ tail) * kMultiplier;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ULL;
  h ^= h >> 32;
  return h;
}

// Where the hashes' sum goes, so that the compiler keeps the hashing.
volatile uint64_t hash_sum;

struct Keys {
  std::vector<std::string> client, path, directory, agent;
};

// The keys of one record: the first field, the request's path and its
// directory, and the last quoted field. False for a line without them.
bool take_keys(const std::string& line, Keys& keys) {
  const std::size_t client_end = line.find(' ');
  const std::size_t request = line.find('"');
  if (client_end == std::string::npos || request == std::string::npos) return false;
  const std::size_t path_start = line.find(' ', request);
  const std::size_t path_end = line.find(' ', path_start + 1);
  const std::size_t agent_end = line.rfind('"');
  const std::size_t agent_start = line.rfind('"', agent_end - 1);
  if (path_end == std::string::npos || agent_start == std::string::npos || agent_end == 0) {
    return false;
  }
  keys.client.push_back(line.substr(0, client_end));
  keys.path.push_back(line.substr(path_start + 1, path_end - path_start - 1));
  keys.directory.push_back(keys.path.back().substr(0, keys.path.back().rfind('/') + 1));
  keys.agent.push_back(line.substr(agent_start + 1, agent_end - agent_start - 1));
  return true;
}

// Nanoseconds a key, the best of the rounds, of each hash (old, keyed).
void measure(const char* kind, const std::vector<std::string>& keys) {
  using Clock = std::chrono::steady_clock;
  double best[2] = {1e9, 1e9};
  uint64_t sink = 0;
  for (int round = 0; round < 15; ++round) {
    for (int keyed = 0; keyed < 2; ++keyed) {
      const Clock::time_point start = Clock::now();
      for (const std::string& key : keys) {
        sink += keyed ? sorvik::hash_text(key) : old_unkeyed_hash(key);
      }
      const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                        static_cast<double>(keys.size());
      if (ns < best[keyed]) best[keyed] = ns;
    }
  }
  double bytes = 0;
  for (const std::string& key : keys) bytes += static_cast<double>(key.size());
  hash_sum = sink;
  std::printf("%-10s %8.1f %10.2f %10.2f %7.2f\n", kind, bytes / static_cast<double>(keys.size()),
              best[0], best[1], best[1] / best[0]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: key_hash_bench LOG_FILE [RECORDS]\n");
    return 2;
  }
  const long records = argc == 3 ? std::atol(argv[2]) : 200000;
  std::ifstream log(argv[1]);
  Keys keys;
  std::string line;
  for (long n = 0; n < records && std::getline(log, line);) n += take_keys(line, keys) ? 1 : 0;
  if (keys.client.empty()) {
    std::fprintf(stderr, "no records in %s\n", argv[1]);
    return 1;
  }
  sorvik::seed_hash_keys();
  std::printf("%zu records; ns a key, best of 15 rounds\n", keys.client.size());
  std::printf("%-10s %8s %10s %10s %7s\n", "key", "bytes", "old", "keyed", "ratio");
  measure("client", keys.client);
  measure("path", keys.path);
  measure("directory", keys.directory);
  measure("agent", keys.agent);
  return 0;
}
