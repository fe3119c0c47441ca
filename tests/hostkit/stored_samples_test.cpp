// Stored samples to the host image and back, and finding and loading the filter module.
#include "hostkit/stored_samples.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "filter/host/filter_record.h"
#include "hostkit/module_loader.h"

namespace {

using hostkit::StoredLayout;

StoredLayout Layout(int32_t width, int32_t height, int colour, int extra, int depth) {
  StoredLayout layout;
  layout.width = width;
  layout.height = height;
  layout.colorPlanes = colour;
  layout.extraPlanes = extra;
  layout.depth = depth;
  return layout;
}

TEST(StoredSamples, LayoutsTheFilterCannotTakeAreNamed) {
  EXPECT_EQ(hostkit::CheckStoredLayout(Layout(4, 3, 3, 1, 16)), "");
  EXPECT_EQ(hostkit::CheckStoredLayout(Layout(4, 3, 2, 0, 8)),
            "8-bit samples with 2 colour planes cannot be handed to the filter");
  EXPECT_NE(hostkit::CheckStoredLayout(Layout(40000, 3, 1, 0, 8)).find("40000 pixels wide"),
            std::string::npos);
  EXPECT_NE(hostkit::CheckStoredLayout(Layout(0, 3, 1, 0, 8)), "");
}

// 16 bits: every plane, alpha included, goes to the host scale; on the way back a sample the
// filter did not change keeps its stored value even where the scale cannot hold it.
TEST(StoredSamples, SixteenBitSamplesComeBackExactlyUnlessChanged) {
  const StoredLayout layout = Layout(2, 1, 1, 1, 16);
  const uint16_t stored[4] = {1, 65534, 40000, 65535};
  hostkit::HostImage host = hostkit::StoredToHost(layout, stored);
  EXPECT_EQ(host.imageMode, plugInModeGray16);
  EXPECT_EQ(host.planes, 2);
  EXPECT_EQ(host.Get(0, 0, 0), 1);      // (1 × 32768 + 32767) ÷ 65535
  EXPECT_EQ(host.Get(0, 0, 1), 32767);  // 32767.5, rounded down: the scale cannot hold it
  EXPECT_EQ(host.Get(1, 0, 0), 20000);
  EXPECT_EQ(host.Get(1, 0, 1), 32768);

  host.Set(1, 0, 0, 16384);  // the filter changed one sample
  uint16_t back[4];
  hostkit::HostToStored(host, layout, stored, back);
  EXPECT_EQ(back[0], 1);
  EXPECT_EQ(back[1], 65534);
  EXPECT_EQ(back[2], 32768);  // (16384 × 65535 + 16384) ÷ 32768
  EXPECT_EQ(back[3], 65535);

  // Written back over the original itself.
  uint16_t inPlace[4];
  std::memcpy(inPlace, stored, sizeof inPlace);
  hostkit::HostToStored(host, layout, inPlace, inPlace);
  EXPECT_EQ(0, std::memcmp(inPlace, back, sizeof back));
}

TEST(StoredSamples, EightBitAndFloatSamplesGoAsTheyAre) {
  const uint8_t bytes[6] = {0, 1, 2, 253, 254, 255};
  hostkit::HostImage host = hostkit::StoredToHost(Layout(2, 1, 3, 0, 8), bytes);
  EXPECT_EQ(host.imageMode, plugInModeRGBColor);
  EXPECT_EQ(host.pixels, std::vector<uint8_t>(bytes, bytes + 6));
  host.Set(0, 0, 1, 99);
  uint8_t back[6];
  hostkit::HostToStored(host, Layout(2, 1, 3, 0, 8), bytes, back);
  EXPECT_EQ(back[1], 99);
  EXPECT_EQ(back[5], 255);

  const float floats[2] = {0.25f, 1.5f};
  host = hostkit::StoredToHost(Layout(1, 1, 1, 1, 32), floats);
  EXPECT_EQ(host.imageMode, plugInModeGray32);
  float fback[2];
  hostkit::HostToStored(host, Layout(1, 1, 1, 1, 32), floats, fback);
  EXPECT_EQ(fback[0], 0.25f);
  EXPECT_EQ(fback[1], 1.5f);
}

TEST(ModuleLoader, TakesTheFirstPlaceThatExistsOrNamesTheFirst) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("areafill-loader-" + std::to_string(getpid()));
  fs::create_directories(folder / "b");
  std::ofstream(folder / "b" / "module.so") << "not a module";
  const std::string missing = (folder / "a" / "module.so").string();
  EXPECT_EQ(hostkit::FirstExistingPath({missing, (folder / "b/./module.so").string()}),
            fs::canonical(folder / "b" / "module.so").string());
  EXPECT_EQ(hostkit::FirstExistingPath({missing}), missing);
  EXPECT_EQ(hostkit::FirstExistingPath({}), "");

  std::string error;
  hostkit::FilterModule module;
  EXPECT_FALSE(hostkit::LoadFilterModule(missing, &module, &error));
  EXPECT_NE(error.find("cannot load the filter module"), std::string::npos);
  error.clear();
  EXPECT_FALSE(hostkit::LoadFilterModule((folder / "b" / "module.so").string(), &module, &error));
  EXPECT_NE(error.find("cannot load the filter module"), std::string::npos)
      << "not a shared object";
  fs::remove_all(folder);
  EXPECT_NE(hostkit::ProgramFolder(), ".");
}

}  // namespace
