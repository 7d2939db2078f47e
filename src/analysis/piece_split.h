// A piece of a plain log file that one process reads while another, which
// has nothing left to read, may take over the later part of it.
//
// The two agree through one word in memory they share. The taker offers a
// place where the piece could end (the start of a line further on); the
// reader, before each read, takes the offer when it has not read past that
// place yet, and refuses it otherwise. Each side changes the word only by
// compare-and-swap, so every byte is read by exactly one of them, and an
// offer the reader has not answered can be withdrawn without harm (the
// reader may be busy, stopped or gone).
#ifndef SORVIK_ANALYSIS_PIECE_SPLIT_H_
#define SORVIK_ANALYSIS_PIECE_SPLIT_H_

#include <atomic>
#include <chrono>
#include <cstdint>

namespace sorvik {

struct PieceSplit {
  // Where in the file the reader has read up to; the taker's guide to
  // what is left, never relied on for correctness.
  std::atomic<uint64_t> reached{0};
  // Open, an offer of a place, that place taken, or closed (see the .cc).
  std::atomic<uint64_t> state{0};
};

// The reader's side. The bytes the reader at byte `at` of the file may
// still read, of the `left` it was given: an offer at `at` or later is taken
// and ends the piece there; an offer of a place already passed is refused.
// Notes `at` as reached.
uint64_t bytes_left_in_piece(PieceSplit& split, uint64_t at, uint64_t left);

// The reader has met the piece's end (or stopped): no offer is taken from
// now on, and one waiting is refused.
void close_piece(PieceSplit& split);

// Where the piece ended, once its reader closed it: the place of the offer
// it took, or else `planned_end`.
uint64_t piece_end(const PieceSplit& split, uint64_t planned_end);

// The taker's side: offers `place` as the piece's end and waits up to
// `patience` for the reader's answer. True when the reader took it: the
// bytes from `place` on are the taker's to read. False when the reader
// refused it, the piece is closed or already split, another offer waits, or
// the offer was withdrawn unanswered.
bool offer_piece_end(PieceSplit& split, uint64_t place, std::chrono::milliseconds patience);

// Whether the piece may still be offered an end: open, neither split nor
// closed.
bool piece_open(const PieceSplit& split);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_PIECE_SPLIT_H_
