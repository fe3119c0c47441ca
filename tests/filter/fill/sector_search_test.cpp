// The membrane fill's winner search: its exact sector rule against the fill's single-precision one
// over the whole coordinate range, its winners against visiting every edge point (scattered
// points with repeats, and pairs planted at equal distances in one sector), and its contract.
#include "filter/fill/sector_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filter/fill/membrane_fill.h"
#include "support/platform_fixture.h"

namespace {

// Both rules depend on |dx| and |dy| through a sector index that never falls as |dy| grows for
// a fixed |dx| (single-precision division rounds monotonically), so they agree everywhere when
// they agree on both sides of every step of the exact rule and at both ends. That covers all
// |dx|, |dy| <= 32767 in every quadrant.
TEST(SectorRule, ExactSlopesMatchSinglePrecisionRuleOverWholeRange) {
  constexpr int32_t kMax = 32767;
  int64_t mismatches = 0;
  auto check = [&](int32_t dx, int32_t dy) {
    if (dy < 0 || dy > kMax || (dx == 0 && dy == 0)) return;
    for (int32_t sx : {1, -1})
      for (int32_t sy : {1, -1})
        mismatches += _ExactSectorOf(sx * dx, sy * dy) != _SectorOf(sx * dx, sy * dy);
  };
  for (int32_t dx = 0; dx <= kMax; ++dx) {
    int32_t low = 0;
    for (int32_t step = 1; step <= 7; ++step) {
      int32_t high = kMax + 1;  // smallest dy with sector >= step, by bisection
      while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (_ExactSectorOf(dx, mid) >= step)
          high = mid;
        else
          low = mid + 1;
      }
      check(dx, low - 1);
      check(dx, low);
    }
    check(dx, 0);
    check(dx, kMax);
  }
  EXPECT_EQ(mismatches, 0);
}

// A search to check: the edge points and, for each row, the pixels asked (empty: not asked).
struct SearchCase {
  SearchCase(int32_t w, int32_t h)
      : width(w), height(h), wanted(size_t(h), std::vector<uint8_t>(size_t(w), 1)) {}
  int32_t width, height;
  std::vector<uint16_t> xs, ys;
  std::vector<std::vector<uint8_t>> wanted;
};

// Pairs of points at equal distance in one sector of many pixels: offsets of equal length whose
// sectors agree (same-row ones of sector 0 included), planted around random pixels in every
// quadrant and in both list orders, among a few scattered points.
SearchCase TieRich(uint32_t seed) {
  const int32_t w = 170, h = 150;
  std::vector<std::pair<int32_t, int32_t>> pairs;  // offsets packed as dx * 128 + dy
  std::vector<std::vector<int32_t>> byLength(80 * 80 * 2);
  for (int32_t dx = 1; dx < 80; ++dx)
    for (int32_t dy = 0; dy < 80; ++dy)
      byLength[size_t(dx * dx + dy * dy)].push_back(dx * 128 + dy);
  for (const std::vector<int32_t>& same : byLength)
    for (size_t i = 0; i < same.size(); ++i)
      for (size_t j = i + 1; j < same.size(); ++j)
        if (_SectorOf(same[i] / 128, same[i] % 128) == _SectorOf(same[j] / 128, same[j] % 128))
          pairs.push_back({same[i], same[j]});
  std::mt19937 rng(seed);
  SearchCase c(w, h);
  auto add = [&](int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    c.xs.push_back(uint16_t(x));
    c.ys.push_back(uint16_t(y));
  };
  for (int32_t k = 0; k < 70; ++k) {
    const int32_t px = int32_t(rng() % uint32_t(w)), py = int32_t(rng() % uint32_t(h));
    auto [a, b] = pairs[rng() % pairs.size()];
    if (rng() % 2) std::swap(a, b);
    const int32_t sx = rng() % 2 ? 1 : -1, sy = rng() % 2 ? 1 : -1;
    add(px - sx * (a / 128), py - sy * (a % 128));
    add(px - sx * (b / 128), py - sy * (b % 128));
  }
  for (int32_t k = 0; k < 30; ++k) add(int32_t(rng() % uint32_t(w)), int32_t(rng() % uint32_t(h)));
  return c;
}

// Points anywhere, repeats of earlier points included, every pixel asked (also those outside the
// points' box, which the search answers by visiting every point); in every third case some rows
// skipped and some pixels not wanted.
SearchCase Scattered(std::mt19937& rng, int t) {
  const int32_t w = 1 + int32_t(rng() % 35), h = 1 + int32_t(rng() % 35);
  SearchCase c(w, h);
  for (int32_t i = 0, n = t == 0 ? 0 : int32_t(rng() % 40); i < n; ++i) {
    const size_t from = i > 0 && rng() % 5 == 0 ? rng() % c.xs.size() : c.xs.size();
    c.xs.push_back(from < c.xs.size() ? c.xs[from] : uint16_t(rng() % uint32_t(w)));
    c.ys.push_back(from < c.ys.size() ? c.ys[from] : uint16_t(rng() % uint32_t(h)));
  }
  for (size_t y = 0; t % 3 == 0 && y < c.wanted.size(); ++y) {
    if (y % 3 == 1) c.wanted[y].clear();
    for (size_t x = 0; x < c.wanted[y].size(); x += 2) c.wanted[y][x] = 0;
  }
  return c;
}

