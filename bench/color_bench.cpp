// Throughput of the CMYK and Lab row conversions on one row of 4096 pixels, in pixels a second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/color/color_convert.h"

namespace {

constexpr int32_t kBenchPixels = 4096;

// Each iteration copies a fixed input row into the work buffer (the conversions work in place
// and change the row's layout) and converts it; the copy is a small part of the time.
template <typename Sample>
void BenchConversion(benchmark::State& state, void (*convert)(void*, int32_t), int maxSample) {
  std::vector<Sample> input(4 * kBenchPixels);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<Sample>((i * 7919 + 13) % (maxSample + 1));
  std::vector<Sample> row(input.size());
  for (auto _ : state) {
    std::memcpy(row.data(), input.data(), input.size() * sizeof(Sample));
    convert(row.data(), kBenchPixels);
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBenchPixels);
}

void BenchConversion8(benchmark::State& state, void (*convert)(void*, int32_t)) {
  BenchConversion<uint8_t>(state, convert, 255);
}

void BenchConversion16(benchmark::State& state, void (*convert)(void*, int32_t)) {
  BenchConversion<uint16_t>(state, convert, 32768);
}

BENCHMARK_CAPTURE(BenchConversion8, CMYK8toRGB24, _ConvertCMYK8toRGB24);
BENCHMARK_CAPTURE(BenchConversion8, RGB24toCMYK8, _ConvertRGB24toCMYK8);
BENCHMARK_CAPTURE(BenchConversion16, CMYK16toRGB48, _ConvertCMYK16toRGB48);
BENCHMARK_CAPTURE(BenchConversion16, RGB48toCMYK16, _ConvertRGB48toCMYK16);
BENCHMARK_CAPTURE(BenchConversion8, LAB8toRGB24, _ConvertLAB8toRGB24);
BENCHMARK_CAPTURE(BenchConversion8, RGB24toLAB8, _ConvertRGB24toLAB8);
BENCHMARK_CAPTURE(BenchConversion16, LAB16toRGB48, _ConvertLAB16toRGB48);
BENCHMARK_CAPTURE(BenchConversion16, RGB48toLAB16, _ConvertRGB48toLAB16);

}  // namespace
