// Tests of the membrane fill at both depths: direction sectors, pixel decoding, the edge search,
// the filled and smoothed rows, the edge-point limit, progress, cancel and scratch storage.
#include "filter/fill/membrane_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "filter/fill/membrane_steps.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

// ---- A host whose callbacks are plain functions over file-static state ----

struct HostLog {
  std::vector<int32_t> done;  // the fill's own figures, recovered from what the host was sent
  std::vector<int32_t> total;
  std::string calls;  // 'P' for progress, 'A' for the abort test, in order
  long abortTests = 0;
  long cancelAt = 0;                // the abort test that answers yes (1-based); 0: none
  int32_t copyTempImageAt = -1;     // progress figure at which to copy the "TempImage" file
  std::vector<char> tempImageFile;  // that copy
};
HostLog gLog;

void LogProgress(int32_t done, int32_t total) {  // DoProgress sends T + 4d of 6T
  gLog.total.push_back(total / 6);
  gLog.done.push_back((done - total / 6) / 4);
  gLog.calls += 'P';
  if (gLog.done.back() == gLog.copyTempImageAt) {
    std::ifstream file(std::filesystem::path(PlatformPreferencesFolderPath()) / "TempImage",
                       std::ios::binary);
    gLog.tempImageFile.assign(std::istreambuf_iterator<char>(file), {});
  }
}

Boolean LogAbort() {
  gLog.calls += 'A';
  return ++gLog.abortTests == gLog.cancelAt;
}

// ---- Pictures held in the test ----

struct Picture {
  int w, h, n, bits;
  std::vector<int32_t> v;     // n samples per pixel, row by row
  std::vector<uint8_t> mask;  // one byte per pixel; empty: no selection

  Picture(int width, int height, int planes, int sampleBits)
      : w(width), h(height), n(planes), bits(sampleBits), v(size_t(width) * height * planes) {
    // A deterministic pattern in which neighbouring samples differ.
    const int32_t scale = bits == 8 ? 1 : 128;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int s = 0; s < n; ++s) at(x, y, s) = ((x * 53 + y * 97 + s * 31) % 251) * scale;
  }
  int32_t& at(int x, int y, int s = 0) { return v[(size_t(y) * w + x) * n + s]; }
  void Select(int x, int y) {
    if (mask.empty()) mask.assign(size_t(w) * h, 0);
    mask[size_t(y) * w + x] = 255;
  }
  bool Selected(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return false;
    return mask.empty() || mask[size_t(y) * w + x] >= 128;
  }
};

// What a test may do around the engine call: refuse an allocation or file opens.
struct EngineControl {
  long refuseAfter = -1;  // allocations allowed before one is refused; -1: none refused
  bool refuseOpens = false;
  long allocations = 0;  // out: allocations the engine asked for
};

// Runs MembraneFill or MembraneFill16 on the picture through scratch images; the picture takes
// the result. Checks that the engine itself left no block and no "TempImage" file behind.
int32_t RunEngine(Picture& p, EngineControl* control = nullptr) {
  const int bytes = p.bits / 8;
  const int32_t rowBytes = p.w * p.n * bytes;
  NamedImage* image = nullptr;
  NamedImage* selection = nullptr;
  EXPECT_EQ(MakeImage(p.w, p.h, p.n * bytes, &image), noErr);
  std::vector<uint8_t> row8(size_t(p.w) * p.n);
  std::vector<uint16_t> row16(row8.size());
  void* row = bytes == 1 ? static_cast<void*>(row8.data()) : row16.data();
  for (int y = 0; y < p.h; ++y) {
    for (size_t i = 0; i < row8.size(); ++i) {
      row8[i] = uint8_t(p.v[y * row8.size() + i]);
      row16[i] = uint16_t(p.v[y * row8.size() + i]);
    }
    PutLine(image, 0, y, rowBytes, row);
  }
  if (!p.mask.empty()) {
    EXPECT_EQ(MakeSelectionImage(p.w, p.h, 1, &selection), noErr);
    for (int y = 0; y < p.h; ++y) PutLine(selection, 0, y, p.w, &p.mask[size_t(y) * p.w]);
  }
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

  const long blocksBefore = PlatformLiveBlocks();
  const long allocationsBefore = PlatformAllocationCount();
  if (control && control->refuseAfter >= 0) PlatformRefuseAllocations(control->refuseAfter, 1);
  if (control) PlatformRefuseOpens(control->refuseOpens);
  const int32_t status = bytes == 1 ? MembraneFill(image, &record) : MembraneFill16(image, &record);
  PlatformRefuseAllocations(0, 0);
  PlatformRefuseOpens(false);
  if (control) control->allocations = PlatformAllocationCount() - allocationsBefore;
  EXPECT_EQ(PlatformLiveBlocks(), blocksBefore) << "the engine left blocks allocated";
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(PlatformPreferencesFolderPath()) /
                                       "TempImage"));

  for (int y = 0; y < p.h; ++y) {
    GetLine(image, 0, y, rowBytes, row);
    for (size_t i = 0; i < row8.size(); ++i)
      p.v[y * row8.size() + i] = bytes == 1 ? row8[i] : row16[i];
  }
  TossImage(image);
  if (selection) TossSelectionImage(selection);
  return status;
}

