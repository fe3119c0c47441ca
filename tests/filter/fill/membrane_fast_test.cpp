// Tests of the fast membrane engine against the reference engine: the same samples, progress
// figures and cancel results on many small seeded masks at both depths and with one or several
// threads, the environment switches, and the facts about the sector thresholds the winner
// search relies on.
#include "filter/fill/membrane_fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filter/fill/fill_workers.h"
#include "filter/fill/membrane_fill.h"
#include "platform/host_settings.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

// ---- The sector thresholds ----

// The tangents as the fill writes them, and the rays they amount to once r = |dy| / |dx| is
// taken in single precision and widened for the compare.
constexpr double kTangents[7] = {0.1989, 0.4142, 0.6682, 1.0, 1.497, 2.414, 5.028};
constexpr double kRays[7] = {0.198900006711483,   0.41419999301433563, 0.66819998621940613,
                             0.99999997019767761, 1.4970000386238098,  2.4139999151229858,
                             5.0280001163482666};
constexpr int32_t kMaxDelta = 32767;  // coordinates are 16-bit

// The smallest float not below c.
float FloatNotBelow(double c) {
  float f = float(c);
  if (double(f) < c) f = std::nextafter(f, 10.0f);
  return f;
}

// The sector by the rays alone: |dy| > ray × |dx| in double, counted, plus the quadrant.
int32_t SectorByRays(int32_t dx, int32_t dy) {
  int32_t sector = 0;
  for (double ray : kRays) sector += double(std::abs(dy)) > ray * double(std::abs(dx));
  if (dx < 0) return sector + (dy < 0 ? 24 : 16);
  return sector + (dy < 0 ? 8 : 0);
}

TEST(SectorThresholds, WideningCompareIsAFloatCompareWithTheRoundedUpTangent) {
  for (int i = 0; i < 7; ++i) {
    const double c = kTangents[i];
    const float cf = FloatNotBelow(c);
    // Every float r: double(r) >= c exactly when r >= cf, since no float lies in [c, cf).
    EXPECT_GE(double(cf), c);
    EXPECT_LT(double(std::nextafter(cf, 0.0f)), c);
    // The ray is the midpoint of cf and the float before it, so r >= cf exactly when r > ray.
    const double before = double(std::nextafter(cf, 0.0f));
    EXPECT_EQ(kRays[i], (before + double(cf)) / 2.0) << i;
    EXPECT_GT(kRays[i], before) << i;
    EXPECT_LT(kRays[i], double(cf)) << i;
  }
}

TEST(SectorThresholds, NoLatticePointLiesOnARay) {
  // A ray is M × 2^-k with M odd; |dy| = ray × |dx| needs 2^k to divide |dx| <= 32767.
  for (double ray : kRays) {
    int exponent = 0;
    double mantissa = std::frexp(ray, &exponent);
    int k = -exponent;
    while (mantissa != std::floor(mantissa)) {
      mantissa *= 2.0;
      ++k;
    }
    EXPECT_GT(std::ldexp(1.0, k), double(kMaxDelta)) << ray;
    EXPECT_EQ(std::fmod(mantissa, 2.0), 1.0) << ray;
  }
}

// Both rules never fall as |dy| grows, so agreeing on both sides of every step of one and at
// both ends proves them equal for all |dx|, |dy| <= 32767, in every quadrant.
TEST(SectorThresholds, RaysInDoubleGiveTheSingleDivisionSectorEverywhere) {
  int64_t mismatches = 0;
  auto check = [&](int32_t dx, int32_t dy) {
    if (dy < 0 || dy > kMaxDelta || (dx == 0 && dy == 0)) return;
    for (int32_t sx : {1, -1})
      for (int32_t sy : {1, -1})
        mismatches += SectorByRays(sx * dx, sy * dy) != _SectorOf(sx * dx, sy * dy);
  };
  for (int32_t dx = 0; dx <= kMaxDelta; ++dx) {
    int32_t low = 0;
    for (int32_t step = 1; step <= 7; ++step) {
      int32_t high = kMaxDelta + 1;
      while (low < high) {
        const int32_t mid = low + (high - low) / 2;
        if (SectorByRays(dx, mid) >= step)
          high = mid;
        else
          low = mid + 1;
      }
      check(dx, low - 1);
      check(dx, low);
    }
    check(dx, 0);
    check(dx, kMaxDelta);
  }
  EXPECT_EQ(mismatches, 0);
  for (int32_t d = 1; d <= kMaxDelta; d += 97) EXPECT_EQ(_SectorOf(d, d), 4) << d;
}

