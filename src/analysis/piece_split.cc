#include "analysis/piece_split.h"

#include <thread>

namespace sorvik {

namespace {

// The word's values: open, closed, or a place (from 1 to below 2^62) with
// a tag in the two low bits, offered or taken.
constexpr uint64_t kOpen = 0;
constexpr uint64_t kClosed = 1;
constexpr uint64_t kOffered = 2;
constexpr uint64_t kTaken = 3;
constexpr uint64_t kTagMask = 3;

constexpr uint64_t with_tag(uint64_t place, uint64_t tag) { return place << 2 | tag; }
constexpr uint64_t tag_of(uint64_t state) { return state & kTagMask; }
constexpr uint64_t place_of(uint64_t state) { return state >> 2; }

// How often the taker looks for the reader's answer, which comes with the
// reader's next read (a block of a few dozen kilobytes).
constexpr auto kAnswerPoll = std::chrono::microseconds(50);

}  // namespace

uint64_t bytes_left_in_piece(PieceSplit& split, uint64_t at, uint64_t left) {
  split.reached.store(at, std::memory_order_relaxed);
  uint64_t state = split.state.load();
  while (tag_of(state) == kOffered) {
    const uint64_t place = place_of(state);
    // A place beyond the piece cannot be the taker's to read.
    const bool inside = place >= at && (left == UINT64_MAX || place - at < left);
    const uint64_t answer = inside ? with_tag(place, kTaken) : kOpen;
    if (split.state.compare_exchange_strong(state, answer)) {
      return inside ? place - at : left;
    }
    // The taker withdrew the offer meanwhile: `state` holds the word now.
  }
  if (tag_of(state) == kTaken) {
    const uint64_t place = place_of(state);
    return place > at ? place - at : 0;
  }
  return left;
}

void close_piece(PieceSplit& split) {
  uint64_t state = split.state.load();
  while (state == kOpen || tag_of(state) == kOffered) {
    if (split.state.compare_exchange_strong(state, kClosed)) return;
  }
}

uint64_t piece_end(const PieceSplit& split, uint64_t planned_end) {
  const uint64_t state = split.state.load();
  return tag_of(state) == kTaken ? place_of(state) : planned_end;
}

bool offer_piece_end(PieceSplit& split, uint64_t place, std::chrono::milliseconds patience) {
  const uint64_t offer = with_tag(place, kOffered);
  uint64_t state = kOpen;
  if (place == 0 || place >= (uint64_t{1} << 62) ||
      !split.state.compare_exchange_strong(state, offer)) {
    return false;
  }
  const auto give_up = std::chrono::steady_clock::now() + patience;
  for (;;) {
    state = split.state.load();
    if (state != offer) return state == with_tag(place, kTaken);
    if (std::chrono::steady_clock::now() >= give_up) {
      // Withdrawn, unless the reader answers at this very moment.
      if (split.state.compare_exchange_strong(state, kOpen)) return false;
      return state == with_tag(place, kTaken);
    }
    std::this_thread::sleep_for(kAnswerPoll);
  }
}

bool piece_open(const PieceSplit& split) { return split.state.load() == kOpen; }

}  // namespace sorvik