using SectorSearchTest = PlatformFixture;

// The oracle is the fill's own loop over every point: the strictly nearer point takes a sector,
// so the first of equal distances keeps it.
TEST_F(SectorSearchTest, WinnersMatchVisitingEveryPoint) {
  std::vector<SearchCase> cases = {TieRich(1), TieRich(2), TieRich(3)};
  std::mt19937 rng(4242);
  for (int t = 0; t < 12; ++t) cases.push_back(Scattered(rng, t));
  cases.push_back(SearchCase(12, 90));  // (3, 47) and (0, 48) tie for (10, 73) at its last column
  cases.back().xs = {10, 3, 0, 0};
  cases.back().ys = {0, 47, 48, 157 - 70};
  for (size_t k = 0; k < cases.size(); ++k) {  // three with ties, then the scattered ones
    const SearchCase& c = cases[k];
    SectorSearch* search = nullptr;
    ASSERT_EQ(MakeSectorSearch(c.xs.data(), c.ys.data(), int32_t(c.xs.size()), c.width, c.height,
                               &search),
              noErr);
    std::vector<int32_t> winners(size_t(c.width) * kSearchSectors), distances2(winners.size());
    int64_t mismatches = 0, ties = 0;
    for (int32_t y = 0; y < c.height; ++y) {
      const std::vector<uint8_t>& wanted = c.wanted[size_t(y)];
      if (wanted.empty()) continue;
      const int32_t half = (c.width + 1) / 2;  // each row asked in two spans
      for (int32_t from = 0; from < c.width; from += half)
        ASSERT_EQ(FindRowWinners(search, y, from, std::min(c.width, from + half) - 1, wanted.data(),
                                 winners.data() + from * kSearchSectors,
                                 distances2.data() + from * kSearchSectors),
                  noErr);
      for (int32_t x = 0; x < c.width; ++x) {
        if (!wanted[size_t(x)]) continue;
        std::vector<int32_t> best(kSearchSectors, -1), bestD(kSearchSectors, kSearchFarDistance2);
        for (size_t i = 0; i < c.xs.size(); ++i) {
          const int32_t dx = x - c.xs[i], dy = y - c.ys[i], d2 = dx * dx + dy * dy;
          const int32_t s = _SectorOf(dx, dy);
          ties += d2 > 0 && d2 == bestD[size_t(s)];
          if (d2 > 0 && d2 < bestD[size_t(s)]) bestD[size_t(s)] = d2, best[size_t(s)] = int32_t(i);
        }
        for (int32_t s = 0; s < kSearchSectors; ++s)
          mismatches += winners[size_t(x * kSearchSectors + s)] != best[size_t(s)] ||
                        distances2[size_t(x * kSearchSectors + s)] != bestD[size_t(s)];
      }
    }
    DisposeSectorSearch(search);
    EXPECT_EQ(mismatches, 0) << "case " << k;
    EXPECT_TRUE(k >= 3 || ties > 100) << "case " << k << " has only " << ties << " ties";
  }
}

TEST_F(SectorSearchTest, RejectsArgumentsOutsideTheContract) {
  const uint16_t xs[] = {1, 5}, ys[] = {2, 5};
  SectorSearch* search = reinterpret_cast<SectorSearch*>(1);
  EXPECT_EQ(MakeSectorSearch(xs, ys, 2, 5, 8, &search), paramErr);  // x = 5 outside width 5
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(MakeSectorSearch(xs, ys, -1, 8, 8, &search), paramErr);
  EXPECT_EQ(MakeSectorSearch(xs, ys, kSearchMaxPoints + 1, 8, 8, &search), paramErr);
  EXPECT_EQ(MakeSectorSearch(xs, ys, 2, 0, 8, &search), paramErr);
  EXPECT_EQ(MakeSectorSearch(xs, ys, 2, 8, 32768, &search), paramErr);
  EXPECT_EQ(MakeSectorSearch(xs, ys, 2, 8, 8, nullptr), paramErr);
  ASSERT_EQ(MakeSectorSearch(xs, ys, 2, 8, 8, &search), noErr);
  std::vector<int32_t> winners(8 * kSearchSectors);
  EXPECT_EQ(FindRowWinners(search, 8, 0, 7, nullptr, winners.data(), nullptr), paramErr);
  EXPECT_EQ(FindRowWinners(search, 3, 0, 8, nullptr, winners.data(), nullptr), paramErr);
  EXPECT_EQ(FindRowWinners(search, 3, 0, 7, nullptr, winners.data(), nullptr), noErr);
  EXPECT_EQ(FindRowWinners(search, 3, 0, 7, nullptr, winners.data(), nullptr), noErr);  // again
  EXPECT_EQ(FindRowWinners(search, 2, 0, 7, nullptr, winners.data(), nullptr), paramErr);
  EXPECT_EQ(FindRowWinners(search, 4, 0, 7, nullptr, winners.data(), nullptr), noErr);
  DisposeSectorSearch(search);
  DisposeSectorSearch(nullptr);
}

}  // namespace
