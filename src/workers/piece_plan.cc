#include "workers/piece_plan.h"

#include <algorithm>

namespace sorvik {

namespace {

// Cutting a file costs the analyzer about this share of the file's bytes
// in merging the stretch its cut adds; a cut is made only where it shortens
// the counting by more.
constexpr uint64_t kCutCostShare = 16;

// The cost of cutting the files marked in `cut`: the counting span of the
// pieces it makes and the cuts' own cost.
uint64_t plan_cost(const std::vector<FileShape>& shapes, const std::vector<bool>& cut,
                   std::size_t children, std::vector<uint64_t>& pieces) {
  pieces.clear();
  uint64_t cost = 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (!cut[i]) {
      pieces.push_back(shapes[i].size);
      continue;
    }
    pieces.push_back(shapes[i].cut);
    pieces.push_back(shapes[i].size - shapes[i].cut);
    cost += shapes[i].size / kCutCostShare;
  }
  return cost + counting_span(pieces, children);
}

}  // namespace

uint64_t counting_span(const std::vector<uint64_t>& pieces, std::size_t children) {
  std::vector<uint64_t> busy(std::max<std::size_t>(children, 1), 0);
  for (const uint64_t bytes : pieces) *std::min_element(busy.begin(), busy.end()) += bytes;
  return *std::max_element(busy.begin(), busy.end());
}

std::vector<CountedPiece> plan_pieces(const std::vector<FileShape>& shapes, std::size_t first,
                                      std::size_t children) {
  std::vector<std::size_t> cuttable;  // indexes into shapes
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (shapes[i].cut > 0) cuttable.push_back(i);
  }
  if (cuttable.size() > kCutChoiceFiles) {
    cuttable.erase(cuttable.begin(), cuttable.end() - kCutChoiceFiles);
  }
  // The files that choice `cuts` cuts, one bit for each file that can be,
  // the lowest for the last.
  const auto cut_files = [&shapes, &cuttable](uint32_t cuts) {
    std::vector<bool> cut(shapes.size(), false);
    for (std::size_t j = 0; j < cuttable.size(); ++j) {
      cut[cuttable[cuttable.size() - 1 - j]] = ((cuts >> j) & 1) != 0;
    }
    return cut;
  };
  // Every choice is tried, at most 2^kCutChoiceFiles. The first of equal
  // cost is kept: no file is cut where cutting would not help, and of two
  // cuts that help alike the later file's, so that the files before it
  // arrive whole and early, and the analyzer shows their weeks while the
  // children go on.
  std::vector<bool> best = cut_files(0);
  uint64_t best_cost = UINT64_MAX;
  std::vector<uint64_t> pieces;
  for (uint32_t cuts = 0; cuts < (uint32_t{1} << cuttable.size()); ++cuts) {
    const std::vector<bool> cut = cut_files(cuts);
    const uint64_t cost = plan_cost(shapes, cut, children, pieces);
    if (cost < best_cost) {
      best_cost = cost;
      best = cut;
    }
  }
  std::vector<CountedPiece> planned;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const auto file = static_cast<uint32_t>(first + i);
    planned.push_back(CountedPiece{file, 0, LogPiece{0, best[i] ? shapes[i].cut : LogPiece::kToEnd}});
    if (best[i]) planned.push_back(CountedPiece{file, 1, LogPiece{shapes[i].cut, LogPiece::kToEnd}});
  }
  return planned;
}

}  // namespace sorvik
