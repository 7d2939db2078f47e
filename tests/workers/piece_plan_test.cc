// Which pieces the counting children take: the plan from file sizes and cut
// points, and the files' shapes and claims it rests on.
#include "workers/piece_plan.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "analysis/log_record.h"
#include "base/settings.h"
#include "support/test_support.h"
#include "workers/file_claims.h"

namespace sorvik {
namespace {

// The plan as "file.piece:begin-end" with "end" for the file's end.
std::string planned(const std::vector<FileShape>& shapes, std::size_t first = 0) {
  std::string text;
  for (const CountedPiece& piece : plan_pieces(shapes, first, 2)) {
    text += std::to_string(piece.file) + "." + std::to_string(piece.number) + ":" +
            std::to_string(piece.bytes.begin) + "-" +
            (piece.bytes.end == LogPiece::kToEnd ? "end" : std::to_string(piece.bytes.end)) + " ";
  }
  return text;
}

TEST(PiecePlanTest, FilesAreCutWhereThatLetsTwoChildrenEndSooner) {
  const FileShape even{1600, 800};
  // A log in one file is cut; two or four even files are not, of three the
  // last is.
  EXPECT_EQ(planned({even}), "0.0:0-800 0.1:800-end ");
  EXPECT_EQ(planned({even, even}), "0.0:0-end 1.0:0-end ");
  EXPECT_EQ(planned({even, even, even}), "0.0:0-end 1.0:0-end 2.0:0-800 2.1:800-end ");
  EXPECT_EQ(planned({even, even, even, even}), "0.0:0-end 1.0:0-end 2.0:0-end 3.0:0-end ");
  // A long file beside a short one that cannot be cut; the files numbered
  // from the first one planned.
  EXPECT_EQ(planned({even, FileShape{500, 0}}, 5), "5.0:0-800 5.1:800-end 6.0:0-end ");
  // A cut that gains no more than it costs (a sixteenth of its file) is not
  // made: here it would end the children 100 bytes sooner.
  EXPECT_EQ(planned({even, FileShape{700, 0}}), "0.0:0-end 1.0:0-end ");
  EXPECT_EQ(planned({even, FileShape{699, 0}}), "0.0:0-800 0.1:800-end 1.0:0-end ");
  EXPECT_EQ(planned({}), "");
}

TEST(PiecePlanTest, CountingSpanIsTheBusiestChildsBytes) {
  EXPECT_EQ(counting_span({5, 3, 4}, 2), 7u);
  EXPECT_EQ(counting_span({5, 3, 4}, 1), 12u);
  EXPECT_EQ(counting_span({}, 2), 0u);
}

// Lines of 64 bytes up to `bytes`.
std::string lines_of(std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) text += std::string(63, 'x') + "\n";
  return text;
}

TEST_F(SorvikTest, AFileIsCutAfterTheLineThatHoldsItsMiddleByte) {
  write_file("long", "a\n" + lines_of(kPieceMinBytes + 1000));
  const std::string log = read_file("long");
  const FileShape shape = shape_of_file("long");
  EXPECT_EQ(shape.size, log.size());
  ASSERT_GT(shape.cut, log.size() / 2);
  EXPECT_LE(shape.cut - log.size() / 2, 64u);
  EXPECT_EQ(log[shape.cut - 1], '\n');

  // Too short, compressed, or without a line end near its middle: not cut.
  write_file("short", lines_of(kPieceMinBytes - 64));
  EXPECT_EQ(shape_of_file("short").cut, 0u);
  const gzFile out = gzopen("packed", "wb0");
  gzwrite(out, log.data(), static_cast<unsigned>(log.size()));
  gzclose(out);
  EXPECT_GE(shape_of_file("packed").size, kPieceMinBytes);
  EXPECT_EQ(shape_of_file("packed").cut, 0u);
  write_file("one line", std::string(kPieceMinBytes * 5 / 2, 'y') + "\n");
  EXPECT_EQ(shape_of_file("one line").cut, 0u);
  EXPECT_EQ(shape_of_file("missing").size, 0u);
  std::filesystem::create_directory("folder");
  EXPECT_EQ(shape_of_file("folder").size, 0u);
}

// A child reads a piece only while its file still has line feeds right
// before the piece's borders; otherwise it leaves the file to the weeks run.
TEST_F(SorvikTest, APieceOfAFileChangedSinceItWasCutIsNoLongerOne) {
  std::filesystem::create_directories("logs");
  settings.log_dir = "logs/";
  analysis.log_files = {"access.1"};
  write_file("logs/access.1", "a\nbb\nccc\n");
  const CountedPiece first{0, 0, LogPiece{0, 5}};
  const CountedPiece second{0, 1, LogPiece{5, LogPiece::kToEnd}};
  EXPECT_TRUE(piece_still_cut(first));
  EXPECT_TRUE(piece_still_cut(second));
  write_file("logs/access.1", "a\nbbb\ncc\n");  // replaced: the same length
  EXPECT_FALSE(piece_still_cut(first));
  EXPECT_FALSE(piece_still_cut(second));
  write_file("logs/access.1", "a\nb");  // cut short before the border
  EXPECT_FALSE(piece_still_cut(first));
  std::filesystem::remove("logs/access.1");
  EXPECT_FALSE(piece_still_cut(second));
  EXPECT_TRUE(piece_still_cut(CountedPiece{0, 0, LogPiece{}}));
}

// Children claiming at the same time take every piece once, in order.
TEST(FileClaimsTest, EveryPieceIsTakenByExactlyOneChild) {
  std::vector<CountedPiece> plan;
  for (uint32_t file = 0; file < 500; ++file) plan.push_back(CountedPiece{file, 0, LogPiece{}});
  const SharedFileClaims claims = make_file_claims(plan);
  ASSERT_TRUE(claims);
  std::vector<std::vector<int64_t>> taken(2);
  std::vector<std::thread> children;
  for (int32_t number = 0; number < 2; ++number) {
    children.emplace_back([&claims, &taken, number] {
      for (int64_t i; (i = claim_next_piece(*claims, number)) >= 0;) taken[number].push_back(i);
    });
  }
  for (std::thread& child : children) child.join();
  std::vector<int> takers(plan.size(), 0);
  for (int32_t number = 0; number < 2; ++number) {
    EXPECT_TRUE(std::is_sorted(taken[number].begin(), taken[number].end()));
    for (const int64_t i : taken[number]) {
      takers[static_cast<std::size_t>(i)] += 1;
      EXPECT_EQ(claims->taker[static_cast<std::size_t>(i)].load(), number);
    }
  }
  EXPECT_EQ(takers, std::vector<int>(plan.size(), 1));
  EXPECT_EQ(claim_next_piece(*claims, 0), -1);
}

}  // namespace
}  // namespace sorvik