// ---- The weights ----

// The weights taken two at a time are the one-at-a-time definition's bits, over every d² up to
// 2^20 and a spread of larger ones up to the empty slot's 999999999.
TEST(SlotWeights, MatchTheScalarDefinitionBitForBit) {
  std::mt19937 rng(1997);
  SectorSlot slots[kSectorCount];
  float weights[kSectorCount];
  int64_t wrong = 0;
  for (int32_t first = 1; first < (1 << 21); first += kSectorCount) {
    for (int32_t i = 0; i < kSectorCount; ++i) {
      const int32_t d2 = first < (1 << 20) ? first + i : int32_t(1 + rng() % 999999999u);
      slots[i] = {d2, {0, 0, 0}};
    }
    _SlotWeights(slots, weights);
    for (int32_t i = 0; i < kSectorCount; ++i) {
      const float expected = float(1.0 / std::sqrt(double(float(slots[i].distance2))));
      wrong += std::memcmp(&weights[i], &expected, sizeof expected) != 0;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// ---- The smoothing row ----

// The 3×3 mean as plainly as it is defined: columns outside the row are left out.
template <class Sample>
std::vector<Sample> PlainMean(const std::vector<Sample>& top, const std::vector<Sample>& middle,
                              const std::vector<Sample>& bottom, int width, int planes) {
  std::vector<Sample> out(top.size());
  for (int x = 0; x < width; ++x)
    for (int s = 0; s < planes; ++s) {
      int32_t sum = 0, columns = 0;
      for (int c = std::max(x - 1, 0); c <= std::min(x + 1, width - 1); ++c, ++columns) {
        const size_t i = size_t(c * planes + s);
        sum += top[i] + middle[i] + bottom[i];
      }
      out[size_t(x * planes + s)] = Sample(sum / (3 * columns));
    }
  return out;
}

template <class Depth>
std::vector<typename Depth::Sample> FastMean(const std::vector<typename Depth::Sample>& top,
                                             const std::vector<typename Depth::Sample>& middle,
                                             const std::vector<typename Depth::Sample>& bottom,
                                             int width, int planes) {
  std::vector<typename Depth::Sample> out(top.size());
  _SmoothRowFast<Depth>(top.data(), middle.data(), bottom.data(), out.data(), width, planes);
  return out;
}

TEST(SmoothRowFast, MatchesThePlainMeanOnFullRangeRows) {
  std::mt19937 rng(3333);
  for (int i = 0; i < 400; ++i) {
    const int width = 1 + int(rng() % (i < 300 ? 40 : 1200));  // a few rows past one chunk
    const int planes = i % 2 ? 3 : 1;
    const size_t samples = size_t(width) * size_t(planes);
    std::vector<uint8_t> a8(samples), b8(samples), c8(samples);
    std::vector<uint16_t> a16(samples), b16(samples), c16(samples);
    for (size_t k = 0; k < samples; ++k) {
      // Every fourth row holds only the extremes, where the sums are largest.
      const uint32_t r = i % 4 == 3 ? (rng() % 2) * 0xFFFFu : rng();
      a8[k] = uint8_t(r), b8[k] = uint8_t(r >> 8), c8[k] = uint8_t(r >> 16);
      a16[k] = uint16_t(r), b16[k] = uint16_t(r * 7u), c16[k] = uint16_t(r >> 16);
    }
    ASSERT_EQ(FastMean<_Depth8>(a8, b8, c8, width, planes), PlainMean(a8, b8, c8, width, planes))
        << width << "x" << planes;
    ASSERT_EQ(FastMean<_Depth16>(a16, b16, c16, width, planes),
              PlainMean(a16, b16, c16, width, planes))
        << width << "x" << planes;
    // Four rows at a time over the rows a, b, c, b, a, c: each output is its own row's mean.
    std::vector<uint8_t> out8[4];
    std::vector<uint16_t> out16[4];
    uint8_t* o8[4];
    uint16_t* o16[4];
    for (int k = 0; k < 4; ++k) {
      out8[k].assign(samples, 0);
      out16[k].assign(samples, 0);
      o8[k] = out8[k].data();
      o16[k] = out16[k].data();
    }
    const uint8_t* r8[6] = {a8.data(), b8.data(), c8.data(), b8.data(), a8.data(), c8.data()};
    const uint16_t* r16[6] = {a16.data(), b16.data(), c16.data(),
                              b16.data(), a16.data(), c16.data()};
    _SmoothFourRowsFast<_Depth8>(r8, o8, width, planes);
    _SmoothFourRowsFast<_Depth16>(r16, o16, width, planes);
    const std::vector<uint8_t>* rows8[6] = {&a8, &b8, &c8, &b8, &a8, &c8};
    const std::vector<uint16_t>* rows16[6] = {&a16, &b16, &c16, &b16, &a16, &c16};
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(out8[k], PlainMean(*rows8[k], *rows8[k + 1], *rows8[k + 2], width, planes))
          << width << "x" << planes << " row " << k;
      ASSERT_EQ(out16[k], PlainMean(*rows16[k], *rows16[k + 1], *rows16[k + 2], width, planes))
          << width << "x" << planes << " row " << k;
    }
  }
}

// Every sum nine 16-bit samples can have, 0 .. 9 × 65535, reaches the vector division: each
// plane repeats three columns, so every interior pixel sums the same nine samples.
TEST(SmoothRowFast, DividesEverySixteenBitSumExactly) {
  constexpr int kWidth = 12, kPlanes = 3;
  std::vector<uint16_t> rows[3];
  for (auto& row : rows) row.assign(size_t(kWidth * kPlanes), 0);
  std::vector<uint16_t> out(size_t(kWidth * kPlanes));
  std::vector<uint16_t> quad[4];
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

// ---- Running an engine on a picture held in the test ----

struct Picture {
  int w, h, n, bits;
  std::vector<uint16_t> v;    // n samples per pixel, row by row
  std::vector<uint8_t> mask;  // one byte per pixel; empty: no selection
};

// What the host saw: each progress call and abort test in order, and whether any came from a
// thread other than the one that called the engine.
struct HostLog {
  std::vector<int32_t> progress;
  std::string calls;
  long abortTests = 0;
  long cancelAt = 0;  // the abort test that answers yes (1-based); 0: none
  bool offThread = false;
  std::thread::id caller;
};
HostLog gLog;

void LogProgress(int32_t done, int32_t total) {
  gLog.progress.push_back(done);
  gLog.progress.push_back(total);
  gLog.calls += 'P';
  gLog.offThread |= std::this_thread::get_id() != gLog.caller;
}

Boolean LogAbort() {
  gLog.calls += 'A';
  gLog.offThread |= std::this_thread::get_id() != gLog.caller;
  return ++gLog.abortTests == gLog.cancelAt;
}

enum Engine { kReference, kFast, kChosen };  // kChosen: MembraneFill, as the environment says

// The picture in scratch images: its samples at its depth and, when it has a mask, its
// selection (else *selection is null).
void MakePictureImages(const Picture& p, NamedImage** image, NamedImage** selection) {
  const int bytes = p.bits / 8;
  const size_t rowSamples = size_t(p.w) * size_t(p.n);
  *image = nullptr;
  *selection = nullptr;
  EXPECT_EQ(MakeImage(int16_t(p.w), int16_t(p.h), int16_t(p.n * bytes), image), noErr);
  std::vector<uint8_t> row8(rowSamples);
  for (int y = 0; y < p.h; ++y) {
    const uint16_t* samples = &p.v[size_t(y) * rowSamples];
    for (size_t i = 0; i < rowSamples; ++i) row8[i] = uint8_t(samples[i]);
    PutLine(*image, 0, y, int32_t(rowSamples) * bytes,
            bytes == 1 ? static_cast<const void*>(row8.data()) : samples);
  }
  if (!p.mask.empty()) {
    EXPECT_EQ(MakeSelectionImage(int16_t(p.w), int16_t(p.h), 1, selection), noErr);
    for (int y = 0; y < p.h; ++y) PutLine(*selection, 0, y, p.w, &p.mask[size_t(y) * p.w]);
  }
}

// Runs an engine on the picture through scratch images; the picture takes the result and gLog
// what the host saw. `allocations`, when given, receives the blocks the engine asked for.
int32_t RunEngine(Picture& p, Engine engine, int32_t threads, long cancelAt = 0,
                  long* allocations = nullptr) {
  const int bytes = p.bits / 8;
  const int32_t rowBytes = p.w * p.n * bytes;
  const size_t rowSamples = size_t(p.w) * size_t(p.n);
  std::vector<uint8_t> row8(rowSamples);
  NamedImage* image;
  NamedImage* selection;
  MakePictureImages(p, &image, &selection);
  static FilterRecord host;
  host = FilterRecord{};
  host.progressProc = LogProgress;
  host.abortProc = LogAbort;
  RunRecord record = {};
  record.width = int16_t(p.w);
  record.height = int16_t(p.h);
  record.planes = int16_t(p.n);
  record.host = &host;
  record.selection = selection;
  gLog = HostLog{};
  gLog.cancelAt = cancelAt;
  gLog.caller = std::this_thread::get_id();

  const long before = PlatformAllocationCount();
  int32_t status;
  if (engine == kReference)
    status = bytes == 1 ? _MembraneFillReference8(image, &record)
                        : _MembraneFillReference16(image, &record);
  else if (engine == kFast)
    status = bytes == 1 ? _MembraneFillFast8(image, &record, threads)
                        : _MembraneFillFast16(image, &record, threads);
  else
    status = bytes == 1 ? MembraneFill(image, &record) : MembraneFill16(image, &record);
  if (allocations) *allocations = PlatformAllocationCount() - before;

  for (int y = 0; y < p.h; ++y) {
    uint16_t* samples = &p.v[size_t(y) * rowSamples];
    GetLine(image, 0, y, rowBytes, bytes == 1 ? static_cast<void*>(row8.data()) : samples);
    if (bytes == 1)
      for (size_t i = 0; i < rowSamples; ++i) samples[i] = row8[i];
  }
  TossImage(image);
  if (selection) TossSelectionImage(selection);
  return status;
}

// ---- Seeded pictures and masks ----

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
  static constexpr uint8_t kOn[] = {128, 200, 255};
  static constexpr uint8_t kOff[] = {0, 90, 127};
  return selected ? kOn[rng() % 3] : kOff[rng() % 3];
}

Picture RandomPicture(std::mt19937& rng, MaskKind kind, int w, int h, int n, int bits) {
  Picture p{w, h, n, bits, std::vector<uint16_t>(size_t(w) * h * n), {}};
  const uint32_t top = bits == 8 ? 256 : 32769;
  for (uint16_t& sample : p.v) sample = uint16_t(rng() % top);
  if (kind == kNoSelection) return p;
  p.mask.resize(size_t(w) * h);
  auto coordinate = [&](int side) { return int(rng() % uint32_t(side)); };
  struct Disc {
    int x, y, outer2, inner2;
  };
  std::vector<Disc> discs;
  const int count = kind == kRings ? 1 + coordinate(2) : 1 + coordinate(4);
  for (int i = 0; i < count; ++i) {
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
      bool selected = false;
      if (kind == kNoise) selected = rng() % 7 < density;
      if (kind == kPinholes) selected = rng() % 9 == 0;
      if (kind == kEverything) selected = true;
      if (kind >= kDust) selected = marked[size_t(y) * w + x];
      for (const Disc& d : discs) {
        if (kind != kRings && kind != kDiscs) break;
        const int r2 = (x - d.x) * (x - d.x) + (y - d.y) * (y - d.y);
        selected |= r2 <= d.outer2 && r2 > d.inner2;
      }
      p.mask[size_t(y) * w + x] = MaskByte(rng, selected);
    }
  return p;
}

class MembraneFastTest : public PlatformFixture {};

// The fast engine with one and with several threads leaves the reference engine's samples and
// sends the host the same figures in the same order, all on the calling thread.
void ExpectSameAsReference(const Picture& original, const std::string& what) {
  Picture reference = original;
  ASSERT_EQ(RunEngine(reference, kReference, 1), 0) << what;
  const HostLog referenceLog = gLog;
  for (int32_t threads : {1, 3}) {
    Picture fast = original;
    ASSERT_EQ(RunEngine(fast, kFast, threads), 0) << what;
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
  constexpr int kCases = 168;  // cycling through 8 and 16 bits, grey and RGB
  for (int i = 0; i < kCases; ++i) {
    const int bits = i % 2 ? 16 : 8;
    const int n = (i / 2) % 2 ? 3 : 1;
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

std::string MaskKindName(const ::testing::TestParamInfo<MaskKind>& kind) {
  static const char* const kNames[] = {"Noise",    "Rings",       "Discs",
                                       "Pinholes", "NoSelection", "Everything",
                                       "Dust",     "Scratches",   "Strokes"};
  return kNames[kind.param];
}

INSTANTIATE_TEST_SUITE_P(Masks, MembraneFastMaskTest,
                         ::testing::Values(kNoise, kRings, kDiscs, kPinholes, kNoSelection,
                                           kEverything, kDust, kScratches, kStrokes),
                         MaskKindName);

// The edge list as one engine step makes it (fast: the one-pass rolling window, else the mask
// scan), with the host's log of that step.
struct EdgeList {
  int32_t status, count;
  std::vector<int32_t> points;  // x, y and three samples per point
  std::vector<int32_t> progress;
};

template <class Depth>
EdgeList ListEdges(const Picture& p, bool fast) {
  NamedImage* image;
  NamedImage* selection;
  MakePictureImages(p, &image, &selection);
  static FilterRecord host;
  host = FilterRecord{};
  host.progressProc = LogProgress;
  host.abortProc = LogAbort;
  RunRecord record = {};
  record.width = int16_t(p.w);
  record.height = int16_t(p.h);
  record.planes = int16_t(p.n);
  record.host = &host;
  record.selection = selection;
  gLog = HostLog{};
  gLog.caller = std::this_thread::get_id();
  _MembraneWork<Depth> work;
  EdgeList list = {_SetUpWork(&work, image, &record), 0, {}, {}};
  if (list.status == noErr) list.status = _AllocateWork(&work);
  if (list.status == noErr)
    list.status = fast ? _FastFindEdgePoints(&work) : _FindEdgePoints(&work);
  list.count = work.count;
  for (int32_t i = 0; i < work.count; ++i) {
    const _BoundaryPoint<Depth>& point = work.points[i];
    list.points.insert(list.points.end(),
                       {point.x, point.y, point.sample[0], point.sample[1], point.sample[2]});
  }
  list.progress = gLog.progress;
  _ReleaseWork(&work);
  TossImage(image);
  TossSelectionImage(selection);
  return list;
}

// The one-pass edge list holds the mask scan's points, in its order, with its samples, after
// the same progress figures: noise full of corners, rings, pinholes, whole selections, and
// pictures one pixel wide or tall.
TEST_F(MembraneFastTest, OnePassEdgeListIsTheMaskScans) {
  std::mt19937 rng(4711);
  for (MaskKind kind : {kNoise, kRings, kDiscs, kPinholes, kEverything}) {
    for (int i = 0; i < 24; ++i) {
      const int w = i % 8 == 0 ? 1 : 1 + int(rng() % 45);
      const int h = i % 8 == 1 ? 1 : 1 + int(rng() % 30);
      const Picture p = RandomPicture(rng, kind, w, h, i % 2 ? 3 : 1, i % 4 < 2 ? 8 : 16);
      const std::string what = std::to_string(int(kind)) + "/" + std::to_string(i);
      const EdgeList scan =
          p.bits == 8 ? ListEdges<_Depth8>(p, false) : ListEdges<_Depth16>(p, false);
      const EdgeList fast =
          p.bits == 8 ? ListEdges<_Depth8>(p, true) : ListEdges<_Depth16>(p, true);
      ASSERT_EQ(scan.status, 0) << what;
      ASSERT_EQ(fast.status, 0) << what;
      ASSERT_EQ(fast.count, scan.count) << what;
      ASSERT_EQ(fast.points, scan.points) << what;
      ASSERT_EQ(fast.progress, scan.progress) << what;
    }
  }
}

TEST_F(MembraneFastTest, MatchesTheReferenceBeyond32000EdgePoints) {
  // Rows 0 and 4 are wholly selected (32998 edge points, the last 998 of row 4 dropped); the
  // filled pixels are a noise patch in rows 1..3, close to the dropped points.
  std::mt19937 rng(32001);
  for (int bits : {8, 16}) {
    const int n = bits == 8 ? 1 : 3;
    Picture p = RandomPicture(rng, kNoSelection, 16500, 5, n, bits);
    p.mask.assign(size_t(p.w) * p.h, 0);
    for (int x = 0; x < p.w; ++x) p.mask[size_t(x)] = p.mask[size_t(4 * p.w + x)] = 255;
    for (int y = 1; y <= 3; ++y)
      for (int x = 16000; x < 16040; ++x)
        p.mask[size_t(y * p.w + x)] = MaskByte(rng, rng() % 2 == 1);
    ExpectSameAsReference(p, std::to_string(bits) + " bits");
  }
}

// A cancel at any row leaves exactly the rows the reference engine leaves: rows computed ahead
// in the fast engine's rounds are never written.
TEST_F(MembraneFastTest, CancelLeavesTheRowsTheReferenceLeaves) {
  std::mt19937 rng(128);
  const Picture original = RandomPicture(rng, kDiscs, 23, 50, 3, 8);
  const long h = original.h;
  // Mask rows, edge search, the fill's first row, inside and after its first round, the first
  // smoothing pass, a later pass across a round boundary, and the very last row.
  for (long cancelAt :
       {3L, h + 4, 2 * h + 1, 2 * h + 6, 2 * h + 40, 3 * h + 2, 6 * h + 33, 11 * h - 2}) {
    Picture reference = original;
    ASSERT_EQ(RunEngine(reference, kReference, 1, cancelAt), -128) << cancelAt;
    const HostLog referenceLog = gLog;
    ASSERT_EQ(referenceLog.abortTests, cancelAt);
    for (int32_t threads : {1, 4}) {
      Picture fast = original;
      ASSERT_EQ(RunEngine(fast, kFast, threads, cancelAt), -128) << cancelAt;
      EXPECT_TRUE(fast.v == reference.v) << "cancel at " << cancelAt << ", " << threads;
      EXPECT_EQ(gLog.progress, referenceLog.progress) << cancelAt;
      EXPECT_EQ(gLog.calls, referenceLog.calls) << cancelAt;
      EXPECT_FALSE(gLog.offThread);
    }
  }
}

// ---- The host's choice of engine and threads ----

// Sets the host's fill settings for the life of the object, then returns to the defaults.
struct ScopedFillSettings {
  ScopedFillSettings(int32_t threads, int32_t engine) {
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
  ~ScopedFillSettings() { PlatformSetHostServices(nullptr); }
};

TEST(FillThreads, TakesTheHostsCountUpToTheMost) {
  const int32_t perProcessor =
      std::clamp(int32_t(std::thread::hardware_concurrency()), 1, kMaxFillThreads);
  for (auto [asked, threads] : {std::pair{1, 1},
                                {3, 3},
                                {64, 64},
                                {1000, kMaxFillThreads},
                                {0, perProcessor},
                                {-2, perProcessor}}) {
    ScopedFillSettings settings(asked, kAreaFillMembraneFast);
    EXPECT_EQ(FillThreadsWanted(), threads) << asked;
  }
}

// The engines differ in the blocks they ask for (the fast one's grow with its threads), which
// shows which one MembraneFill ran and with how many threads.
TEST_F(MembraneFastTest, HostChoosesTheEngineAndItsThreads) {
  std::mt19937 rng(42);
  for (int bits : {8, 16}) {
    const Picture original = RandomPicture(rng, kDiscs, 20, 20, 3, bits);
    auto blocks = [&](Engine engine, int32_t threads) {
      Picture p = original;
      long allocations = 0;
      EXPECT_EQ(RunEngine(p, engine, threads, 0, &allocations), 0);
      return allocations;
    };
    const long reference = blocks(kReference, 1);
    const long fast1 = blocks(kFast, 1), fast3 = blocks(kFast, 3);
    ASSERT_NE(reference, fast1);
    ASSERT_NE(fast1, fast3);
    {
      ScopedFillSettings settings(3, kAreaFillMembraneReference);
      EXPECT_EQ(blocks(kChosen, 0), reference) << bits;
    }
    {
      ScopedFillSettings settings(3, kAreaFillMembraneFast);
      EXPECT_EQ(blocks(kChosen, 0), fast3) << bits;
    }
    ScopedFillSettings one(1, kAreaFillMembraneFast);
    EXPECT_EQ(blocks(kChosen, 0), fast1) << bits;
  }
}

}  // namespace
