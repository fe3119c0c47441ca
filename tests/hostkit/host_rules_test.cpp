// The host rules every host shares: the filter area of a selection, the masking of the filter's
// output, the exact 16-bit write-back and the size limit. (The rest of the host side of the
// protocol runs the real filter in the run driver's tests and through every host.)
#include "hostkit/host_rules.h"

#include <gtest/gtest.h>

#include "hostkit/filter_host.h"

namespace {

// A 6×4 mask from rows of '.' (0), 'x' (255) and 'o' (1: selected only for masking).
std::vector<uint8_t> MaskOf(std::initializer_list<const char*> rows) {
  std::vector<uint8_t> mask;
  for (const char* row : rows)
    for (const char* c = row; *c; ++c) mask.push_back(*c == 'x' ? 255 : *c == 'o' ? 1 : 0);
  return mask;
}

void ExpectRect(const Rect& r, Rect want) {
  EXPECT_EQ(std::vector<int>({r.top, r.left, r.bottom, r.right}),
            std::vector<int>({want.top, want.left, want.bottom, want.right}));
}

TEST(HostRules, FilterAreaIsTheBoxOfEveryNonZeroMaskByte) {
  // A byte of 1 counts: the host's masking lets it through, so the filter must write it.
  hostkit::RunOptions run;
  ASSERT_TRUE(hostkit::SelectArea(&run, MaskOf({"......", "..x...", "....o.", "......"}), 6, 4,
                                  /*raw=*/false));
  ExpectRect(run.filterRect, Rect{1, 2, 3, 5});
  EXPECT_TRUE(run.applyMask);
  EXPECT_EQ(run.mask.size(), 24u);
  hostkit::RunOptions raw;
  ASSERT_TRUE(hostkit::SelectArea(&raw, MaskOf({"x.....", "......", "......", ".....x"}), 6, 4,
                                  /*raw=*/true));
  ExpectRect(raw.filterRect, Rect{0, 0, 4, 6});
  EXPECT_FALSE(raw.applyMask);

  hostkit::RunOptions empty;
  EXPECT_FALSE(hostkit::SelectArea(&empty, std::vector<uint8_t>(24, 0), 6, 4, false));
  EXPECT_TRUE(empty.mask.empty());
  ExpectRect(empty.filterRect, Rect{0, 0, 0, 0});
}

// (filtered × m + original × (255 − m) + 127) ÷ 255 in the colour planes of the area, rounded;
// the alpha plane as the filter left it; floats by weights, exact where nothing changed.
TEST(HostMask, BlendsTheColourPlanesOfTheAreaByTheMaskBytes) {
  auto original = hostkit::HostImage::Make(4, 1, 2, 8, plugInModeGrayScale);
  original.pixels.Assign({100, 10, 100, 10, 100, 10, 100, 10}, 8);
  auto output = original;
  output.pixels.Assign({155, 245, 155, 245, 155, 245, 155, 245}, 8);
  hostkit::ApplyHostMask(original, {0, 128, 255, 128}, Rect{0, 0, 1, 3}, &output);
  EXPECT_EQ(output.pixels, (std::vector<uint8_t>{100, 245, 128, 245, 155, 245, 155, 245}));

  auto floats = hostkit::HostImage::Make(2, 1, 1, 32, plugInModeGray32), filtered = floats;
  floats.Set(0, 0, 0, 0.3);
  floats.Set(1, 0, 0, 0.7);
  filtered.Set(0, 0, 0, 1.0);
  filtered.Set(1, 0, 0, 0.7);
  hostkit::ApplyHostMask(floats, {51, 77}, Rect{0, 0, 1, 2}, &filtered);
  EXPECT_FLOAT_EQ(filtered.Get(0, 0, 0), 1.0f * 0.2f + 0.3f * 0.8f);
  EXPECT_EQ(filtered.Get(1, 0, 0), 0.7f);
}

TEST(HostRules, UnchangedSixteenBitSamplesComeBackExactlyAndChangedOnesRescaled) {
  // Two stored values share a host value, yet each comes back as it was when unchanged.
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(hostkit::FileToHost16(v), (v * 32768 + 32767) / 65535) << v;
    ASSERT_EQ(hostkit::RestoreFile16(hostkit::FileToHost16(v), uint16_t(v)), v);
  }
  EXPECT_EQ(hostkit::RestoreFile16(16384, 0), 32768);
  EXPECT_EQ(hostkit::RestoreFile16(40000, 0), 65535);  // beyond full intensity: the largest
}

TEST(HostRules, ImagesMustHavePixelsAndAtMost32767OnASide) {
  EXPECT_EQ(hostkit::CheckImageSize(32767, 32767), "");
  EXPECT_EQ(hostkit::CheckImageSize(0, 5), "image has no pixels (it is 0x5)");
  EXPECT_EQ(hostkit::CheckImageSize(32768, 5),
            "image is 32768 pixels wide; the largest supported is 32767");
  EXPECT_EQ(hostkit::CheckImageSize(5, 40000),
            "image is 40000 pixels tall; the largest supported is 32767");
}

}  // namespace
