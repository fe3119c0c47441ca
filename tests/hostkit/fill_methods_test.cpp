// The method a filter run recorded, as hosts read it back to remember or report it.
#include "hostkit/fill_methods.h"

#include <gtest/gtest.h>

namespace {

using hostkit::Descriptor;
using hostkit::DescriptorItem;

TEST(RecordedMethod, IsTheFillChoiceEnumerationOrNothing) {
  Descriptor recorded;
  EXPECT_EQ(hostkit::RecordedMethod(recorded), nullptr) << "nothing recorded";
  recorded.Put(hostkit::FillMethodDescriptorItem(*hostkit::FillMethodByName("vblend")));
  ASSERT_NE(hostkit::RecordedMethod(recorded), nullptr);
  EXPECT_EQ(hostkit::RecordedMethod(recorded)->choice, 9);

  Descriptor outOfRange;
  outOfRange.Put(DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"), 10));
  EXPECT_EQ(hostkit::RecordedMethod(outOfRange), nullptr);
  Descriptor wrongKind;
  wrongKind.Put(DescriptorItem::Integer(FourCC("FilM"), 4));
  EXPECT_EQ(hostkit::RecordedMethod(wrongKind), nullptr);
  Descriptor otherKey;
  otherKey.Put(DescriptorItem::Enumerated(FourCC("Mode"), FourCC("rB22"), 4));
  EXPECT_EQ(hostkit::RecordedMethod(otherKey), nullptr);
}

}  // namespace
