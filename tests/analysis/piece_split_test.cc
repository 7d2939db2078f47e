// A piece of a log file read through LogBytes while another thread offers
// it an earlier end and reads the rest: between them every byte of the
// piece is read exactly once, whatever the reader was doing when the offer
// came.
#include "analysis/piece_split.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "analysis/log_bytes.h"
#include "analysis/log_reader.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

using std::chrono::milliseconds;

class PieceSplitTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    for (int i = 0; text_.size() < 300000; ++i) {
      text_ += "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 70), 'x');
      text_ += '\n';
    }
    write_file("piece.log", text_);
  }

  // Opens the file's bytes [begin, end) for reading with `split`.
  void open_piece(LogBytes& source, uint64_t begin, uint64_t end, PieceSplit* split) {
    const int fd = open("piece.log", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, static_cast<off_t>(begin), SEEK_SET), static_cast<off_t>(begin));
    fds_.push_back(fd);
    if (split != nullptr) split->reached.store(begin);
    open_log_piece_bytes(source, fd, begin, end - begin, split);
  }

  // One read of at most `room` bytes appended to `out`; false at the end.
  static bool read_some(LogBytes& source, std::string& out, std::size_t room = 4096) {
    std::string block(room, '\0');
    const ByteRead got = read_log_bytes(source, block.data(), block.size());
    if (got.status != ByteStatus::kData) {
      EXPECT_EQ(got.status, ByteStatus::kEnd);
      return false;
    }
    out.append(block, 0, got.count);
    return true;
  }

  static std::string read_rest(LogBytes& source, std::size_t room = 4096) {
    std::string out;
    while (read_some(source, out, room)) {
    }
    return out;
  }

  // The start of the line after byte `at`.
  uint64_t line_after(uint64_t at) const { return text_.find('\n', at) + 1; }

  // Waits until an offer waits in `split`.
  static void await_offer(const PieceSplit& split) {
    while (piece_open(split)) std::this_thread::yield();
  }

  void TearDown() override {
    for (const int fd : fds_) close(fd);
    SorvikTest::TearDown();
  }

  std::string text_;
  std::vector<int> fds_;
};

TEST_F(PieceSplitTest, AnOfferAheadOfTheReaderEndsThePieceThere) {
  const uint64_t begin = line_after(1000);
  const uint64_t end = text_.size();
  const uint64_t place = line_after(200000);
  PieceSplit split;
  LogBytes source;
  open_piece(source, begin, end, &split);
  std::string read;
  ASSERT_TRUE(read_some(source, read));
  bool taken = false;
  std::thread taker([&] { taken = offer_piece_end(split, place, milliseconds(60000)); });
  await_offer(split);
  read += read_rest(source);
  taker.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(read, text_.substr(begin, place - begin));
  EXPECT_EQ(piece_end(split, end), place);
  // Taken once, the piece takes no other offer.
  EXPECT_FALSE(offer_piece_end(split, line_after(250000), milliseconds(0)));
}

TEST_F(PieceSplitTest, AnOfferOfAPlaceAlreadyReadIsRefused) {
  const uint64_t place = line_after(5000);
  PieceSplit split;
  LogBytes source;
  open_piece(source, 0, text_.size(), &split);
  std::string read;
  while (read.size() < 20000) ASSERT_TRUE(read_some(source, read));
  bool taken = true;
  std::thread taker([&] { taken = offer_piece_end(split, place, milliseconds(60000)); });
  await_offer(split);
  read += read_rest(source);
  taker.join();
  EXPECT_FALSE(taken);
  EXPECT_EQ(read, text_);
  EXPECT_EQ(piece_end(split, LogPiece::kToEnd), LogPiece::kToEnd);
}

TEST_F(PieceSplitTest, AnUnansweredOfferIsWithdrawnAndAClosedPieceTakesNone) {
  const uint64_t place = line_after(100000);
  PieceSplit split;
  LogBytes source;
  open_piece(source, 0, text_.size(), &split);
  std::string read;
  ASSERT_TRUE(read_some(source, read));
  // The reader does not read while the offer waits.
  EXPECT_FALSE(offer_piece_end(split, place, milliseconds(20)));
  EXPECT_TRUE(piece_open(split));
  read += read_rest(source);
  EXPECT_EQ(read, text_);
  EXPECT_FALSE(piece_open(split));
  EXPECT_FALSE(offer_piece_end(split, place, milliseconds(0)));
  EXPECT_EQ(piece_end(split, 12345), 12345u);
  // A place at or beyond the piece's end is no end for it.
  PieceSplit whole;
  LogBytes again;
  open_piece(again, 0, place, &whole);
  std::thread taker([&] { EXPECT_FALSE(offer_piece_end(whole, place, milliseconds(60000))); });
  await_offer(whole);
  EXPECT_EQ(read_rest(again), text_.substr(0, place));
  taker.join();
}

// Reader and taker race: the taker offers the line after the middle of
// what the reader has still to read, at times from before the first read
// to after the last, and reads the rest itself when the offer is taken.
TEST_F(PieceSplitTest, ReaderAndTakerTogetherReadEveryByteOnce) {
  const uint64_t begin = line_after(3000);
  const uint64_t end = line_after(290000);
  int taken_count = 0;
  for (int round = 0; round < 60; ++round) {
    PieceSplit split;
    LogBytes source;
    open_piece(source, begin, end, &split);
    std::string taken_bytes;
    bool taken = false;
    std::thread taker([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(round * 37));
      const uint64_t reached = split.reached.load();
      if (reached >= end) return;
      const uint64_t place = line_after(reached + (end - reached) / 2);
      if (place >= end) return;
      taken = offer_piece_end(split, place, milliseconds(60000));
      if (!taken) return;
      LogBytes rest;
      const int fd = open("piece.log", O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(lseek(fd, static_cast<off_t>(place), SEEK_SET), static_cast<off_t>(place));
      open_log_piece_bytes(rest, fd, place, end - place);
      taken_bytes = read_rest(rest, 1000);
      close(fd);
    });
    const std::string read = read_rest(source, 1 + static_cast<std::size_t>(round) * 97);
    taker.join();
    EXPECT_EQ(read + taken_bytes, text_.substr(begin, end - begin)) << "round " << round;
    EXPECT_EQ(piece_end(split, end), begin + read.size()) << "round " << round;
    if (taken) {
      ++taken_count;
      EXPECT_EQ(read.back(), '\n');
    }
  }
  // Some offers come in time; which depends on the machine.
  EXPECT_GT(taken_count, 0);
}

}  // namespace
}  // namespace sorvik
