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

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
// arena of its own, and a list assigned to keeps its own (its entries'
// texts copy what they are given into the room they have, else to the
// heap). After a move the arena is gone (null): texts then take the heap's
// bytes.
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

// The text of a list entry's key or extra, in 16 bytes, so that an entry
// with its counters takes 64 bytes (the host-name cache holds its names the
// same way, in an arena of its own). A text of up to 15 bytes is held
// inside; a longer one points to its bytes, which come from the arena its
// list gives when the text is set (assign), or else from the heap, owned by
// the text. A copy holds its bytes itself (on the heap when long): it may
// outlive the arena. A move takes the bytes along. Reads go through the
// text's view of its bytes, as a std::string_view's would.
class ListText {
 public:
  ListText() noexcept { set_inline_size(0); }
  // Implicit, as a std::string is made from a text: a copy of `text`.
  ListText(std::string_view text) {
    set_inline_size(0);
    assign(text, nullptr);
  }
  ListText(const char* text) : ListText(std::string_view(text)) {}
  ListText(const std::string& text) : ListText(std::string_view(text)) {}
  ListText(const ListText& other) : ListText(other.view()) {}
  ListText(ListText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_inline_size(0);
  }
  ListText& operator=(const ListText& other) {
    if (this != &other) assign(other.view(), nullptr);
    return *this;
  }
  ListText& operator=(ListText&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.set_inline_size(0);
    }
    return *this;
  }
  ~ListText() { release(); }

  // Sets the text to `text`. Bytes it has room for are reused; a longer text
  // takes new bytes from `arena`, or from the heap when that is null.
  void assign(std::string_view text, TextArena* arena) {
    const std::size_t size = text.size();
    if (size <= kInside) {
      // Bytes first: `text` may lie in the heap bytes given back now.
      // (An empty view may have no bytes at all.)
      char inside[kInside];
      if (size != 0) std::memcpy(inside, text.data(), size);
      release();
      if (size != 0) std::memcpy(bytes_, inside, size);
      set_inline_size(size);
      return;
    }
    if (!is_inline() && size <= capacity()) {
      char* data = outside_data();
      std::memmove(data, text.data(), size);
      set_outside(data, size, capacity(), tag());
      return;
    }
    char* data = arena != nullptr ? arena_take(*arena, size) : new char[size];
    std::memcpy(data, text.data(), size);
    release();
    set_outside(data, size, size, arena != nullptr ? kInArena : kOnHeap);
  }

  const char* data() const { return is_inline() ? bytes_ : outside_data(); }
  std::size_t size() const { return is_inline() ? tag() : outside_size(); }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return std::string_view(data(), size()); }
  operator std::string_view() const { return view(); }
  std::string_view substr(std::size_t at, std::size_t count = std::string_view::npos) const {
    return view().substr(at, count);
  }
  bool starts_with(std::string_view prefix) const { return view().starts_with(prefix); }

  friend bool operator==(const ListText& a, const ListText& b) { return a.view() == b.view(); }
  friend bool operator==(const ListText& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const ListText& a, const char* b) { return a.view() == b; }
  friend bool operator==(const ListText& a, const std::string& b) { return a.view() == b; }
  friend auto operator<=>(const ListText& a, const ListText& b) { return a.view() <=> b.view(); }

 private:
  static constexpr std::size_t kInside = 15;
  // The last byte tells where the text is: up to kInside, its size inside;
  // else one of these, and the first 14 bytes hold the bytes' address (8),
  // the size (4) and the room (2; 0 when larger than that holds).
  static constexpr uint8_t kInArena = 0x80;
  static constexpr uint8_t kOnHeap = 0x81;

  uint8_t tag() const { return static_cast<uint8_t>(bytes_[15]); }
  bool is_inline() const { return tag() <= kInside; }
  void set_inline_size(std::size_t size) { bytes_[15] = static_cast<char>(size); }
  char* outside_data() const {
    char* data = nullptr;
    std::memcpy(&data, bytes_, sizeof data);
    return data;
  }
  std::size_t outside_size() const {
    uint32_t size = 0;
    std::memcpy(&size, bytes_ + 8, sizeof size);
    return size;
  }
  std::size_t capacity() const {
    uint16_t room = 0;
    std::memcpy(&room, bytes_ + 12, sizeof room);
    return room;
  }
  void set_outside(char* data, std::size_t size, std::size_t room, uint8_t where) {
    const auto size32 = static_cast<uint32_t>(size);
    const auto room16 = static_cast<uint16_t>(room <= UINT16_MAX ? room : 0);
    std::memcpy(bytes_, &data, sizeof data);
    std::memcpy(bytes_ + 8, &size32, sizeof size32);
    std::memcpy(bytes_ + 12, &room16, sizeof room16);
    bytes_[14] = 0;
    bytes_[15] = static_cast<char>(where);
  }
  void release() {
    if (tag() == kOnHeap) delete[] outside_data();
  }

  char bytes_[16];
};

static_assert(sizeof(ListText) == 16);

}  // namespace sorvik

#endif  // SORVIK_STATS_TEXT_ARENA_H_
