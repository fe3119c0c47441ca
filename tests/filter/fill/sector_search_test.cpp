// Tests of the membrane fill's winner search: its sector rule against the fill's own over the
// whole coordinate range, and its winners against visiting every edge point on many small fills.
#include "filter/fill/sector_search.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "filter/fill/membrane_fill.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

// ---- The sector rule ----

// Both rules depend on |dx| and |dy| through a sector index that never falls as |dy| grows for
// a fixed |dx| (single-precision division rounds monotonically), so they agree everywhere when
// they agree on both sides of every step of the exact rule. That covers all |dx|, |dy| <= 32767.
TEST(SectorRule, ExactSlopesMatchSinglePrecisionRuleOverWholeRange) {
  constexpr int32_t kMax = 32767;
  int64_t mismatches = 0;
  for (int32_t dx = 1; dx <= kMax; ++dx) {
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
      for (int32_t dy : {low - 1, low}) {
        if (dy < 0 || dy > kMax) continue;
        for (int32_t sx : {1, -1})
          for (int32_t sy : {1, -1})
            mismatches += _ExactSectorOf(sx * dx, sy * dy) != _SectorOf(sx * dx, sy * dy);
      }
    }
    mismatches += _ExactSectorOf(dx, kMax) != _SectorOf(dx, kMax);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(SectorRule, AxesDiagonalsAndRandomPointsAgree) {
  for (int32_t d = 1; d <= 32767; ++d) {
    ASSERT_EQ(_ExactSectorOf(d, 0), 0);    // same row, to the left
    ASSERT_EQ(_ExactSectorOf(-d, 0), 16);  // same row, to the right
    ASSERT_EQ(_ExactSectorOf(0, d), 7);    // earlier row, same column
    ASSERT_EQ(_ExactSectorOf(0, -d), 15);  // later row, same column
    ASSERT_EQ(_ExactSectorOf(d, d), _SectorOf(d, d));
    ASSERT_EQ(_ExactSectorOf(d, d), 4);
    ASSERT_EQ(_ExactSectorOf(-d, -d), _SectorOf(-d, -d));
  }
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int32_t> coordinate(-32767, 32767);
  for (int i = 0; i < 2000000; ++i) {
    const int32_t dx = coordinate(rng), dy = coordinate(rng);
    if (dx == 0 && dy == 0) continue;
    ASSERT_EQ(_ExactSectorOf(dx, dy), _SectorOf(dx, dy)) << dx << ", " << dy;
  }
}

// ---- Winners against visiting every point ----

// A fill to check: its edge list and, for each row asked, the pixels wanted (empty: not asked).
struct SearchCase {
  std::string name;
  int32_t width, height;
  std::vector<uint16_t> xs, ys;
  std::vector<std::vector<uint8_t>> wanted;
  bool ties = false;  // the case is built to hold equal distances within one sector
};

// The oracle: the fill's own loop over every point, keeping the first of equal distances.
// Returns how many slots had a later point at the winner's distance.
int32_t VisitEveryPoint(const SearchCase& c, int32_t x, int32_t y, int32_t* winners,
                        int32_t* distances2) {
  bool tied[kSearchSectors] = {};
  for (int32_t s = 0; s < kSearchSectors; ++s) {
    winners[s] = -1;
    distances2[s] = kSearchFarDistance2;
  }
  for (size_t i = 0; i < c.xs.size(); ++i) {
    const int32_t dx = x - c.xs[i], dy = y - c.ys[i];
    const int32_t d2 = dx * dx + dy * dy;
    if (d2 <= 0) continue;
    const int32_t s = _SectorOf(dx, dy);
    if (d2 < distances2[s]) {
      distances2[s] = d2;
      winners[s] = int32_t(i);
      tied[s] = false;
    } else if (d2 == distances2[s]) {
      tied[s] = true;
    }
  }
  int32_t ties = 0;
  for (bool t : tied) ties += t;
  return ties;
}

// Edge points as the fill finds them for a selection: selected pixels outside the last column
// touching an unselected pixel or the border, row by row; the first `limit` are kept. The
// pixels wanted are the selected ones of rows 1 .. height - 2.
SearchCase FromSelection(const std::string& name, int32_t w, int32_t h,
                         const std::vector<uint8_t>& selected, size_t limit = kSearchMaxPoints) {
  SearchCase c{name, w, h, {}, {}, std::vector<std::vector<uint8_t>>(size_t(h))};
  auto at = [&](int32_t x, int32_t y) {
    return x >= 0 && y >= 0 && x < w && y < h && selected[size_t(y) * size_t(w) + size_t(x)];
  };
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w - 1; ++x) {
      if (!at(x, y)) continue;
      bool edge = false;
      for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) edge |= !at(x + i, y + j);
      if (edge && c.xs.size() < limit) {
        c.xs.push_back(uint16_t(x));
        c.ys.push_back(uint16_t(y));
      }
    }
  for (int32_t y = 1; y < h - 1; ++y) {
    c.wanted[size_t(y)].assign(size_t(w), 0);
    for (int32_t x = 0; x < w; ++x) c.wanted[size_t(y)][size_t(x)] = at(x, y);
  }
  return c;
}

