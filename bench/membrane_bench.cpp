// Timing of the reference membrane fill on RGB images with a disc-shaped hole and without a
// selection, at both depths. Counters give the time per filled pixel and per (pixel, edge point)
// pair, the engine's unit of work.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "filter/fill/membrane_fill.h"
#include "platform/files.h"

namespace {

constexpr int kDiscRadius = 100;

// A scratch Preferences folder, so that making images never touches the user's own.
struct BenchPrefsFolder {
  std::filesystem::path path;
  BenchPrefsFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "areafill-bench-XXXXXX");
    if (::mkdtemp(pattern.data())) path = pattern;
    PlatformSetPreferencesFolder(path.c_str());
  }
  ~BenchPrefsFolder() {
    PlatformSetPreferencesFolder(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

struct BenchScene {
  NamedImage* image = nullptr;
  NamedImage* selection = nullptr;
  std::vector<uint8_t> pristine;  // the image's rows, restored before every run
  int32_t rowBytes = 0;
  long filled = 0;      // pixels the fill pass computes
  long edgePoints = 0;  // points each of them visits
};

// An RGB image with smooth gradients and some texture; with `disc`, a selected disc in its
// middle. Counts the filled pixels and the edge points the engine will keep.
void MakeScene(BenchScene* scene, int width, int height, int bits, bool disc) {
  const int bytes = bits / 8;
  scene->rowBytes = width * 3 * bytes;
  scene->pristine.resize(size_t(scene->rowBytes) * height);
  MakeImage(int16_t(width), int16_t(height), int16_t(3 * bytes), &scene->image);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = &scene->pristine[size_t(y) * scene->rowBytes];
    for (int x = 0; x < width; ++x) {
      const int rgb[3] = {x * 255 / width, y * 255 / height, (x ^ y) & 255};
      for (int s = 0; s < 3; ++s) {
        const int i = 3 * x + s;
        if (bytes == 1)
          row[i] = uint8_t(rgb[s]);
        else
          reinterpret_cast<uint16_t*>(row)[i] = uint16_t(rgb[s] * 128);
      }
    }
    PutLine(scene->image, 0, y, scene->rowBytes, row);
  }
  if (!disc) {
    scene->filled = long(width) * (height - 2);
    scene->edgePoints = std::min(2L * width + 2L * (height - 2), long(kMaxBoundaryPoints));
    return;
  }
  auto inDisc = [&](int x, int y) {
    const int dx = x - width / 2, dy = y - height / 2;
    return x >= 0 && y >= 0 && x < width && y < height &&
           dx * dx + dy * dy <= kDiscRadius * kDiscRadius;
  };
  MakeSelectionImage(int16_t(width), int16_t(height), 1, &scene->selection);
  std::vector<uint8_t> mask(width);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      mask[x] = inDisc(x, y) ? 255 : 0;
      if (!inDisc(x, y)) continue;
      if (y > 0 && y < height - 1) ++scene->filled;
      bool edge = false;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) edge |= !inDisc(x + i, y + j);
      if (edge && x < width - 1) ++scene->edgePoints;
    }
    PutLine(scene->selection, 0, y, width, mask.data());
  }
}

void BM_MembraneFill(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  const int bits = int(state.range(2));
  const bool disc = state.range(3) != 0;
  BenchPrefsFolder prefs;
  BenchScene scene;
  MakeScene(&scene, width, height, bits, disc);
  auto record = std::make_unique<RunRecord>();
  record->width = int16_t(width);
  record->height = int16_t(height);
  record->planes = 3;
  record->selection = scene.selection;

  for (auto _ : state) {
    state.PauseTiming();
    for (int y = 0; y < height; ++y)
      PutLine(scene.image, 0, y, scene.rowBytes, &scene.pristine[size_t(y) * scene.rowBytes]);
    state.ResumeTiming();
    const int32_t status = bits == 8 ? MembraneFill(scene.image, record.get())
                                     : MembraneFill16(scene.image, record.get());
    if (status != 0) state.SkipWithError("the fill did not run to its end");
  }
  using benchmark::Counter;
  const double pairs = double(scene.filled) * double(scene.edgePoints);
  state.counters["edge_points"] = double(scene.edgePoints);
  state.counters["per_pixel"] =
      Counter(double(scene.filled), Counter::kIsIterationInvariantRate | Counter::kInvert);
  state.counters["per_pair"] =
      Counter(pairs, Counter::kIsIterationInvariantRate | Counter::kInvert);

  TossImage(scene.image);
  if (scene.selection) TossSelectionImage(scene.selection);
}

}  // namespace

// Arguments: width, height, bits per sample, disc hole (1) or no selection (0).
BENCHMARK(BM_MembraneFill)
    ->ArgNames({"w", "h", "bits", "disc"})
    ->Args({256, 256, 8, 1})
    ->Args({256, 256, 16, 1})
    ->Args({1024, 768, 8, 1})
    ->Args({1024, 768, 16, 1})
    ->Args({256, 256, 8, 0})
    ->Unit(benchmark::kMillisecond);

// Without a selection every interior pixel visits the whole ring: seconds per run.
BENCHMARK(BM_MembraneFill)
    ->ArgNames({"w", "h", "bits", "disc"})
    ->Args({1024, 768, 8, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
