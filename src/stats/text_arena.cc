#include "stats/text_arena.h"

#include <algorithm>

namespace sorvik {

namespace {

// The first block of an arena; each next one is as large as all before it,
// up to kLargestBlock, so that a list of a few texts takes little and a list
// of a hundred thousand a few dozen blocks.
constexpr std::size_t kFirstBlock = 4096;
constexpr std::size_t kLargestBlock = std::size_t{1} << 20;

}  // namespace

char* arena_take(TextArena& arena, std::size_t size) {
  if (static_cast<std::size_t>(arena.end - arena.next) < size) {
    const std::size_t grown = std::clamp(arena.block_bytes, kFirstBlock, kLargestBlock);
    const std::size_t block = std::max(grown, size);
    arena.blocks.push_back(std::make_unique_for_overwrite<char[]>(block));
    arena.next = arena.blocks.back().get();
    arena.end = arena.next + block;
    arena.block_bytes += block;
  }
  char* taken = arena.next;
  arena.next += size;
  return taken;
}

void arena_release(ArenaHandle& handle) {
  if (handle.arena == nullptr) {
    handle.arena = std::make_unique<TextArena>();
  } else {
    *handle.arena = TextArena{};
  }
}

}  // namespace sorvik
