// The membrane fill's winner search against visiting every edge point, side by side in each
// iteration, on three fills: a whole 2000×1500 image (its outer ring is the frame), a disc hole
// of radius 100 in 1024×768 and a 300×300 square hole in 4000×3000. Both arms include the 32
// weights per pixel (double square root and division, narrowed to single precision), so the
// counters compare the whole per-pixel cost of the fill pass; weights_ns_px shows their share.
// The reference arm runs on every Nth row that has pixels to fill (ref_row_step) and is timed
// per pixel; the search arm runs on every row, its construction included.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "filter/fill/membrane_fill.h"
#include "filter/fill/sector_search.h"

namespace {

struct FillCase {
  int32_t width, height;
  bool (*selected)(int32_t x, int32_t y);  // null: no selection, the frame is the edge
  int32_t refRowStep;
};

bool InDisc(int32_t x, int32_t y) {
  const int32_t dx = x - 512, dy = y - 384;
  return dx * dx + dy * dy <= 100 * 100;
}

bool InSquare(int32_t x, int32_t y) { return x >= 1850 && x < 2150 && y >= 1350 && y < 1650; }

const FillCase kWholeImage = {2000, 1500, nullptr, 100};
const FillCase kDiscHole = {1024, 768, InDisc, 2};
const FillCase kSquareHole = {4000, 3000, InSquare, 3};

bool Selected(const FillCase& c, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= c.width || y >= c.height) return false;
  return c.selected == nullptr || c.selected(x, y);
}

// The edge list as the fill builds it: the frame without a selection; otherwise the selected
// pixels outside the last column that touch an unselected pixel or the border, row by row.
void EdgeList(const FillCase& c, std::vector<uint16_t>* xs, std::vector<uint16_t>* ys) {
  auto add = [&](int32_t x, int32_t y) {
    if (int32_t(xs->size()) >= kMaxBoundaryPoints) return;
    xs->push_back(uint16_t(x));
    ys->push_back(uint16_t(y));
  };
  if (c.selected == nullptr) {
    for (int32_t x = 0; x < c.width; ++x) add(x, 0);
    for (int32_t x = 0; x < c.width; ++x) add(x, c.height - 1);
    for (int32_t y = 1; y < c.height - 1; ++y) {
      add(0, y);
      add(c.width - 1, y);
    }
    return;
  }
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width - 1; ++x) {
      if (!Selected(c, x, y)) continue;
      bool edge = false;
      for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) edge |= !Selected(c, x + i, y + j);
      if (edge) add(x, y);
    }
}

// Sum of the 32 weights of a pixel: what the fill pass does with the winners.
float Weights(const int32_t* winners, const int32_t* distances2) {
  float total = 0.0f;
  for (int32_t s = 0; s < kSearchSectors; ++s)
    if (winners[s] >= 0 && distances2[s] > 0)
      total += float(1.0 / std::sqrt(double(float(distances2[s]))));
  return total;
}

// The rows of the fill pass (1 .. height - 2) that have pixels to fill, with their wanted flags.
struct FillRows {
  std::vector<int32_t> y;
  std::vector<std::vector<uint8_t>> wanted;
};

FillRows RowsToFill(const FillCase& c) {
  FillRows rows;
  for (int32_t y = 1; y < c.height - 1; ++y) {
    std::vector<uint8_t> wanted(size_t(c.width));
    bool any = false;
    for (int32_t x = 0; x < c.width; ++x) any |= (wanted[size_t(x)] = Selected(c, x, y));
    if (!any) continue;
    rows.y.push_back(y);
    rows.wanted.push_back(std::move(wanted));
  }
  return rows;
}

