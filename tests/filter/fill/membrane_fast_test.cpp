// The fast membrane engine against the reference engine: the same samples, progress figures and
// cancel results on many seeded masks at both depths, with one thread and with several; its
// 16-bit smoothing division; and the host's choice of engine and threads.
#include "filter/fill/membrane_fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filter/fill/fill_workers.h"
#include "platform/host_settings.h"
#include "support/fill_runs.h"
#include "support/platform_fixture.h"

namespace {

using namespace fill_runs;

enum MaskKind {
  kNoise,
  kRings,
  kDiscs,
  kPinholes,
  kNoSelection,
  kEverything,
  kDust,
  kScratches,
  kStrokes
};

// Mask bytes on both sides of the 128 threshold.
uint8_t MaskByte(std::mt19937& rng, bool selected) {
  static constexpr uint8_t kOn[] = {128, 200, 255}, kOff[] = {0, 90, 127};
  return selected ? kOn[rng() % 3] : kOff[rng() % 3];
}

Picture RandomPicture(std::mt19937& rng, MaskKind kind, int w, int h, int n, int bits) {
  Picture p{w, h, n, bits, std::vector<int32_t>(size_t(w) * h * n), {}};
  for (int32_t& sample : p.v) sample = int32_t(rng() % (bits == 8 ? 256 : 32769));
  if (kind == kNoSelection) return p;
  auto coordinate = [&](int side) { return int(rng() % uint32_t(side)); };
  struct Disc {
    int x, y, outer2, inner2;
  };
  std::vector<Disc> discs;
  for (int i = kind == kRings ? 1 + coordinate(2) : 1 + coordinate(4); i > 0; --i) {
    const int outer = 1 + coordinate(std::max(w, h) / 2 + 1);
    const int inner = kind == kRings ? coordinate(outer) : -1;
    discs.push_back({coordinate(w), coordinate(h), outer * outer, inner < 0 ? -1 : inner * inner});
  }
  // Dust: specks of radius 0 (one pixel) to 4, a third of them on the border; scratches: lines
  // across the picture, 1 or 3 pixels wide; strokes: short bars and diagonals, as of text.
  std::vector<bool> marked(size_t(w) * h);
  auto mark = [&](int cx, int cy, int r) {
    for (int y = std::max(cy - r, 0); y <= std::min(cy + r, h - 1); ++y)
      for (int x = std::max(cx - r, 0); x <= std::min(cx + r, w - 1); ++x)
        marked[size_t(y) * w + x] =
            marked[size_t(y) * w + x] || (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r + r;
  };
  const int marks = kind == kDust ? 1 + coordinate(w * h / 200 + 1) : 1 + coordinate(6);
  for (int i = 0; kind >= kDust && i < marks; ++i) {
    int x = coordinate(w), y = coordinate(h);
    if (kind == kDust) {
      const bool side = rng() % 2, far = rng() % 2;
      if (rng() % 3 == 0) (side ? x : y) = far ? (side ? w : h) - 1 : 0;
      mark(x, y, coordinate(5));
      continue;
    }
    const int length = 2 + coordinate(7), r = coordinate(2);
    const int ex = kind == kScratches ? coordinate(w) : x + (coordinate(3) - 1) * length;
    const int ey = kind == kScratches ? coordinate(h) : y + (coordinate(3) - 1) * length;
    const int steps = std::max({std::abs(ex - x), std::abs(ey - y), 1});
    for (int t = 0; t <= steps; ++t) mark(x + (ex - x) * t / steps, y + (ey - y) * t / steps, r);
  }
  const uint32_t density = 1 + rng() % 6;  // noise: selected in density of 7
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool selected = kind == kEverything || (kind == kNoise && rng() % 7 < density) ||
                      (kind == kPinholes && rng() % 9 == 0) ||
                      (kind >= kDust && marked[size_t(y) * w + x]);
      for (const Disc& d : discs) {
        const int r2 = (x - d.x) * (x - d.x) + (y - d.y) * (y - d.y);
        selected |= (kind == kRings || kind == kDiscs) && r2 <= d.outer2 && r2 > d.inner2;
      }
      p.mask.push_back(MaskByte(rng, selected));
    }
  return p;
}

class MembraneFastTest : public PlatformFixture {};

// The host's settings as a host hands them over: its threads and membrane engine.
void HostAsks(int32_t threads, int32_t engine) {
  const AreaFillHostServices services{AREAFILL_HOST_SERVICES_VERSION,
                                      nullptr,
                                      kAreaFillDialogHeadless,
                                      nullptr,
                                      -1,
                                      threads,
                                      engine,
                                      nullptr,
                                      nullptr};
  PlatformSetHostServices(&services);
}

// The fast engine with one and with several threads leaves the reference engine's samples and
// sends the host the same figures in the same order, all on the calling thread; cancelled at
// abort test `cancelAt`, it leaves the rows the reference leaves (rows computed ahead in its
// rounds are never written). One thread smooths in one sweep, several in rounds of rows.
// *result, when given, takes the reference engine's result.
void ExpectSameAsReference(const Picture& original, const std::string& what, long cancelAt = 0,
                           Picture* result = nullptr) {
  Picture reference = original;
  ASSERT_EQ(RunEngine(reference, kReference, 1, cancelAt), cancelAt ? -128 : 0) << what;
  const HostLog referenceLog = gLog;
  if (result) *result = reference;
  for (int32_t threads : {1, 3}) {
    Picture fast = original;
    const int64_t sweep = _SetSweepSamples(threads == 1 ? -1 : 0);
    const int32_t status = RunEngine(fast, kFast, threads, cancelAt);
    _SetSweepSamples(sweep);
    ASSERT_EQ(status, cancelAt ? -128 : 0) << what;
    ASSERT_TRUE(fast.v == reference.v) << what << ", " << threads << " threads";
    ASSERT_EQ(gLog.progress, referenceLog.progress) << what << ", " << threads << " threads";
    ASSERT_EQ(gLog.calls, referenceLog.calls) << what;
    ASSERT_FALSE(gLog.offThread) << what;
  }
}

class MembraneFastMaskTest : public MembraneFastTest,
                             public ::testing::WithParamInterface<MaskKind> {};

TEST_P(MembraneFastMaskTest, MatchesTheReferenceEngineBitForBit) {
  std::mt19937 rng(7200u + uint32_t(GetParam()));
  for (int i = 0; i < 168; ++i) {  // cycling through 8 and 16 bits, grey and RGB
    const int bits = i % 2 ? 16 : 8, n = (i / 2) % 2 ? 3 : 1;
    // Mostly small; every sixteenth case tall enough for several rounds of rows; the specks and
    // lines on pictures wide enough for holes far apart.
    const int side = GetParam() >= kDust ? 100 : 31;
    const int w = 1 + int(rng() % side);
    const int h = i % 16 == 15 ? 40 + int(rng() % 40) : 1 + int(rng() % side);
    const Picture p = RandomPicture(rng, GetParam(), w, h, n, bits);
    ExpectSameAsReference(p, "case " + std::to_string(i) + " (" + std::to_string(w) + "x" +
                                 std::to_string(h) + ", " + std::to_string(n) + "x" +
                                 std::to_string(bits) + " bits)");
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Masks, MembraneFastMaskTest,
                         ::testing::Values(kNoise, kRings, kDiscs, kPinholes, kNoSelection,
                                           kEverything, kDust, kScratches, kStrokes));

// Selected all over but for two or three single pixels, hundreds of rows apart: few pieces, long
// lived, and ties between far points that fall on the last column the search follows.
TEST_F(MembraneFastTest, MatchesTheReferenceOnImagesTallerThan300Rows) {
  for (uint32_t seed : {6u, 13u, 37u, 39u}) {
    std::mt19937 rng(seed);
    const int h = 301 + int(rng() % 400);
    Picture p = RandomPicture(rng, kEverything, 12, h, 1, 8);
    for (int holes = 2 + int(rng() % 2); holes > 0; --holes) p.mask[rng() % p.mask.size()] = 0;
    ExpectSameAsReference(p, "seed " + std::to_string(seed) + ", " + std::to_string(h) + " rows");
  }
}

// Work shared between the threads: a few specks far apart, for the smoothing's rounds (48 rows
// at 3 threads); a picture without a selection, whose rows the lanes take whole; and a wide
// ellipse filled by rows, whose search quadrants go through chunks of rows on the lanes (more
// than one chunk to a round) and whose rows are divided by columns, with single pixels left
// out, so that the pixels to fill of a row are not all side by side.
TEST_F(MembraneFastTest, MatchesTheReferenceWhereRowsAreShared) {
  std::mt19937 rng(5200);
  Picture p = RandomPicture(rng, kNoSelection, 1840, 60, 3, 16);
  p.mask.assign(size_t(p.w) * p.h, 0);
  for (const auto& [x, y] : {std::pair{3, 4}, {900, 30}, {1837, 56}})
    for (int dy = -1; dy <= 1; ++dy) p.mask[size_t((y + dy) * p.w + x)] = 255;
  ExpectSameAsReference(p, "1840x60 RGB, three specks");
  ExpectSameAsReference(RandomPicture(rng, kNoSelection, 1300, 7, 1, 8), "1300x7, no selection");
  Picture wide = RandomPicture(rng, kNoSelection, 700, 80, 1, 8);
  wide.mask.assign(size_t(wide.w) * wide.h, 0);
  for (int y = 0; y < wide.h; ++y)
    for (int x = 0; x < wide.w; ++x) {
      const double ex = (x - 340.5) / 320.0, ey = (y - 39.5) / 37.0;
      const bool island = x % 151 == 13 && y % 9 == 4;
      if (ex * ex + ey * ey <= 1.0 && !island) wide.mask[size_t(y * wide.w + x)] = 255;
    }
  ExpectSameAsReference(wide, "700x80, a wide ellipse with single pixels left out");
}

// The smoothing's sweep on several threads, in bands of rows that read their neighbours' edge
// rows: two and three bands (the last taking the rows left over, not a multiple of four), RGB at
// 8 bits and grey at 16; the fill on fewer lanes than the sweep, as the engine takes them for
// specks on three threads; a lane refused the memory for its ring, whose band the calling thread
// then sweeps, and two neighbouring bands swept so; and an image on disk, which one thread sweeps
// whole.
TEST_F(MembraneFastTest, SweepsInBandsOnSeveralThreads) {
  std::mt19937 rng(6100);
  Picture rgb = RandomPicture(rng, kNoSelection, 1400, 1002, 3, 8);
  Picture grey = RandomPicture(rng, kNoSelection, 4200, 1000, 1, 16);
  // Specks of 3 × 3 pixels, about 2,300 to fill, which the engine gives two lanes on three
  // threads and one on two: fewer than the sweep's bands either way.
  for (Picture* p : {&rgb, &grey}) {
    p->mask.assign(size_t(p->w) * p->h, 0);
    for (int i = 0; i < 260; ++i) {
      const int x = 1 + int(rng() % uint32_t(p->w - 2)), y = 1 + int(rng() % uint32_t(p->h - 2));
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) p->mask[size_t(y + dy) * p->w + x + dx] = 255;
    }
  }
  for (bool onDisk : {false, true})
    for (const Picture* original : {&rgb, &grey}) {
      if (onDisk && original == &grey) continue;
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      Picture reference = *original;
      ASSERT_EQ(RunEngine(reference, kReference), 0);
      const HostLog referenceLog = gLog;
      for (int32_t threads : {2, 3}) {
        Picture fast = *original;
        long allocations = 0;
        ASSERT_EQ(RunEngine(fast, kFast, threads, 0, {}, &allocations), 0);
        const std::string what = std::to_string(original->w) + "x" + std::to_string(original->h) +
                                 (onDisk ? " on disk, " : ", ") + std::to_string(threads) +
                                 " threads";
        ASSERT_TRUE(fast.v == reference.v) << what;
        ASSERT_EQ(gLog.progress, referenceLog.progress) << what;
        if (onDisk || original != &rgb) continue;
        // Left to the engine on the host's threads: the specks take fewer lanes than the sweep.
        HostAsks(threads, kAreaFillMembraneFast);
        Picture chosen = *original;
        ASSERT_EQ(RunEngine(chosen, kChosen), 0);
        PlatformSetHostServices(nullptr);
        ASSERT_TRUE(chosen.v == reference.v) << what << ", the engine's lanes";
        // Neighbouring bands both swept late (the last two): the first must not write the
        // edge rows that the second still reads.
        const uint32_t late = uint32_t(3) << (threads - 2);
        _SetSweepBandsLeft(late);
        Picture leftLate = *original;
        const int32_t leftStatus = RunEngine(leftLate, kFast, threads);
        _SetSweepBandsLeft(0);
        ASSERT_EQ(leftStatus, 0);
        ASSERT_TRUE(leftLate.v == reference.v) << what << ", bands swept late";
        // Memory refused from any of the last blocks on, with nothing to fill (the blocks then
        // come in the same order): -108 and the image untouched when refused before the engine
        // touched it, else the lanes' rings, whose bands the calling thread then sweeps.
        Picture blank = *original;
        blank.mask.assign(blank.mask.size(), 0);
        Picture blankReference = blank;
        ASSERT_EQ(RunEngine(blankReference, kReference), 0);
        long blocks = 0;
        ASSERT_EQ(RunEngine(blank, kFast, threads, 0, {}, &blocks), 0);
        for (long k = blocks - 3; k < blocks; ++k) {
          Picture refused = *original;
          refused.mask = blank.mask;
          const int32_t status =
              RunEngine(refused, kFast, threads, 0, [k] { PlatformRefuseAllocations(k, 1000); });
          ASSERT_TRUE(status == 0 || status == -108) << what << ", refused after " << k;
          ASSERT_TRUE(refused.v == (status == 0 ? blankReference.v : original->v))
              << what << ", refused after " << k;
        }
      }
    }
  PlatformSetTempMemoryLimit(-1);
}

// A hole filled by rows on three lanes with any one block refused: -108 and the image
// untouched, or (a search that ran short mid-fill and was done without) the normal result.
TEST_F(MembraneFastTest, RefusedBlocksOnSharedRowsLeaveTheImageOrTheResult) {
  std::mt19937 rng(3400);
  Picture original = RandomPicture(rng, kNoSelection, 128, 124, 1, 8);
  original.mask.assign(size_t(original.w) * original.h, 0);
  for (int y = 0; y < original.h; ++y)
    for (int x = 0; x < original.w; ++x)
      if ((x - 64) * (x - 64) + (y - 62) * (y - 62) <= 60 * 60)
        original.mask[size_t(y * original.w + x)] = 255;
  Picture normal = original;
  long allocations = 0;
  ASSERT_EQ(RunEngine(normal, kFast, 3, 0, {}, &allocations), 0);
  Picture reference = original;
  ASSERT_EQ(RunEngine(reference, kReference), 0);
  ASSERT_TRUE(normal.v == reference.v);
  // About fifty of the blocks, spread over the fill (a refused block late in it sends the rest
  // of the rows to visit every point, which takes a while).
  for (long k = 0; k <= allocations; k += std::max(1L, allocations / 48)) {
    Picture p = original;
    const int32_t status = RunEngine(p, kFast, 3, 0, [k] { PlatformRefuseAllocations(k, 1); });
    ASSERT_TRUE(status == 0 || status == -108) << k;
    ASSERT_TRUE(p.v == (status == 0 ? normal.v : original.v)) << "refused after " << k;
  }
}

// Without a selection the winners come from the image's ring: small images of every shape that
// has rows to fill, and two where a point of a row and one of a column of the ring lie as near in
// one sector (from 100 × 80 on), so the one listed first must win.
TEST_F(MembraneFastTest, MatchesTheReferenceWithoutASelection) {
  std::mt19937 rng(3100);
  std::vector<std::pair<int, int>> sizes = {{100, 80}, {121, 91}};
  for (int w = 1; w <= 24; ++w)
    for (int h : {w, w + 7}) sizes.push_back({w, h});
  for (const auto& [w, h] : sizes) {
    ExpectSameAsReference(RandomPicture(rng, kNoSelection, w, h, 1 + 2 * (w % 2), 8 + 8 * (h % 2)),
                          std::to_string(w) + "x" + std::to_string(h) + ", no selection");
    if (HasFatalFailure()) return;
  }
}

// Cancelled in the mask rows, the edge search, the fill's first row, inside and after its first
// round, the first smoothing pass, a later pass across a round boundary and the very last row:
// the engine stops at once, and before the fill the image is untouched; in memory or on disk.
TEST_F(MembraneFastTest, CancelStopsAtOnceAndLeavesTheRowsTheReferenceLeaves) {
  std::mt19937 rng(128);
  const Picture original = RandomPicture(rng, kDiscs, 23, 50, 3, 8);
  const long h = original.h;
  for (long cancelAt :
       {3L, h + 4, 2 * h + 1, 2 * h + 6, 2 * h + 40, 3 * h + 2, 6 * h + 33, 11 * h - 2}) {
    for (bool onDisk : {false, true}) {
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      Picture p = original;
      ExpectSameAsReference(original, "cancel at " + std::to_string(cancelAt), cancelAt, &p);
      EXPECT_EQ(gLog.abortTests, cancelAt);
      EXPECT_EQ(long(gLog.progress.size()), 2 * cancelAt);
      if (cancelAt <= 2 * h + 1) {
        EXPECT_TRUE(p.v == original.v) << "changed before the fill";
      }
      EXPECT_TRUE(PrefsFiles().empty());
    }
  }
}

// Every sum nine 16-bit samples can have, 0 .. 9 × 65535, reaches the vector division: each
// plane repeats three columns, so every interior pixel sums the same nine samples.
TEST(SmoothRowFast, DividesEverySixteenBitSumExactly) {
  constexpr int kWidth = 12, kPlanes = 3;
  std::vector<uint16_t> rows[3], quad[4], out(size_t(kWidth * kPlanes));
  for (auto& row : rows) row.assign(size_t(kWidth * kPlanes), 0);
  for (auto& row : quad) row.assign(size_t(kWidth * kPlanes), 0);
  int64_t wrong = 0;
  for (int32_t first = 0; first <= 9 * 65535; first += kPlanes) {
    for (int s = 0; s < kPlanes; ++s) {
      const int32_t sum = std::min(first + s, 9 * 65535);
      for (int k = 0; k < 9; ++k) {  // nine shares of the sum, the first ones one larger
        const uint16_t share = uint16_t(sum / 9 + (k < sum % 9));
        for (int x = k % 3; x < kWidth; x += 3) rows[k / 3][size_t(x * kPlanes + s)] = share;
      }
    }
    _SmoothRowFast<_Depth16>(rows[0].data(), rows[1].data(), rows[2].data(), out.data(), kWidth,
                             kPlanes);
    // Four rows at a time over rows 0, 1, 2, 0, 1, 2: every output sums the same nine shares.
    const uint16_t* six[6] = {rows[0].data(), rows[1].data(), rows[2].data(),
                              rows[0].data(), rows[1].data(), rows[2].data()};
    uint16_t* four[4] = {quad[0].data(), quad[1].data(), quad[2].data(), quad[3].data()};
    _SmoothFourRowsFast<_Depth16>(six, four, kWidth, kPlanes);
    for (int x = 1; x + 1 < kWidth; ++x)
      for (int s = 0; s < kPlanes; ++s) {
        const int32_t mean = std::min(first + s, 9 * 65535) / 9;
        wrong += out[size_t(x * kPlanes + s)] != mean;
        for (const auto& row : quad) wrong += row[size_t(x * kPlanes + s)] != mean;
      }
  }
  EXPECT_EQ(wrong, 0);
}

// The host's thread count up to the most, else one per processor; the engine the host names.
// The engines differ in the blocks they ask for (the fast one's grow with its threads), which
// shows which one MembraneFill ran and with how many threads.
TEST_F(MembraneFastTest, HostChoosesTheEngineAndItsThreads) {
  const int32_t perProcessor =
      std::clamp(int32_t(std::thread::hardware_concurrency()), 1, kMaxFillThreads);
  for (auto [asked, threads] : {std::pair{1, 1},
                                {3, 3},
                                {64, 64},
                                {1000, kMaxFillThreads},
                                {0, perProcessor},
                                {-2, perProcessor}}) {
    HostAsks(asked, kAreaFillMembraneFast);
    EXPECT_EQ(FillThreadsWanted(), threads) << asked;
  }
  std::mt19937 rng(42);
  const Picture original = RandomPicture(rng, kDiscs, 20, 20, 3, 16);
  auto blocks = [&](Engine engine, int32_t threads, const Picture& of) {
    Picture p = of;
    long allocations = 0;
    EXPECT_EQ(RunEngine(p, engine, threads, 0, {}, &allocations), 0);
    return allocations;
  };
  const long reference = blocks(kReference, 1, original), fast1 = blocks(kFast, 1, original);
  ASSERT_TRUE(reference != fast1 && blocks(kFast, 3, original) > fast1);
  // Lanes grow their candidate buffers as their tiles need, so the count with several threads
  // varies with which lane takes which tile; it never falls to one lane's.
  HostAsks(3, kAreaFillMembraneReference);
  EXPECT_EQ(blocks(kChosen, 0, original), reference);
  HostAsks(1, kAreaFillMembraneFast);
  EXPECT_EQ(blocks(kChosen, 0, original), fast1);
  // Left to the engine, a fill too small to divide takes one lane whatever the host allows; one
  // without a selection of 300 × 300 divides by rows and takes the host's three.
  HostAsks(3, kAreaFillMembraneFast);
  EXPECT_EQ(blocks(kChosen, 0, original), fast1);
  const Picture large = RandomPicture(rng, kNoSelection, 300, 300, 1, 8);
  EXPECT_EQ(blocks(kChosen, 0, large), blocks(kFast, 3, large));
  EXPECT_GT(blocks(kChosen, 0, large), blocks(kFast, 1, large));
  PlatformSetHostServices(nullptr);
}

}  // namespace