// No selection: the frame (row 0, row h - 1, then the ends of each middle row) fills the rest.
SearchCase Frame(int32_t w, int32_t h) {
  SearchCase c{"frame " + std::to_string(w) + "x" + std::to_string(h),
               w,
               h,
               {},
               {},
               std::vector<std::vector<uint8_t>>(size_t(h))};
  auto add = [&](int32_t x, int32_t y) {
    c.xs.push_back(uint16_t(x));
    c.ys.push_back(uint16_t(y));
  };
  for (int32_t x = 0; x < w; ++x) add(x, 0);
  for (int32_t x = 0; x < w; ++x) add(x, h - 1);
  for (int32_t y = 1; y < h - 1; ++y) {
    add(0, y);
    add(w - 1, y);
    c.wanted[size_t(y)].assign(size_t(w), 1);
  }
  return c;
}

std::vector<uint8_t> Mask(int32_t w, int32_t h, bool (*inside)(int32_t, int32_t, uint32_t),
                          uint32_t seed) {
  std::vector<uint8_t> mask(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) mask[size_t(y) * size_t(w) + size_t(x)] = inside(x, y, seed);
  return mask;
}

std::vector<uint8_t> Noise(int32_t w, int32_t h, int32_t percent, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> mask(size_t(w) * size_t(h));
  for (uint8_t& m : mask) m = int32_t(rng() % 100) < percent;
  return mask;
}

// Pairs of points at equal distance in one sector of many pixels: offsets of equal length whose
// sectors agree (including same-row ones of sector 0), planted around random pixels in every
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
  SearchCase c{"equal distances in one sector " + std::to_string(seed),
               w,
               h,
               {},
               {},
               std::vector<std::vector<uint8_t>>(size_t(h), std::vector<uint8_t>(size_t(w), 1))};
  c.ties = true;
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

std::vector<SearchCase> Cases() {
  std::vector<SearchCase> cases;
  // Noise: many equal distances, points on the pixel's row and column, pixels that are points.
  uint32_t seed = 7;
  for (int32_t percent : {20, 50, 80, 95})
    for (auto [w, h] : {std::pair{23, 17}, std::pair{40, 31}, std::pair{9, 48}}) {
      cases.push_back(FromSelection(
          "noise " + std::to_string(percent) + "% " + std::to_string(w) + "x" + std::to_string(h),
          w, h, Noise(w, h, percent, seed++)));
    }
  cases.push_back(FromSelection("ring", 61, 47,
                                Mask(
                                    61, 47,
                                    [](int32_t x, int32_t y, uint32_t) {
                                      const int32_t d = (x - 30) * (x - 30) + (y - 22) * (y - 22);
                                      return d <= 20 * 20 && d >= 9 * 9;
                                    },
                                    0)));
  cases.push_back(FromSelection("union of discs", 64, 52,
                                Mask(
                                    64, 52,
                                    [](int32_t x, int32_t y, uint32_t) {
                                      auto in = [&](int32_t cx, int32_t cy, int32_t r) {
                                        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
                                      };
                                      return in(20, 20, 14) || in(38, 30, 11) || in(50, 12, 7) ||
                                             in(10, 44, 5);
                                    },
                                    0)));
  cases.push_back(FromSelection(
      "one-pixel holes", 37, 29,
      Mask(
          37, 29, [](int32_t x, int32_t y, uint32_t) { return (x * 7 + y * 13) % 23 == 0; }, 0)));
  cases.push_back(FromSelection("everything selected", 33, 21,
                                Mask(
                                    33, 21, [](int32_t, int32_t, uint32_t) { return true; }, 0)));
  cases.push_back(FromSelection(
      "touching the last column", 30, 25,
      Mask(
          30, 25, [](int32_t x, int32_t y, uint32_t) { return x >= 22 && y >= 3 && y < 20; }, 0)));
  cases.push_back(FromSelection(
      "diagonal band", 50, 50,
      Mask(
          50, 50, [](int32_t x, int32_t y, uint32_t) { return x - y >= -4 && x - y <= 6; }, 0)));
  for (uint32_t tieSeed : {1u, 2u, 3u}) cases.push_back(TieRich(tieSeed));
  cases.push_back(Frame(57, 43));
  cases.push_back(Frame(3, 3));
  cases.push_back(Frame(1, 12));
  cases.push_back(Frame(200, 3));
  // More than 32000 edge points: the first 32000 in scan order take part.
  SearchCase crowded =
      FromSelection("first 32000 of a crowded noise", 380, 300, Noise(380, 300, 45, 99));
  for (size_t y = 0; y < crowded.wanted.size(); ++y) {
    if (y % 37 != 5) crowded.wanted[y].clear();  // check a few rows; the search sees them all
  }
  cases.push_back(crowded);
  // Points anywhere, repeats included, every pixel of every row asked (also those outside the
  // points' hull and box, which the search answers by visiting every point).
  std::mt19937 rng(4242);
  for (int t = 0; t < 12; ++t) {
    const int32_t w = 1 + int32_t(rng() % 35), h = 1 + int32_t(rng() % 35);
    SearchCase c{"scattered points " + std::to_string(t),
                 w,
                 h,
                 {},
                 {},
                 std::vector<std::vector<uint8_t>>(size_t(h), std::vector<uint8_t>(size_t(w), 1))};
    const int32_t n = int32_t(rng() % 40);
    for (int32_t i = 0; i < n; ++i) {
      size_t from = c.xs.size();
      if (i > 0 && rng() % 5 == 0) from = rng() % c.xs.size();  // a repeat of an earlier point
      c.xs.push_back(from < c.xs.size() ? c.xs[from] : uint16_t(rng() % uint32_t(w)));
      c.ys.push_back(from < c.ys.size() ? c.ys[from] : uint16_t(rng() % uint32_t(h)));
    }
    if (t % 3 == 0) {  // some rows skipped, some pixels not wanted
      for (size_t y = 0; y < c.wanted.size(); ++y) {
        if (y % 3 == 1) c.wanted[y].clear();
        for (size_t x = 0; x < c.wanted[y].size(); x += 2) c.wanted[y][x] = 0;
      }
    }
    cases.push_back(c);
  }
  return cases;
}

