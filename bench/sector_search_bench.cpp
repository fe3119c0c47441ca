// The membrane fill's winner search against visiting every edge point, side by side, on three
// fills: a whole 2000×1500 image (its outer ring is the frame), a disc hole of radius 100 in
// 1024×768 and a 300×300 square hole in 4000×3000. Both arms include the 32 weights per pixel
// (double square root and division, narrowed to single precision): speedup compares the whole
// per-pixel cost of the fill pass, speedup_search the search alone (the reference's time less
// the weights' time). The search runs on every row with pixels to fill, its construction
// included; the reference on every ref_row_step-th of those rows, interleaved with the search
// row by row so that both see the same machine load. Times are per filled pixel.
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

// Visits every point for each wanted pixel of fill row r; returns the pixels.
int64_t ReferenceRow(const FillCase& c, const FillRows& rows, size_t r,
                     const std::vector<uint16_t>& xs, const std::vector<uint16_t>& ys,
                     float* sink) {
  int64_t pixels = 0;
  const int32_t count = int32_t(xs.size());
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
  return pixels;
}

struct Timings {
  double refSeconds, searchSeconds, weightSeconds;
  int64_t refPixels, pixels;
};

// The search over every fill row, the search's construction included, and the reference on
// every refRowStep-th row, interleaved row by row so that both arms see the same machine load.
Timings RunSideBySide(const FillCase& c, const FillRows& rows, const std::vector<uint16_t>& xs,
                      const std::vector<uint16_t>& ys, float* sink) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
  };
  Timings t = {};
  std::vector<int32_t> winners(size_t(c.width) * kSearchSectors);
  std::vector<int32_t> distances2(winners.size());
  auto t0 = Clock::now();
  SectorSearch* search = nullptr;
  if (MakeSectorSearch(xs.data(), ys.data(), int32_t(xs.size()), c.width, c.height, &search) != 0)
    return t;
  t.searchSeconds += seconds(t0, Clock::now());
  for (size_t r = 0; r < rows.y.size(); ++r) {
    const std::vector<uint8_t>& wanted = rows.wanted[r];
    auto t1 = Clock::now();
    FindRowWinners(search, rows.y[r], 0, c.width - 1, c.selected ? wanted.data() : nullptr,
                   winners.data(), distances2.data());
    auto t2 = Clock::now();
    for (int32_t x = 0; x < c.width; ++x) {
      if (!wanted[size_t(x)]) continue;
      *sink +=
          Weights(&winners[size_t(x) * kSearchSectors], &distances2[size_t(x) * kSearchSectors]);
      ++t.pixels;
    }
    auto t3 = Clock::now();
    t.searchSeconds += seconds(t1, t2);
    t.weightSeconds += seconds(t2, t3);
    if (r % size_t(c.refRowStep) == 0) {
      t.refPixels += ReferenceRow(c, rows, r, xs, ys, sink);
      t.refSeconds += seconds(t3, Clock::now());
    }
  }
  DisposeSectorSearch(search);
  return t;
}

void BenchSideBySide(benchmark::State& state, const FillCase* c) {
  std::vector<uint16_t> xs, ys;
  EdgeList(*c, &xs, &ys);
  const FillRows rows = RowsToFill(*c);
  float sink = 0.0f;
  for (auto _ : state) {
    const Timings t = RunSideBySide(*c, rows, xs, ys, &sink);
    const double refNs = t.refSeconds * 1e9 / double(t.refPixels);
    const double searchNs = t.searchSeconds * 1e9 / double(t.pixels);
    const double weightNs = t.weightSeconds * 1e9 / double(t.pixels);
    state.SetIterationTime(t.searchSeconds + t.weightSeconds);
    state.counters["ref_ns_px"] = refNs;  // search and weights
    state.counters["fast_ns_px"] = searchNs + weightNs;
    state.counters["search_ns_px"] = searchNs;
    state.counters["weights_ns_px"] = weightNs;
    state.counters["speedup"] = refNs / (searchNs + weightNs);
    state.counters["speedup_search"] = (refNs - weightNs) / searchNs;
    state.counters["points"] = double(xs.size());
    state.counters["pixels"] = double(t.pixels);
    state.counters["ref_row_step"] = c->refRowStep;
  }
  benchmark::DoNotOptimize(sink);
}

BENCHMARK_CAPTURE(BenchSideBySide, WholeImage2000x1500, &kWholeImage)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK_CAPTURE(BenchSideBySide, DiscHoleR100In1024x768, &kDiscHole)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK_CAPTURE(BenchSideBySide, SquareHole300In4000x3000, &kSquareHole)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace
