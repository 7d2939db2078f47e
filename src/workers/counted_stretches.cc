#include "workers/counted_stretches.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "analysis/log_record.h"

namespace sorvik {

namespace {

// Takes the items of the counting child of piece `i` into the store until
// the piece's facts are there; false when its script ended first.
bool take_counted_piece(CountedStretches& counted, std::size_t i, uint64_t records_before) {
  StretchStore& store = counted.store;
  const CountedPiece& piece = counted.claims->piece[i];
  const std::pair<uint64_t, uint64_t> place{piece.file, piece.number};
  if (store.files.count(place) != 0) return true;
  ModeWorker* const taker = counter_of_piece(counted, i);
  if (taker == nullptr) return false;
  ModeWorker& counter = *taker;
  ItemReader reader;
  while (!counter.played && next_item(counter, reader)) {
    const Step step = static_cast<Step>(reader.get_u8());
    // A stop, a failure or the end has no place to read.
    if (step != Step::kStretch && step != Step::kFileFacts) break;
    const StretchRef ref = read_item_place(reader);
    if (step == Step::kFileFacts) {
      store.files[ref] = std::move(reader.bytes);
      if (ref == place) return true;
      continue;
    }
    // The item is kept whole, its step and place included. Items of an
    // earlier file, left unread when the weeks run read that file itself,
    // are kept as they came and never used.
    if (records_before == 0 || ref.first != piece.file ||
        ref.second / kStretchesPerFile != piece.number) {
      keep_stretch(store, ref, std::move(reader.bytes));
    } else {
      keep_stretch(store, ref, stretch_moved_on(reader, ref, records_before));
    }
  }
  counter.played = true;
  return false;
}

}  // namespace

bool counters_ended(const CountedStretches& counted) {
  for (ModeWorker* counter : counted.counter_number) {
    if (counter != nullptr && !script_ended(*counter)) return false;
  }
  return true;
}

ModeWorker* counter_of_piece(const CountedStretches& counted, std::size_t i) {
  constexpr auto kPoll = std::chrono::milliseconds(1);
  const FileClaims& claims = *counted.claims;
  for (;;) {
    // Read before asking whether the children ended: a child that took the
    // file and then ended still names it.
    const int32_t taker = claims.taker[i].load();
    if (taker >= 0) {
      const auto number = static_cast<std::size_t>(taker);
      return number < counted.counter_number.size() ? counted.counter_number[number] : nullptr;
    }
    if (counters_ended(counted)) {
      // A child may have taken the piece just before it ended.
      if (claims.taker[i].load() < 0) return nullptr;
      continue;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

bool take_counted_file(CountedStretches& counted, uint64_t k) {
  if (!counted.claims) return false;
  const FileClaims& claims = *counted.claims;
  bool planned = false;
  uint64_t records_before = 0;
  for (std::size_t i = 0; i < claims.pieces; ++i) {
    if (claims.piece[i].file != k) continue;
    planned = true;
    if (!take_counted_piece(counted, i, records_before)) return false;
    records_before += piece_records(counted.store, k, claims.piece[i].number);
  }
  return planned;
}

bool plan_once_counted(CountedStretches& counted, std::size_t k) {
  if (counted.merge_ahead) return true;
  const std::size_t files = analysis.log_files.size();
  // The files after `k` are taken only once nothing of theirs is still to
  // come; at the last file, every stretch is in already.
  if (k + 1 < files && !counters_ended(counted)) return false;
  for (std::size_t file = k; file < files; ++file) {
    if (!take_counted_file(counted, file) || !file_bytes_exact(counted.store, file)) return true;
  }
  counted.merge_ahead =
      start_merge_ahead(counted.store, counted.later_modes, counted.merge_beside_writing);
  return true;
}

}  // namespace sorvik
