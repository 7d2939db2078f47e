// The memory of a counted list's texts: one arena per list, from which the
// keys and extras of its entries take their bytes, and which gives them all
// back at once when the list is emptied.
//
// A period's lists hold a hundred thousand texts. Made and freed one by one
// on the heap, each costs a block with a header of its own, freeing them
// reads every header back wherever it lies, and threads that make and free
// such blocks beside one another wait on the heap's lock. From an arena a
// text is a bump of a pointer, and freeing it is nothing.
#ifndef SORVIK_STATS_TEXT_ARENA_H_
#define SORVIK_STATS_TEXT_ARENA_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik {

struct TextArena {
  // The blocks taken so far; texts point into them.
  std::vector<std::unique_ptr<char[]>> blocks;
  char* next = nullptr;  // free bytes of the newest block
  char* end = nullptr;
  // Bytes taken from the heap for blocks, for the next block's size.
  std::size_t block_bytes = 0;
};

// The arena of a list, as a member of the list: it moves with the list. A
// copied list, whose entries copy their texts to the heap, starts with an
// arena of its own, and a list assigned to keeps its own, into which the
// texts it is given are copied. After a move the arena is gone (null): texts
// then take the heap's bytes.
struct ArenaHandle {
  std::unique_ptr<TextArena> arena = std::make_unique<TextArena>();

  ArenaHandle() = default;
  ArenaHandle(const ArenaHandle&) : arena(std::make_unique<TextArena>()) {}
  ArenaHandle& operator=(const ArenaHandle&) { return *this; }
  ArenaHandle(ArenaHandle&&) noexcept = default;
  ArenaHandle& operator=(ArenaHandle&&) noexcept = default;
};

// `size` bytes that stay valid until the arena is released or destroyed.
char* arena_take(TextArena& arena, std::size_t size);

// Gives every block back; texts taken from the arena must no longer be used.
// A handle whose arena is gone gets a new one.
void arena_release(ArenaHandle& handle);

// Lets a std::basic_string take its bytes from an arena. A string made
// without an arena (the default) uses the heap as usual. Freeing a text of
// an arena does nothing: its bytes go back with the arena's. A string that
// is moved keeps its arena; one assigned to takes the bytes of its own; a
// copy takes the heap's.
template <typename T>
struct ArenaAllocator {
  using value_type = T;

  TextArena* arena = nullptr;

  ArenaAllocator() = default;
  explicit ArenaAllocator(TextArena* owner) : arena(owner) {}
  template <typename U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}

  T* allocate(std::size_t n) {
    if (arena == nullptr) return std::allocator<T>().allocate(n);
    return reinterpret_cast<T*>(arena_take(*arena, n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) {
    if (arena == nullptr) std::allocator<T>().deallocate(p, n);
  }
  // A copy of a text lives on the heap: it may outlive the arena.
  ArenaAllocator select_on_container_copy_construction() const { return ArenaAllocator(); }

  template <typename U>
  bool operator==(const ArenaAllocator<U>& other) const {
    return arena == other.arena;
  }
};

// The text type of a list entry's key and extra.
using ListText = std::basic_string<char, std::char_traits<char>, ArenaAllocator<char>>;

// A list text equals any other text with the same bytes (a std::string or a
// text of the heap's among them).
inline bool operator==(const ListText& text, std::string_view other) {
  return std::string_view(text) == other;
}

}  // namespace sorvik

#endif  // SORVIK_STATS_TEXT_ARENA_H_