// Eight passes of the 3×3 mean over the whole picture, as plainly as it can be written.
void Smooth(Picture& p) {
  for (int pass = 0; pass < 8; ++pass) {
    Picture source = p;
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x < p.w; ++x)
        for (int s = 0; s < p.n; ++s) {
          int32_t sum = 0, columns = 0;
          for (int xx = x - 1; xx <= x + 1; ++xx) {
            if (xx < 0 || xx >= p.w) continue;
            ++columns;
            for (int yy = y - 1; yy <= y + 1; ++yy)
              sum += source.at(xx, std::clamp(yy, 0, p.h - 1), s);
          }
          p.at(x, y, s) = sum / (3 * columns);
        }
  }
}

// The fill's decoding step (_DecodePixel) at the depth of `pixel`.
bool DecodePixel(const SectorSlot* slots, int32_t planes, bool haveSelection, uint8_t* pixel) {
  return _DecodePixel<_Depth8>(slots, planes, haveSelection, pixel);
}
bool DecodePixel(const SectorSlot* slots, int32_t planes, bool haveSelection, uint16_t* pixel) {
  return _DecodePixel<_Depth16>(slots, planes, haveSelection, pixel);
}

std::array<SectorSlot, kSectorCount> EmptySlots() {
  std::array<SectorSlot, kSectorCount> slots;
  slots.fill({999999999, {-1, 0, 0}});
  return slots;
}

// The membrane fill restated over a whole picture in memory, for shapes too large to work by
// hand. It shares only the sector and decoding steps, which are tested on their own.
Picture Reference(Picture p) {
  const int32_t offset = p.bits == 8 ? 128 : 16384;
  const int32_t wrap = 1 << p.bits;
  auto encoded = [&](int x, int y) {
    std::array<int32_t, 3> e = {p.at(x, y), 0, 0};
    if (p.n == 3) {
      const int32_t r = p.at(x, y, 0), g = p.at(x, y, 1), b = p.at(x, y, 2);
      e = {(r + g + b + 1) / 3, ((r - g) / 2 + offset + wrap) % wrap,
           (((r + g) / 2 - b) / 2 + offset + wrap) % wrap};
    }
    return e;
  };
  struct Point {
    int x, y;
    std::array<int32_t, 3> samples;
  };
  std::vector<Point> points;
  if (!p.mask.empty()) {
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x + 1 < p.w; ++x) {
        bool edge = false;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) edge |= !p.Selected(x + i, y + j);
        if (p.Selected(x, y) && edge) points.push_back({x, y, encoded(x + 1, y)});
      }
  } else {
    for (int y : {0, p.h - 1})
      for (int x = 0; x < p.w; ++x) points.push_back({x, y, encoded(x, y)});
    for (int y = 1; y + 1 < p.h; ++y) {
      points.push_back({0, y, encoded(0, y)});
      points.push_back({p.w - 1, y, encoded(p.w - 1, y)});
    }
  }
  if (points.size() > size_t(kMaxBoundaryPoints)) points.resize(kMaxBoundaryPoints);
  Picture out = p;
  for (int y = 1; y + 1 < p.h && !points.empty(); ++y)
    for (int x = 0; x < p.w; ++x) {
      if (!p.Selected(x, y)) continue;
      auto slots = EmptySlots();
      for (const Point& point : points) {
        const int32_t dx = x - point.x, dy = y - point.y, d2 = dx * dx + dy * dy;
        if (d2 == 0) continue;
        SectorSlot& slot = slots[_SectorOf(dx, dy)];
        if (d2 < slot.distance2)
          slot = {d2, {point.samples[0], point.samples[1], point.samples[2]}};
      }
      uint8_t new8[3];
      uint16_t new16[3];
      const bool haveSelection = !p.mask.empty();
      if (p.bits == 8 ? !DecodePixel(slots.data(), p.n, haveSelection, new8)
                      : !DecodePixel(slots.data(), p.n, haveSelection, new16))
        continue;
      for (int s = 0; s < p.n; ++s) out.at(x, y, s) = p.bits == 8 ? new8[s] : new16[s];
    }
  Smooth(out);
  return out;
}

class MembraneFillTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    gLog = HostLog{};
  }
};

}  // namespace

// ---- Sectors and decoding ----

TEST(MembraneSectorTest, DirectionsLandInTheirSectors) {
  struct Case {
    int32_t dx, dy, sector;
  };
  // clang-format off
  const Case cases[] = {
      {0, 1, 7},   {0, -1, 15},  {1, 0, 0},    {-1, 0, 16},  // straight above, below, left, right
      {1, 1, 4},   {1, -1, 12},  {-1, 1, 20},  {-1, -1, 28},  // diagonals: r = 1 opens sector 4
      {5, -1, 9},  {2, 1, 2},    {-3, 2, 18},  {1, 2, 5},     // 0.2, 0.5, 0.667, 2
      {10000, 1989, 0},   // 1989/10000 rounds below 0.1989 in single precision
      {1000, 1497, 4},    // likewise below 1.497 (and above 1.4966)
      {-250, -1257, 30},  // below 5.028: sector 6 of the last quadrant
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(_SectorOf(c.dx, c.dy), c.sector) << "dx " << c.dx << " dy " << c.dy;
}

TEST(MembraneDecodeTest, OneSlotRoundsAsSinglePrecisionWithDoubleWeights) {
  struct Case {
    int32_t distance2, sample;
    bool haveSelection;
    int expected;
  };
  const Case cases[] = {
      {2, 4, true, 3},   // S0 × (1/W) falls just short of 4 ...
      {2, 4, false, 4},  // ... S0 ÷ W does not
      {7, 1, true, 0},   // weights from a double square root: a float one would give 1 ...
      {39, 1, true, 1},  // ... and 0 here
  };
  for (const Case& c : cases) {
    auto slots = EmptySlots();
    slots[9] = {c.distance2, {c.sample, 0, 0}};
    uint8_t pixel = 99;
    ASSERT_TRUE(DecodePixel(slots.data(), 1, c.haveSelection, &pixel));
    EXPECT_EQ(pixel, c.expected) << "d2 " << c.distance2 << " sample " << c.sample;
  }
}

TEST(MembraneDecodeTest, NoCountingSlotKeepsASelectedPixelAndGivesFullIntensityWithout) {
  auto slots = EmptySlots();
  slots[3] = {0, {200, 7, 9}};  // a zero distance never counts
  uint8_t pixel8[3] = {1, 2, 3};
  uint16_t pixel16[3] = {1, 2, 3};
  EXPECT_FALSE(DecodePixel(slots.data(), 3, true, pixel8));
  EXPECT_FALSE(DecodePixel(slots.data(), 3, true, pixel16));
  EXPECT_EQ(std::vector<uint8_t>(pixel8, pixel8 + 3), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::vector<uint16_t>(pixel16, pixel16 + 3), (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_TRUE(DecodePixel(slots.data(), 3, false, pixel8));
  EXPECT_TRUE(DecodePixel(slots.data(), 3, false, pixel16));
  EXPECT_EQ(std::vector<uint8_t>(pixel8, pixel8 + 3), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_EQ(std::vector<uint16_t>(pixel16, pixel16 + 3),
            (std::vector<uint16_t>{32768, 32768, 32768}));
}

TEST(MembraneDecodeTest, ResultsKeepTheirLowBitsWithoutClamping) {
  auto slots = EmptySlots();
  uint8_t rgb8[3];
  slots[0] = {1, {200, 255, 255}};  // a = c = 254: R = 411, G = 157, B = 31
  ASSERT_TRUE(DecodePixel(slots.data(), 3, true, rgb8));
  EXPECT_EQ(std::vector<int>(rgb8, rgb8 + 3), (std::vector<int>{411 - 256, 157, 31}));
  slots[0] = {1, {10, 255, 128}};  // a = 254, c = 0: G = 10 - 127 = -117
  ASSERT_TRUE(DecodePixel(slots.data(), 3, true, rgb8));
  EXPECT_EQ(std::vector<int>(rgb8, rgb8 + 3), (std::vector<int>{137, 256 - 117, 10}));

  uint16_t grey16;
  slots[0] = {1, {50000, 0, 0}};  // above the host's 32768, kept
  ASSERT_TRUE(DecodePixel(slots.data(), 1, true, &grey16));
  EXPECT_EQ(grey16, 50000);
  uint16_t rgb16[3];
  slots[0] = {1, {21845, 49153, 32767}};  // (0, 65535, 0) encoded, its A wrapped to 16 bits
  ASSERT_TRUE(DecodePixel(slots.data(), 3, true, rgb16));
  EXPECT_EQ(std::vector<int>(rgb16, rgb16 + 3), (std::vector<int>{65536 - 65536, 65536 - 2, 1}));
}

// ---- Whole fills worked by hand ----

// A 5×5 picture with the vertical bar (2,1)..(2,3) selected. Each bar pixel is an edge point
// carrying the samples of its right neighbour (3,y): the ends take the middle's point, the middle
// takes the mean of the ends' points.
struct BarCase {
  int bits, planes;
  std::array<std::array<int32_t, 3>, 3> right;  // pixels (3,1), (3,2), (3,3)
  std::array<int32_t, 3> ends, middle;          // worked-out values before smoothing
};

class MembraneBarTest : public MembraneFillTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(MembraneBarTest, EdgePointsTakeSamplesOfTheirRightNeighbour) {
  const BarCase& c = GetParam();
  Picture p(5, 5, c.planes, c.bits);
  for (int y = 1; y <= 3; ++y) {
    p.Select(2, y);
    for (int s = 0; s < c.planes; ++s) p.at(3, y, s) = c.right[y - 1][s];
  }
  Picture expected = p;
  for (int s = 0; s < c.planes; ++s) {
    expected.at(2, 1, s) = expected.at(2, 3, s) = c.ends[s];
    expected.at(2, 2, s) = c.middle[s];
  }
  Smooth(expected);
  ASSERT_EQ(RunEngine(p), 0);
  EXPECT_EQ(p.v, expected.v);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, MembraneBarTest,
    ::testing::Values(
        BarCase{8, 1, {{{40}, {200}, {91}}}, {200}, {65}},  // (40 + 91) / 2
        BarCase{16, 1, {{{60000}, {50000}, {40001}}}, {50000}, {50000}},
        // (200,100,50) comes back as (200,100,51); the middle mixes (10,200,30), (250,20,120).
        BarCase{8,
                3,
                {{{10, 200, 30}, {200, 100, 50}, {250, 20, 120}}},
                {200, 100, 51},
                {129, 109, 76}},
        // (0,65535,0) wraps on the way back; the middle mixes (32768,0,16384), (0,32768,32768).
        BarCase{16,
                3,
                {{{32768, 0, 16384}, {0, 65535, 0}, {0, 32768, 32768}}},
                {0, 65534, 1},
                {16384, 16384, 24575}}));

TEST_F(MembraneFillTest, EqualDistancesInOneSectorKeepTheEarlierPoint) {
  Picture p(40, 16, 1, 8);
  std::fill(p.v.begin(), p.v.end(), 0);
  p.Select(35, 13);  // filled from (4,1) and (3,4): both at d² = 1105 in sector 1
  p.Select(4, 1);    // found first; carries (5,1)
  p.Select(3, 4);    // carries (4,4) = 0
  p.at(5, 1) = 200;
  Picture expected(40, 16, 1, 8);
  std::fill(expected.v.begin(), expected.v.end(), 0);
  auto slots = EmptySlots();
  slots[1] = {1105, {200, 0, 0}};
  uint8_t value;
  ASSERT_TRUE(DecodePixel(slots.data(), 1, true, &value));
  expected.at(35, 13) = value;
  Smooth(expected);
  ASSERT_EQ(RunEngine(p), 0);
  for (int y = 0; y < 16; ++y)  // the left corner's own changes do not reach past column 13
    for (int x = 20; x < 40; ++x) EXPECT_EQ(p.at(x, y), expected.at(x, y)) << x << "," << y;
}

// Selections whose fill changes nothing, so that only the smoothing passes act.
struct UnchangedCase {
  const char* name;
  int w, h;
  std::vector<std::array<int, 2>> selected;  // {-1,-1}: no selection at all
};

class MembraneUnchangedTest : public MembraneFillTest,
                              public ::testing::WithParamInterface<UnchangedCase> {};

TEST_P(MembraneUnchangedTest, OnlySmoothingActs) {
  const UnchangedCase& c = GetParam();
  for (int bits : {8, 16}) {
    Picture p(c.w, c.h, 3, bits);
    if (c.selected.empty()) p.mask.assign(size_t(c.w) * c.h, 0);
    for (auto [x, y] : c.selected)
      if (x >= 0) p.Select(x, y);
    Picture expected = p;
    Smooth(expected);
    ASSERT_EQ(RunEngine(p), 0);
    EXPECT_EQ(p.v, expected.v) << bits << "-bit";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MembraneUnchangedTest,
    ::testing::Values(UnchangedCase{"NothingSelected", 6, 5, {}},
                      UnchangedCase{"OnePixelKeepsItsSamples", 5, 5, {{2, 2}}},
                      // (3,1) is never an edge point, so (2,1) has no other point and (3,1) gets
                      // its own samples back through (2,1)'s point.
                      UnchangedCase{"LastColumnIsNeverAnEdgePoint", 4, 3, {{2, 1}, {3, 1}}},
                      // 32764² is beyond a slot's starting distance: that point never counts.
                      UnchangedCase{"FarPointsNeverCount", 32765, 3, {{0, 1}, {32764, 1}}},
                      UnchangedCase{
                          "TwoRowsAreNeverFilled", 4, 2, {{0, 0}, {1, 0}, {1, 1}, {2, 1}}},
                      UnchangedCase{"OneRowWithoutSelection", 5, 1, {{-1, -1}}},
                      UnchangedCase{"TwoRowsWithoutSelection", 5, 2, {{-1, -1}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(MembraneFillTest, SmoothingDividesByTheColumnsPresentAndRepeatsEdgeRows) {
  for (int bits : {8, 16}) {
    Picture row(3, 1, 1, bits), column(1, 3, 1, bits);
    row.v = {0, 0, 240};     // divisors 6, 9, 6 with the one row taken three times
    column.v = {0, 0, 240};  // divisor 3 with the top and bottom rows taken twice
    row.mask.assign(3, 0);
    column.mask.assign(3, 0);
    ASSERT_EQ(RunEngine(row), 0);
    ASSERT_EQ(RunEngine(column), 0);
    EXPECT_EQ(row.v, (std::vector<int32_t>{66, 67, 67}));
    EXPECT_EQ(column.v, (std::vector<int32_t>{73, 78, 82}));
    Picture full(4, 3, 3, bits);  // full scale survives every divisor
    std::fill(full.v.begin(), full.v.end(), bits == 8 ? 255 : 65535);
    full.mask.assign(12, 0);
    Picture expected = full;
    ASSERT_EQ(RunEngine(full), 0);
    EXPECT_EQ(full.v, expected.v);
  }
}

class MembraneEdgeMaskTest : public MembraneFillTest, public ::testing::WithParamInterface<int> {};

TEST_P(MembraneEdgeMaskTest, HoldsZeroForSelectedPixelsAndTheDepthsFullValueAround) {
  const int bits = GetParam();
  PlatformSetTempMemoryLimit(0);  // the edge mask goes to a file that the test can read
  Picture p(4, 3, 1, bits);
  p.Select(1, 1);
  p.Select(2, 1);
  gLog.copyTempImageAt = p.h;  // the edge search's first row: the mask is complete
  ASSERT_EQ(RunEngine(p), 0);
  const int bytes = bits / 8;
  ASSERT_EQ(gLog.tempImageFile.size(), size_t(6 + 6 * 5 * bytes));
  int16_t header[3];
  std::memcpy(header, gLog.tempImageFile.data(), 6);
  EXPECT_EQ(std::vector<int16_t>(header, header + 3), (std::vector<int16_t>{int16_t(bytes), 6, 5}));
  std::vector<int32_t> mask(6 * 5);
  for (size_t i = 0; i < mask.size(); ++i) {
    uint16_t value = 0;
    std::memcpy(&value, &gLog.tempImageFile[6 + i * bytes], bytes);
    mask[i] = value;
  }
  std::vector<int32_t> expected(6 * 5, bits == 8 ? 255 : 32768);
  expected[2 * 6 + 2] = expected[2 * 6 + 3] = 0;  // pixels (1,1) and (2,1)
  EXPECT_EQ(mask, expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, MembraneEdgeMaskTest, ::testing::Values(8, 16));

// ---- Larger shapes against the whole-picture restatement ----

enum Shape { kDiscHole, kEverythingSelected, kNoSelection, kBorderPattern, kOneWide };

Picture MakeShape(Shape shape, int bits, int planes) {
  Picture p(shape == kOneWide ? 1 : 13, 11, planes, bits);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const bool inDisc = (x - 6) * (x - 6) + (y - 5) * (y - 5) <= 16;
      if ((shape == kDiscHole && inDisc) || shape == kEverythingSelected ||
          (shape == kBorderPattern && (x * x + 3 * y) % 7 < 4))
        p.Select(x, y);
    }
  return p;
}

class MembraneShapeTest : public MembraneFillTest,
                          public ::testing::WithParamInterface<std::tuple<Shape, int, int>> {};

TEST_P(MembraneShapeTest, MatchesTheWholePictureRestatement) {
  auto [shape, bits, planes] = GetParam();
  Picture p = MakeShape(shape, bits, planes);
  const Picture expected = Reference(p);
  ASSERT_EQ(RunEngine(p), 0);
  EXPECT_EQ(p.v, expected.v);
}

INSTANTIATE_TEST_SUITE_P(Shapes, MembraneShapeTest,
                         ::testing::Combine(::testing::Values(kDiscHole, kEverythingSelected,
                                                              kNoSelection, kBorderPattern,
                                                              kOneWide),
                                            ::testing::Values(8, 16), ::testing::Values(1, 3)));

TEST_F(MembraneFillTest, ScratchImagesOnDiskGiveTheSameResult) {
  Picture inMemory = MakeShape(kDiscHole, 16, 3);
  Picture onDisk = inMemory;
  ASSERT_EQ(RunEngine(inMemory), 0);
  PlatformSetTempMemoryLimit(0);
  ASSERT_EQ(RunEngine(onDisk), 0);
  EXPECT_EQ(onDisk.v, inMemory.v);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(MembraneFillTest, OnlyTheFirst32000EdgePointsCount) {
  // Rows 0 and 4 (never filled) and a short run of row 2 are selected: 20000 points in row 0,
  // 21 in row 2, and only the first 11979 of row 4 fit. The rest of row 4, right below the
  // filled run and brighter than anything else, must make no difference.
  Picture all(20001, 5, 1, 8);
  std::fill(all.v.begin(), all.v.end(), 10);
  for (int x = 11980; x < all.w; ++x) all.at(x, 4) = 250;  // carried by the dropped points
  for (int x = 0; x < all.w; ++x) all.Select(x, 0);
  for (int x = 11970; x <= 11990; ++x) all.Select(x, 2);
  Picture kept = all;
  for (int x = 0; x < all.w; ++x) all.Select(x, 4);
  for (int x = 0; x < 11979; ++x) kept.Select(x, 4);
  ASSERT_EQ(RunEngine(all), 0);
  ASSERT_EQ(RunEngine(kept), 0);
  EXPECT_TRUE(all.v == kept.v);
}

// ---- Progress, cancel and failures ----

class MembraneProgressTest : public MembraneFillTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MembraneProgressTest, ReportsEachRowOnceInOrderThenTestsCancel) {
  const bool withSelection = GetParam();
  Picture p = MakeShape(withSelection ? kDiscHole : kNoSelection, 8, 1);
  const int h = p.h;
  ASSERT_EQ(RunEngine(p), 0);
  std::vector<int32_t> expected;
  auto stage = [&](int from, int to) {
    for (int d = from; d < to; ++d) expected.push_back(d);
  };
  if (withSelection) {  // mask, edge search, fill rows 1..h-2, eight passes, of 12h
    stage(0, 2 * h);
    stage(2 * h + 1, 3 * h - 1);
    stage(3 * h, 11 * h);
  } else {  // edge search rows 1..h-2, fill, eight passes, of 11h
    stage(1, h - 1);
    stage(h + 1, 2 * h - 1);
    stage(2 * h, 10 * h);
  }
  EXPECT_EQ(gLog.done, expected);
  EXPECT_EQ(gLog.total, std::vector<int32_t>(expected.size(), (withSelection ? 12 : 11) * h));
  std::string alternating;
  for (size_t i = 0; i < expected.size(); ++i) alternating += "PA";
  EXPECT_EQ(gLog.calls, alternating);
}

INSTANTIATE_TEST_SUITE_P(Selection, MembraneProgressTest, ::testing::Bool());

TEST_F(MembraneFillTest, CancelStopsAtOnceAndReleasesEverything) {
  const int h = 11;
  // The first rows of the mask, the edge search, the fill and the first pass; the very last row.
  for (long cancelAt : {1L, long(h) + 1, 2L * h + 1, 3L * h - 1, 11L * h - 2}) {
    for (bool onDisk : {false, true}) {
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      Picture p = MakeShape(kDiscHole, 16, 3);
      const Picture original = p;
      gLog = HostLog{};
      gLog.cancelAt = cancelAt;
      EXPECT_EQ(RunEngine(p), -128) << cancelAt;
      EXPECT_EQ(gLog.abortTests, cancelAt);
      EXPECT_EQ(long(gLog.done.size()), cancelAt);
      if (cancelAt <= 2 * h + 1) {
        EXPECT_EQ(p.v, original.v) << "changed before the fill";
      }
      EXPECT_TRUE(PrefsFiles().empty());
    }
  }
}

TEST_F(MembraneFillTest, MissingStorageReturnsMemFullAndLeavesTheImage) {
  const Picture original = MakeShape(kDiscHole, 8, 3);
  Picture normal = original;
  ASSERT_EQ(RunEngine(normal), 0);
  EngineControl control;
  int refused = 0;
  for (control.refuseAfter = 0;; ++control.refuseAfter) {
    Picture p = original;
    const int32_t status = RunEngine(p, &control);
    if (status == 0) {  // a scratch image that may go to disk instead
      EXPECT_EQ(p.v, normal.v) << "refused after " << control.refuseAfter;
    } else {
      ++refused;
      EXPECT_EQ(status, -108) << control.refuseAfter;
      EXPECT_EQ(p.v, original.v) << control.refuseAfter;
    }
    if (control.refuseAfter >= control.allocations) break;
  }
  EXPECT_GE(refused, 7);          // the six work blocks and the edge mask's record
  PlatformSetTempMemoryLimit(0);  // the edge mask must go to disk, and no file can be made
  control = EngineControl{};
  control.refuseOpens = true;
  Picture p = original;
  EXPECT_EQ(RunEngine(p, &control), -108);
  EXPECT_EQ(p.v, original.v);
}