// Visits every point for each wanted pixel of every step-th row to fill; returns the pixels.
int64_t RunReference(const FillCase& c, const FillRows& rows, const std::vector<uint16_t>& xs,
                     const std::vector<uint16_t>& ys, int32_t step, float* sink) {
  int64_t pixels = 0;
  const int32_t count = int32_t(xs.size());
  for (size_t r = 0; r < rows.y.size(); r += size_t(step)) {
    const int32_t y = rows.y[r];
    for (int32_t x = 0; x < c.width; ++x) {
      if (!rows.wanted[r][size_t(x)]) continue;
      int32_t winners[kSearchSectors], distances2[kSearchSectors];
      for (int32_t s = 0; s < kSearchSectors; ++s) {
        winners[s] = -1;
        distances2[s] = kSearchFarDistance2;
      }
      for (int32_t i = 0; i < count; ++i) {
        const int32_t dx = x - int32_t(xs[i]), dy = y - int32_t(ys[i]);
        const int32_t d2 = dx * dx + dy * dy;
        if (d2 <= 0) continue;
        const int32_t s = _SectorOf(dx, dy);
        if (d2 < distances2[s]) {
          distances2[s] = d2;
          winners[s] = i;
        }
      }
      *sink += Weights(winners, distances2);
      ++pixels;
    }
  }
  return pixels;
}

// The search over every row with pixels to fill; returns the pixels, the weights' time apart.
int64_t RunSearch(const FillCase& c, const FillRows& rows, const std::vector<uint16_t>& xs,
                  const std::vector<uint16_t>& ys, double* weightSeconds, float* sink) {
  SectorSearch* search = nullptr;
  if (MakeSectorSearch(xs.data(), ys.data(), int32_t(xs.size()), c.width, c.height, &search) != 0)
    return 0;
  std::vector<int32_t> winners(size_t(c.width) * kSearchSectors);
  std::vector<int32_t> distances2(winners.size());
  int64_t pixels = 0;
  *weightSeconds = 0.0;
  for (size_t r = 0; r < rows.y.size(); ++r) {
    const std::vector<uint8_t>& wanted = rows.wanted[r];
    FindRowWinners(search, rows.y[r], c.selected ? wanted.data() : nullptr, winners.data(),
                   distances2.data());
    const auto start = std::chrono::steady_clock::now();
    for (int32_t x = 0; x < c.width; ++x) {
      if (!wanted[size_t(x)]) continue;
      *sink += Weights(&winners[size_t(x) * kSearchSectors], &distances2[size_t(x) * kSearchSectors]);
      ++pixels;
    }
    *weightSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  DisposeSectorSearch(search);
  return pixels;
}

void BenchSideBySide(benchmark::State& state, const FillCase* c) {
  std::vector<uint16_t> xs, ys;
  EdgeList(*c, &xs, &ys);
  const FillRows rows = RowsToFill(*c);
  float sink = 0.0f;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    const int64_t refPixels = RunReference(*c, rows, xs, ys, c->refRowStep, &sink);
    auto t1 = std::chrono::steady_clock::now();
    double weightSeconds = 0.0;
    const int64_t pixels = RunSearch(*c, rows, xs, ys, &weightSeconds, &sink);
    auto t2 = std::chrono::steady_clock::now();
    const double refNs = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(refPixels);
    const double fastNs = std::chrono::duration<double, std::nano>(t2 - t1).count() / double(pixels);
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    state.counters["ref_ns_px"] = refNs;
    state.counters["fast_ns_px"] = fastNs;
    state.counters["weights_ns_px"] = weightSeconds * 1e9 / double(pixels);
    state.counters["speedup"] = refNs / fastNs;
    state.counters["points"] = double(xs.size());
    state.counters["pixels"] = double(pixels);
    state.counters["ref_row_step"] = c->refRowStep;
  }
  benchmark::DoNotOptimize(sink);
}

BENCHMARK_CAPTURE(BenchSideBySide, WholeImage2000x1500, &kWholeImage)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);
BENCHMARK_CAPTURE(BenchSideBySide, DiscHoleR100In1024x768, &kDiscHole)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);
BENCHMARK_CAPTURE(BenchSideBySide, SquareHole300In4000x3000, &kSquareHole)
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5);

}  // namespace
