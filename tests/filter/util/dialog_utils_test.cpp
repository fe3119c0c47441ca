// Dialog placement: centred across the main screen, a third of the free height above it below
// the 20-pixel menu bar, divisions truncating toward zero, the screen's own origin not added.
#include "filter/util/dialog_utils.h"

#include <gtest/gtest.h>

#include "platform/dialog_backend.h"

namespace {

TEST(CenterDialog, PlacesTheDocumentedCases) {
  const struct {
    Rect screen;
    int16_t width, height, left, top;
  } cases[] = {{{0, 0, 768, 1024}, 300, 200, 362, 202},
               {{0, 0, 480, 640}, 700, 560, -30, -13},  // larger than the screen
               {{0, 0, 480, 640}, 641, 482, 0, 13},     // -1/2 → 0, -22/3 → -7
               {{100, 50, 868, 1074}, 300, 200, 362, 202}};
  for (const auto& c : cases) {
    PlatformSetScreenRect(c.screen);
    DialogTemplate data{};
    data.boundsRect = Rect{40, 70, int16_t(40 + c.height), int16_t(70 + c.width)};
    Ptr pointer = reinterpret_cast<Ptr>(&data);
    CenterDialog(&pointer);
    const Rect& r = data.boundsRect;
    EXPECT_EQ(std::vector<int>({r.top, r.left, r.bottom, r.right}),
              std::vector<int>({c.top, c.left, c.top + c.height, c.left + c.width}));
  }
  PlatformResetScreenRect();
}

}  // namespace
