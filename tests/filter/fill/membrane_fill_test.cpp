// The membrane fill against a plain restatement of it over the whole picture, in both engines at
// both depths, on shapes that reach its limits; the decoding step's rounding worked by hand; the
// progress it reports; and storage that cannot be had.
#include "filter/fill/membrane_fill.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "filter/fill/membrane_steps.h"
#include "support/fill_runs.h"
#include "support/platform_fixture.h"

namespace {

using namespace fill_runs;
using Slots = std::array<SectorSlot, kSectorCount>;

Slots EmptySlots() {
  Slots slots;
  slots.fill({999999999, {-1, 0, 0}});
  return slots;
}

// The fill's decoding step (_DecodePixel) at either depth; false: the pixel keeps its samples.
bool Decode(const Slots& slots, int bits, int planes, bool haveSelection, int32_t* pixel) {
  uint8_t p8[3];
  uint16_t p16[3];
  const bool done = bits == 8 ? _DecodePixel<_Depth8>(slots.data(), planes, haveSelection, p8)
                              : _DecodePixel<_Depth16>(slots.data(), planes, haveSelection, p16);
  for (int s = 0; done && s < planes; ++s) pixel[s] = bits == 8 ? p8[s] : p16[s];
  return done;
}

TEST(MembraneDecode, RoundsInSinglePrecisionAndKeepsLowBits) {
  struct Case {
    int bits, planes;
    bool haveSelection;
    SectorSlot slot;
    std::vector<int32_t> expected;  // empty: the pixel keeps its own samples
  };
  const Case cases[] = {
      {8, 1, true, {2, {4, 0, 0}}, {3}},   // S0 × (1/W) falls just short of 4 ...
      {8, 1, false, {2, {4, 0, 0}}, {4}},  // ... S0 ÷ W does not
      {8, 1, true, {7, {1, 0, 0}}, {0}},   // weights from a double square root: a float one
      {8, 1, true, {39, {1, 0, 0}}, {1}},  // would give 1 here and 0 here
      {8, 3, true, {0, {200, 7, 9}}, {}},  // a zero distance never counts
      {16, 3, true, {0, {200, 7, 9}}, {}},
      {8, 3, false, {0, {200, 7, 9}}, {255, 255, 255}},  // no weight, no selection: full white
      {16, 3, false, {0, {200, 7, 9}}, {32768, 32768, 32768}},
      {8, 3, true, {1, {200, 255, 255}}, {411 - 256, 157, 31}},  // a = c = 254: R = 411
      {8, 3, true, {1, {10, 255, 128}}, {137, 256 - 117, 10}},   // G = 10 - 127
      {16, 1, true, {1, {50000, 0, 0}}, {50000}},                // above the host's 32768
      {16, 3, true, {1, {21845, 49153, 32767}}, {0, 65534, 1}},  // (0, 65535, 0), A wrapped
  };
  for (const Case& c : cases) {
    Slots slots = EmptySlots();
    slots[9] = c.slot;
    int32_t pixel[3] = {-1, -1, -1};
    EXPECT_EQ(Decode(slots, c.bits, c.planes, c.haveSelection, pixel), !c.expected.empty());
    if (!c.expected.empty()) {
      EXPECT_EQ(std::vector<int32_t>(pixel, pixel + c.planes), c.expected)
          << c.bits << "-bit, d² " << c.slot.distance2 << ", sample " << c.slot.sample[0];
    }
  }
}

// Eight passes of the 3×3 mean over the whole picture, as plainly as it can be written: columns
// outside the picture are left out, rows outside it repeat the edge row.
void Smooth(Picture& p) {
  for (int pass = 0; pass < 8; ++pass) {
    const Picture source = p;
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x < p.w; ++x)
        for (int s = 0; s < p.n; ++s) {
          int32_t sum = 0, columns = 0;
          for (int xx = std::max(x - 1, 0); xx <= std::min(x + 1, p.w - 1); ++xx, ++columns)
            for (int yy = y - 1; yy <= y + 1; ++yy)
              sum += source.at(xx, std::clamp(yy, 0, p.h - 1), s);
          p.at(x, y, s) = sum / (3 * columns);
        }
  }
}