// Disposes the search also when a failed check ends the test early.
struct OwnedSearch {
  SectorSearch* search = nullptr;
  ~OwnedSearch() { DisposeSectorSearch(search); }
};

class SectorSearchAgainstVisit : public PlatformFixture,
                                 public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SectorSearchAgainstVisit, WinnersMatchVisitingEveryPoint) {
  const SearchCase& c = GetParam();
  OwnedSearch owned;
  ASSERT_EQ(MakeSectorSearch(c.xs.data(), c.ys.data(), int32_t(c.xs.size()), c.width, c.height,
                             &owned.search),
            noErr);
  SectorSearch* search = owned.search;
  std::vector<int32_t> winners(size_t(c.width) * kSearchSectors);
  std::vector<int32_t> distances2(winners.size());
  int32_t expectedW[kSearchSectors], expectedD[kSearchSectors];
  int64_t checked = 0, ties = 0;
  for (int32_t y = 0; y < c.height; ++y) {
    const std::vector<uint8_t>& wanted = c.wanted[size_t(y)];
    if (wanted.empty()) continue;
    ASSERT_EQ(FindRowWinners(search, y, wanted.data(), winners.data(), distances2.data()), noErr);
    for (int32_t x = 0; x < c.width; ++x) {
      if (!wanted[size_t(x)]) continue;
      ties += VisitEveryPoint(c, x, y, expectedW, expectedD);
      for (int32_t s = 0; s < kSearchSectors; ++s) {
        const size_t slot = size_t(x) * kSearchSectors + size_t(s);
        ASSERT_EQ(winners[slot], expectedW[s]) << "pixel " << x << "," << y << " sector " << s;
        ASSERT_EQ(distances2[slot], expectedD[s]) << "pixel " << x << "," << y << " sector " << s;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 0);
  if (c.ties) {
    EXPECT_GT(ties, 100);
  }
}

std::string CaseName(const ::testing::TestParamInfo<SearchCase>& param) {
  std::string name;
  for (char ch : param.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(EdgeLists, SectorSearchAgainstVisit, ::testing::ValuesIn(Cases()),
                         CaseName);

// ---- Calls ----

class SectorSearchCalls : public PlatformFixture {};

TEST_F(SectorSearchCalls, RejectsArgumentsOutsideTheContract) {
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
  EXPECT_EQ(FindRowWinners(search, 8, nullptr, winners.data(), nullptr), paramErr);
  EXPECT_EQ(FindRowWinners(search, 3, nullptr, winners.data(), nullptr), noErr);
  EXPECT_EQ(FindRowWinners(search, 3, nullptr, winners.data(), nullptr), paramErr);  // not after
  EXPECT_EQ(FindRowWinners(search, 2, nullptr, winners.data(), nullptr), paramErr);
  EXPECT_EQ(FindRowWinners(search, 4, nullptr, winners.data(), nullptr), noErr);
  DisposeSectorSearch(search);
  DisposeSectorSearch(nullptr);
}

TEST_F(SectorSearchCalls, EmptyListLeavesEverySlotEmpty) {
  SectorSearch* search = nullptr;
  ASSERT_EQ(MakeSectorSearch(nullptr, nullptr, 0, 6, 4, &search), noErr);
  std::vector<int32_t> winners(6 * kSearchSectors, 123);
  ASSERT_EQ(FindRowWinners(search, 1, nullptr, winners.data(), nullptr), noErr);
  for (int32_t w : winners) EXPECT_EQ(w, -1);
  DisposeSectorSearch(search);
}

// Squared distances of 999999999 or more never take a slot (the slots start there).
TEST_F(SectorSearchCalls, PointsAtTheFarDistanceNeverWin) {
  const int32_t width = 31700;
  const uint16_t xs[] = {0, 0, 31699, 15000}, ys[] = {0, 2, 1, 2};
  SectorSearch* search = nullptr;
  ASSERT_EQ(MakeSectorSearch(xs, ys, 4, width, 3, &search), noErr);
  std::vector<int32_t> winners(size_t(width) * kSearchSectors), distances2(winners.size());
  ASSERT_EQ(FindRowWinners(search, 1, nullptr, winners.data(), distances2.data()), noErr);
  SearchCase c{"far", width, 3, {0, 0, 31699, 15000}, {0, 2, 1, 2}, {}};
  int32_t expectedW[kSearchSectors], expectedD[kSearchSectors];
  int32_t farSlots = 0;
  for (int32_t x : {0, 1, 300, 15000, 31622, 31623, 31624, 31698, 31699}) {
    VisitEveryPoint(c, x, 1, expectedW, expectedD);
    for (int32_t s = 0; s < kSearchSectors; ++s) {
      EXPECT_EQ(winners[size_t(x) * kSearchSectors + size_t(s)], expectedW[s]) << x << " " << s;
      EXPECT_EQ(distances2[size_t(x) * kSearchSectors + size_t(s)], expectedD[s]) << x << " " << s;
    }
    farSlots += expectedW[16] == -1 && x < 31699 - 31622;
  }
  EXPECT_GT(farSlots, 0);  // the case does reach the far distance
  DisposeSectorSearch(search);
}

// Every allocation the search makes may fail: each failure is reported and leaves nothing.
TEST_F(SectorSearchCalls, ReportsMemoryShortageAndReleasesEverything) {
  const SearchCase c = FromSelection("discs", 40, 30,
                                     Mask(
                                         40, 30,
                                         [](int32_t x, int32_t y, uint32_t) {
                                           return (x - 20) * (x - 20) + (y - 15) * (y - 15) <= 100;
                                         },
                                         0));
  const long before = PlatformAllocationCount();
  SectorSearch* search = nullptr;
  ASSERT_EQ(
      MakeSectorSearch(c.xs.data(), c.ys.data(), int32_t(c.xs.size()), c.width, c.height, &search),
      noErr);
  const long needed = PlatformAllocationCount() - before;
  DisposeSectorSearch(search);
  ASSERT_GT(needed, 10);
  for (long allow = 0; allow < needed; ++allow) {
    PlatformRefuseAllocations(allow, 1);
    search = reinterpret_cast<SectorSearch*>(1);
    EXPECT_EQ(MakeSectorSearch(c.xs.data(), c.ys.data(), int32_t(c.xs.size()), c.width, c.height,
                               &search),
              memFullErr)
        << "allocation " << allow;
    EXPECT_EQ(search, nullptr);
  }
  PlatformRefuseAllocations(0, 0);
  // A row whose buffers cannot grow reports it; the search can still be disposed.
  ASSERT_EQ(
      MakeSectorSearch(c.xs.data(), c.ys.data(), int32_t(c.xs.size()), c.width, c.height, &search),
      noErr);
  std::vector<int32_t> winners(size_t(c.width) * kSearchSectors);
  PlatformRefuseAllocations(0, 1000);
  EXPECT_EQ(FindRowWinners(search, 14, nullptr, winners.data(), nullptr), memFullErr);
  PlatformRefuseAllocations(0, 0);
  DisposeSectorSearch(search);
}

}  // namespace