// The membrane fill restated over a whole picture in memory. It shares only the sector rule
// (proved against exact slopes in sector_search_test) and the decoding step (tested above).
Picture Restated(Picture p) {
  const int32_t offset = p.bits == 8 ? 128 : 16384, wrap = 1 << p.bits;
  auto encoded = [&](int x, int y) {
    if (p.n == 1) return std::array<int32_t, 3>{p.at(x, y), 0, 0};
    const int32_t r = p.at(x, y, 0), g = p.at(x, y, 1), b = p.at(x, y, 2);
    return std::array<int32_t, 3>{(r + g + b + 1) / 3, ((r - g) / 2 + offset + wrap) % wrap,
                                  (((r + g) / 2 - b) / 2 + offset + wrap) % wrap};
  };
  struct Point {
    int x, y;
    std::array<int32_t, 3> samples;
  };
  std::vector<Point> points;  // selected pixels touching the unselected area, but the last column
  if (!p.mask.empty()) {      // ones; each carries the samples of its right neighbour
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x + 1 < p.w; ++x) {
        bool edge = false;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) edge |= !p.Selected(x + i, y + j);
        if (p.Selected(x, y) && edge) points.push_back({x, y, encoded(x + 1, y)});
      }
  } else {  // without a selection: the top and bottom rows, then both ends of each other row
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
      Slots slots = EmptySlots();
      for (const Point& point : points) {
        const int32_t dx = x - point.x, dy = y - point.y, d2 = dx * dx + dy * dy;
        SectorSlot& slot = slots[_SectorOf(dx, dy)];
        if (d2 > 0 && d2 < slot.distance2)
          slot = {d2, {point.samples[0], point.samples[1], point.samples[2]}};
      }
      Decode(slots, p.bits, p.n, !p.mask.empty(), &out.at(x, y));
    }
  Smooth(out);
  return out;
}

struct Shape {
  const char* name;
  int w, h;
  bool (*selected)(int x, int y);  // null: no selection at all
  uint8_t on = 255, off = 0;       // mask bytes
};

// Discs, shapes without edge points to use, the far distance, and more than 32000 edge points
// (rows 0 and 4, and a patch between: only the first 32000 count, and row 4 is dropped from
// x = 15400 or so, right below the patch).
const Shape kShapes[] = {
    {"disc hole", 13, 11, [](int x, int y) { return (x - 6) * (x - 6) + (y - 5) * (y - 5) <= 16; }},
    {"disc at the threshold", 13, 11,
     [](int x, int y) { return (x - 5) * (x - 5) + (y - 6) * (y - 6) <= 12; }, 128, 127},
    {"border pattern", 13, 11, [](int x, int y) { return (x * x + 3 * y) % 7 < 4; }},
    {"everything", 13, 11, [](int, int) { return true; }},
    {"no selection", 13, 11, nullptr},
    {"one pixel wide", 1, 11, nullptr},
    {"one row", 5, 1, nullptr},
    {"two rows", 5, 2, nullptr},
    {"two rows selected", 4, 2, [](int x, int y) { return x == y || x == y + 1; }},
    {"nothing selected", 6, 5, [](int, int) { return false; }},
    {"one pixel", 5, 5, [](int x, int y) { return x == 2 && y == 2; }},
    {"last column", 4, 3, [](int x, int y) { return y == 1 && x >= 2; }},
    {"far points", 32765, 3, [](int x, int y) { return y == 1 && (x == 0 || x == 32764); }},
    {"over 32000 edge points", 16500, 5,
     [](int x, int y) {
       return y == 0 || y == 4 || (x >= 16000 && x < 16040 && (x * 7 + y * 3) % 5 < 2);
     }},
};

Picture MakePicture(const Shape& shape, int bits, int planes) {
  Picture p{
      shape.w, shape.h, planes, bits, std::vector<int32_t>(size_t(shape.w) * shape.h * planes), {}};
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x)
      for (int s = 0; s < planes; ++s)
        p.at(x, y, s) = ((x * 53 + y * 97 + s * 31) % 251) * (bits == 8 ? 1 : 128);
  if (shape.selected)
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x < p.w; ++x) p.mask.push_back(shape.selected(x, y) ? shape.on : shape.off);
  return p;
}

using MembraneFillTest = PlatformFixture;

TEST_F(MembraneFillTest, BothEnginesMatchTheRestatement) {
  for (const Shape& shape : kShapes)
    for (int bits : {8, 16})
      for (int planes : {1, 3}) {
        const Picture original = MakePicture(shape, bits, planes);
        const Picture expected = Restated(original);
        for (Engine engine : {kReference, kChosen}) {
          Picture p = original;
          ASSERT_EQ(RunEngine(p, engine), 0);
          ASSERT_TRUE(p.v == expected.v)
              << shape.name << ", " << bits << "-bit, " << planes << " planes, engine " << engine;
        }
      }
}

// Each row once, progress first, then the abort test: with a selection the edge mask's rows, the
// edge search, the fill of rows 1 .. h - 2 and eight passes, of 12h; without, the same less the
// mask, of 11h. The host's bar runs from 1/6 to 5/6: it is sent T + 4d of 6T.
TEST_F(MembraneFillTest, ReportsEachRowOnceInOrderThenTestsCancel) {
  for (bool withSelection : {true, false}) {
    Picture p = MakePicture(kShapes[withSelection ? 0 : 4], 8, 1);
    const int h = p.h;
    ASSERT_EQ(RunEngine(p, kChosen), 0);
    const int32_t total = (withSelection ? 12 : 11) * h;
    std::vector<int32_t> expected;
    auto stage = [&](int from, int to) {
      for (int d = from; d < to; ++d) expected.insert(expected.end(), {total + 4 * d, 6 * total});
    };
    if (withSelection) {
      stage(0, 2 * h);
      stage(2 * h + 1, 3 * h - 1);
      stage(3 * h, 11 * h);
    } else {
      stage(1, h - 1);
      stage(h + 1, 2 * h - 1);
      stage(2 * h, 10 * h);
    }
    EXPECT_EQ(gLog.progress, expected) << withSelection;
    std::string alternating;
    for (size_t i = 0; i < expected.size() / 2; ++i) alternating += "PA";
    EXPECT_EQ(gLog.calls, alternating);
  }
}

// Any block refused: -108 and the image untouched, or (a scratch image that went to disk, a
// search the fill did without) the normal result. The edge mask that must go to disk and cannot
// be made gives -108 too.
TEST_F(MembraneFillTest, MissingStorageReturnsMemFullAndLeavesTheImage) {
  const Picture original = MakePicture(kShapes[0], 8, 3);
  Picture normal = original;
  long allocations = 0;
  ASSERT_EQ(RunEngine(normal, kChosen, 1, 0, {}, &allocations), 0);
  int refused = 0;
  for (long k = 0; k <= allocations; ++k) {
    Picture p = original;
    const int32_t status = RunEngine(p, kChosen, 1, 0, [k] { PlatformRefuseAllocations(k, 1); });
    refused += status != 0;
    EXPECT_TRUE(status == 0 || status == -108) << k;
    EXPECT_TRUE(p.v == (status == 0 ? normal.v : original.v)) << "refused after " << k;
  }
  EXPECT_GE(refused, 7);  // the six work blocks and the edge mask's record
  PlatformSetTempMemoryLimit(0);
  Picture p = original;
  EXPECT_EQ(RunEngine(p, kChosen, 1, 0, [] { PlatformRefuseOpens(true); }), -108);
  EXPECT_TRUE(p.v == original.v);
}

}  // namespace
