// The membrane fill's two engines side by side, in one run, on the cases the fast engine is
// held to: a whole 2000×1500 image without selection (its outer ring is the frame), a disc
// hole of radius 100 in 1024×768, a 300×300 square hole in 4000×3000, and the holes users
// select most (dust, scratches, a large blob), RGB at 8 and 16 bits.
// Each repetition runs the fast engine single-threaded, the fast engine on every processor and
// the reference engine, one after the other on the same image, so that all three see the same
// machine load; the figures are medians over the repetitions.
//
// The stages are timed through the host's progress calls: "edges" (edge mask and edge list),
// "fill" (the fill pass) and "smooth" (the eight passes). Where the reference engine would take
// too long (the whole image: every pixel visits every ring point), its fill pass is cancelled
// after kReferenceRows rows and its whole time is extrapolated from the time per filled pixel;
// its smoothing is then timed on the same image with a selection that selects nothing, which
// runs the identical passes. Such rows say ref_extrapolated = 1.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "filter/fill/fill_workers.h"
#include "filter/fill/membrane_fill.h"
#include "platform/files.h"
#include "platform/host_services.h"
#include "platform/host_settings.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kReferenceRows = 24;  // fill rows the reference runs where it is extrapolated

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

struct FillCase {
  const char* name;
  int32_t width, height;
  bool (*selected)(int32_t x, int32_t y);  // null: no selection
  bool extrapolateReference;
};

bool InDisc(int32_t x, int32_t y) {
  const int32_t dx = x - 512, dy = y - 384;
  return dx * dx + dy * dy <= 100 * 100;
}
bool InSquare(int32_t x, int32_t y) { return x >= 1850 && x < 2150 && y >= 1350 && y < 1650; }

const FillCase kWholeImage = {"whole", 2000, 1500, nullptr, true};
const FillCase kDiscHole = {"disc", 1024, 768, InDisc, false};
const FillCase kSquareHole = {"square", 4000, 3000, InSquare, false};

// The holes users select most, as bench/hole_shapes.py draws them (not the same places): dust
// specks of radius 2 to 4, scratches 3 pixels wide from the top quarter to the bottom quarter,
// and a blob of radius 400. Places come from a fixed linear congruential sequence.
struct Marks {
  int32_t width;
  std::vector<uint8_t> in;
  uint32_t seed;
  int32_t Next(int32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return int32_t((seed >> 8) % uint32_t(below));
  }
  void Disc(int32_t cx, int32_t cy, int32_t r) {
    const int32_t height = int32_t(in.size()) / width;
    for (int32_t y = std::max(cy - r, 0); y <= std::min(cy + r, height - 1); ++y)
      for (int32_t x = std::max(cx - r, 0); x <= std::min(cx + r, width - 1); ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) in[size_t(y) * width + x] = 1;
  }
};
Marks Dust(int32_t width, int32_t height, int32_t specks) {
  Marks m = {width, std::vector<uint8_t>(size_t(width) * height), uint32_t(specks)};
  for (int32_t i = 0; i < specks; ++i) m.Disc(m.Next(width), m.Next(height), 2 + m.Next(3));
  return m;
}
Marks Scratches(int32_t width, int32_t height, int32_t lines) {
  Marks m = {width, std::vector<uint8_t>(size_t(width) * height), 12};
  for (int32_t i = 0; i < lines; ++i) {
    const int32_t x0 = m.Next(width), y0 = m.Next(height / 4);
    const int32_t x1 = m.Next(width), y1 = 3 * height / 4 + m.Next(height / 4);
    const int32_t steps = std::max(std::abs(x1 - x0), y1 - y0);
    for (int32_t t = 0; t <= steps; ++t)
      m.Disc(x0 + (x1 - x0) * t / steps, y0 + (y1 - y0) * t / steps, 1);
  }
  return m;
}
bool InDust80(int32_t x, int32_t y) {
  static const Marks m = Dust(640, 400, 80);
  return m.in[size_t(y) * m.width + x] != 0;
}
bool InDust400(int32_t x, int32_t y) {
  static const Marks m = Dust(2000, 1500, 400);
  return m.in[size_t(y) * m.width + x] != 0;
}
bool InScratches(int32_t x, int32_t y) {
  static const Marks m = Scratches(2000, 1500, 12);
  return m.in[size_t(y) * m.width + x] != 0;
}
bool InBlob(int32_t x, int32_t y) {
  const int32_t dx = x - 1000, dy = y - 750;
  return dx * dx + dy * dy <= 400 * 400;
}

const FillCase kDust80 = {"dust80", 640, 400, InDust80, false};
const FillCase kDust400 = {"dust400", 2000, 1500, InDust400, false};
const FillCase kScratches = {"scratches", 2000, 1500, InScratches, false};
const FillCase kBlob = {"blob", 2000, 1500, InBlob, false};

// ---- The host: progress timestamps and a cancel at a chosen progress figure ----

struct HostClock {
  std::vector<std::pair<int32_t, Clock::time_point>> marks;  // (figure, time) per progress call
  int32_t cancelAtFigure = -1;                               // abort when this figure is reported
  int32_t lastFigure = -1;
};
HostClock gClock;

void ClockProgress(int32_t done, int32_t total) {  // DoProgress sends T + 4d of 6T
  gClock.lastFigure = (done - total / 6) / 4;
  gClock.marks.push_back({gClock.lastFigure, Clock::now()});
}
Boolean ClockAbort() { return gClock.lastFigure == gClock.cancelAtFigure; }

struct Scene {
  const FillCase* c;
  int bits;
  NamedImage* image = nullptr;
  NamedImage* selection = nullptr;  // the case's selection, or null
  NamedImage* nothing = nullptr;    // a selection that selects nothing
  std::vector<uint8_t> pristine;
  int32_t rowBytes = 0;
  int64_t filled = 0;        // pixels the fill pass computes
  int32_t firstFillRow = 1;  // first row of the fill pass with a pixel to fill
  int32_t rowsToFill = 0;
};

void MakeScene(Scene* s, const FillCase* c, int bits) {
  s->c = c;
  s->bits = bits;
  const int bytes = bits / 8, w = c->width, h = c->height;
  s->rowBytes = w * 3 * bytes;
  s->pristine.resize(size_t(s->rowBytes) * h);
  MakeImage(int16_t(w), int16_t(h), int16_t(3 * bytes), &s->image);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = &s->pristine[size_t(y) * s->rowBytes];
    for (int x = 0; x < w; ++x) {
      const int rgb[3] = {x * 255 / w, y * 255 / h, (x ^ y) & 255};
      for (int k = 0; k < 3; ++k) {
        if (bytes == 1)
          row[3 * x + k] = uint8_t(rgb[k]);
        else
          reinterpret_cast<uint16_t*>(row)[3 * x + k] = uint16_t(rgb[k] * 128);
      }
    }
  }
  std::vector<uint8_t> mask(size_t(w), 0);
  MakeSelectionImage(int16_t(w), int16_t(h), 1, &s->nothing);
  for (int y = 0; y < h; ++y) PutLine(s->nothing, 0, y, w, mask.data());
  if (c->selected) MakeSelectionImage(int16_t(w), int16_t(h), 1, &s->selection);
  s->firstFillRow = -1;
  for (int y = 0; y < h; ++y) {
    int32_t inRow = 0;
    for (int x = 0; x < w; ++x) {
      const bool in = !c->selected || c->selected(x, y);
      mask[size_t(x)] = in ? 255 : 0;
      inRow += in;
    }
    if (s->selection) PutLine(s->selection, 0, y, w, mask.data());
    if (y == 0 || y == h - 1 || inRow == 0) continue;
    s->filled += inRow;
    ++s->rowsToFill;
    if (s->firstFillRow < 0) s->firstFillRow = y;
  }
}

void TossScene(Scene* s) {
  TossImage(s->image);
  if (s->selection) TossSelectionImage(s->selection);
  TossSelectionImage(s->nothing);
}

struct Stages {
  double edges, fill, smooth, total;  // seconds
  double cpu;                         // seconds of CPU, all of the process's threads
};

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Runs one engine on the pristine image and times its stages from the progress marks.
// fillRows > 0 cancels the fill pass after that many rows (the smooth stage is then 0).
Stages RunTimed(Scene* s, NamedImage* selection, int engine, int32_t threads, int32_t fillRows) {
  const int32_t h = s->c->height;
  for (int y = 0; y < h; ++y)
    PutLine(s->image, 0, y, s->rowBytes, &s->pristine[size_t(y) * s->rowBytes]);
  static FilterRecord host;
  host = FilterRecord{};
  host.progressProc = ClockProgress;
  host.abortProc = ClockAbort;
  RunRecord record = {};
  record.width = int16_t(s->c->width);
  record.height = int16_t(h);
  record.planes = 3;
  record.host = &host;
  record.selection = selection;
  const int32_t shift = selection ? h : 0;
  const int32_t fillFigure = h + shift;  // progress figure of fill row y is y + fillFigure
  gClock = HostClock{};
  if (fillRows > 0) gClock.cancelAtFigure = s->firstFillRow + fillRows + fillFigure;
  const double cpuStart = ProcessSeconds();
  const Clock::time_point start = Clock::now();
  if (engine == 0)
    s->bits == 8 ? _MembraneFillReference8(s->image, &record)
                 : _MembraneFillReference16(s->image, &record);
  else
    s->bits == 8 ? _MembraneFillFast8(s->image, &record, threads)
                 : _MembraneFillFast16(s->image, &record, threads);
  const Clock::time_point end = Clock::now();
  const double cpu = ProcessSeconds() - cpuStart;
  Clock::time_point fillStart = end, smoothStart = end;
  for (const auto& [figure, time] : gClock.marks) {
    if (figure >= s->firstFillRow + fillFigure && fillStart == end) fillStart = time;
    if (figure >= 2 * h + shift && smoothStart == end) smoothStart = time;
  }
  auto seconds = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
  };
  return {seconds(start, fillStart), seconds(fillStart, smoothStart), seconds(smoothStart, end),
          seconds(start, end), cpu};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void BenchEngines(benchmark::State& state, const FillCase* c, int bits) {
  BenchPrefsFolder prefs;
  Scene scene;
  MakeScene(&scene, c, bits);
  const int32_t threads = FillThreadsWanted();
  std::vector<double> refTotal, refFill, refSmooth, fastTotal, fastFill, fastSmooth, fastEdges,
      multiTotal, multiFill, multiSmooth, fastCpu, multiCpu, cpuRatio;
  for (auto _ : state) {
    const Stages fast = RunTimed(&scene, scene.selection, 1, 1, 0);
    const Stages multi = RunTimed(&scene, scene.selection, 1, threads, 0);
    Stages ref;
    if (c->extrapolateReference) {
      const Stages part = RunTimed(&scene, scene.selection, 0, 1, kReferenceRows);
      const Stages smooth = RunTimed(&scene, scene.nothing, 0, 1, 0);
      const double perRow = part.fill / kReferenceRows;  // every fill row has width pixels
      ref = {part.edges, perRow * scene.rowsToFill, smooth.smooth, 0.0, 0.0};
      ref.total = ref.edges + ref.fill + ref.smooth;
    } else {
      ref = RunTimed(&scene, scene.selection, 0, 1, 0);
    }
    state.SetIterationTime(fast.total);
    refTotal.push_back(ref.total);
    refFill.push_back(ref.fill);
    refSmooth.push_back(ref.smooth);
    fastTotal.push_back(fast.total);
    fastFill.push_back(fast.fill);
    fastSmooth.push_back(fast.smooth);
    fastEdges.push_back(fast.edges);
    multiTotal.push_back(multi.total);
    multiFill.push_back(multi.fill);
    multiSmooth.push_back(multi.smooth);
    fastCpu.push_back(fast.cpu);
    multiCpu.push_back(multi.cpu);
  }
  auto ms = [](const std::vector<double>& v) { return Median(v) * 1e3; };
  std::vector<double> ratio, fillRatio, scaling;
  for (size_t i = 0; i < refTotal.size(); ++i) {
    cpuRatio.push_back(multiCpu[i] / fastCpu[i]);
    ratio.push_back(refTotal[i] / fastTotal[i]);
    fillRatio.push_back(refFill[i] / fastFill[i]);
    scaling.push_back(fastTotal[i] / multiTotal[i]);
  }
  state.counters["ref_ms"] = ms(refTotal);
  state.counters["fast_ms"] = ms(fastTotal);
  state.counters["speedup"] = Median(ratio);
  state.counters["ref_fill_ns_px"] = Median(refFill) * 1e9 / double(scene.filled);
  state.counters["fast_fill_ns_px"] = Median(fastFill) * 1e9 / double(scene.filled);
  state.counters["fill_speedup"] = Median(fillRatio);
  state.counters["ref_smooth_ms"] = ms(refSmooth);
  state.counters["fast_edges_ms"] = ms(fastEdges);
  state.counters["fast_fill_ms"] = ms(fastFill);
  state.counters["fast_smooth_ms"] = ms(fastSmooth);
  state.counters["threads"] = threads;
  state.counters["mt_ms"] = ms(multiTotal);
  state.counters["mt_fill_ms"] = ms(multiFill);
  state.counters["mt_smooth_ms"] = ms(multiSmooth);
  state.counters["mt_scaling"] = Median(scaling);
  state.counters["mt_cpu_ratio"] = Median(cpuRatio);  // CPU on every thread over one thread's
  state.counters["ref_extrapolated"] = c->extrapolateReference ? 1 : 0;
  TossScene(&scene);
}

// The fast engine alone, for profiling: case 0 whole image, 1 disc, 2 square, 3 and 4 dust, 5
// scratches, 6 blob; bits; threads.
void BenchFastEngine(benchmark::State& state) {
  const FillCase* cases[] = {&kWholeImage, &kDiscHole,  &kSquareHole, &kDust80,
                             &kDust400,    &kScratches, &kBlob};
  BenchPrefsFolder prefs;
  Scene scene;
  MakeScene(&scene, cases[state.range(0)], int(state.range(1)));
  for (auto _ : state) {
    const Stages fast = RunTimed(&scene, scene.selection, 1, int32_t(state.range(2)), 0);
    state.SetIterationTime(fast.total);
  }
  TossScene(&scene);
}
// ---- More processors than this machine has ----
//
// Each task that the fill hands its threads is timed on its thread's processor clock; a fill on
// N threads here (whatever the cores) then says how long it would take with N free processors:
// the calling thread's own work (its processor time less the tasks it ran), plus, for every
// batch of tasks, how long its lanes take over them claiming them in order as the threads do
// (each task to the lane free first): N lanes, or the fewer that the fill let the batch take.
// The threads are as many as the host asks for, and the fill takes the lanes it judges worth
// having, as it would there. Left out: waking the threads (a few tens of microseconds a batch;
// `batches` counts those spread over several lanes) and memory shared by more processors.

// A batch's tasks and the lanes the fill let it spread over.
struct Batch {
  std::vector<FillTaskTime> tasks;
  int32_t lanes;
};
std::vector<Batch> gBatches;

void RecordBatch(const FillTaskTime* times, int32_t tasks, int32_t lanes) {
  gBatches.push_back({{times, times + tasks}, lanes});
}

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// How long `lanes` lanes take over one batch, each claiming the next task when it is free.
double BatchSpan(const std::vector<FillTaskTime>& batch, int32_t lanes) {
  std::vector<double> freeAt(size_t(lanes), 0.0);
  for (const FillTaskTime& t : batch) *std::min_element(freeAt.begin(), freeAt.end()) += t.seconds;
  return *std::max_element(freeAt.begin(), freeAt.end());
}

struct Modelled {
  double seconds;  // the fill with `threads` free processors
  int32_t batches;
};

// One fill on `threads` threads as the host asks for them, timed as above.
Modelled RunModelled(Scene* s, const BenchPrefsFolder& prefs, int32_t threads) {
  AreaFillHostServices services = {AREAFILL_HOST_SERVICES_VERSION,
                                   prefs.path.c_str(),
                                   kAreaFillDialogHeadless,
                                   nullptr,
                                   -1,
                                   threads,
                                   kAreaFillMembraneFast,
                                   nullptr,
                                   nullptr};
  PlatformSetHostServices(&services);
  gBatches.clear();
  _SetFillTaskTimer(RecordBatch);
  const double start = ThreadSeconds();
  RunTimed(s, s->selection, 1, 0, 0);  // 0: the lanes the fill judges worth having
  double own = ThreadSeconds() - start;
  _SetFillTaskTimer(nullptr);
  services.threads = 0;
  PlatformSetHostServices(&services);
  Modelled m = {0.0, 0};
  for (const Batch& batch : gBatches) {
    for (const FillTaskTime& t : batch.tasks)
      if (t.lane == 0) own -= t.seconds;
    // A batch that the fill kept to fewer lanes than the processors takes no more of them.
    m.seconds += BatchSpan(batch.tasks, std::min(threads, batch.lanes));
    m.batches += batch.tasks.size() > 1 && batch.lanes > 1;
  }
  m.seconds += own;
  return m;
}

// Every case at 8 bits: one thread's time beside the modelled times on 2, 4 and 8 free
// processors (medians), and the ratio for 8.
void BenchMoreCores(benchmark::State& state) {
  const FillCase* cases[] = {&kWholeImage, &kDiscHole,  &kSquareHole, &kDust80,
                             &kDust400,    &kScratches, &kBlob};
  BenchPrefsFolder prefs;
  Scene scene;
  MakeScene(&scene, cases[state.range(0)], 8);
  std::vector<double> one, two, four, eight;
  int32_t batches = 0;
  for (auto _ : state) {
    one.push_back(RunModelled(&scene, prefs, 1).seconds);
    two.push_back(RunModelled(&scene, prefs, 2).seconds);
    four.push_back(RunModelled(&scene, prefs, 4).seconds);
    const Modelled m = RunModelled(&scene, prefs, 8);
    eight.push_back(m.seconds);
    batches = m.batches;
    state.SetIterationTime(one.back());
  }
  state.counters["one_ms"] = Median(one) * 1e3;
  state.counters["cores2_ms"] = Median(two) * 1e3;
  state.counters["cores4_ms"] = Median(four) * 1e3;
  state.counters["cores8_ms"] = Median(eight) * 1e3;
  state.counters["speedup8"] = Median(one) / Median(eight);
  state.counters["batches8"] = batches;
  TossScene(&scene);
}
BENCHMARK(BenchMoreCores)
    ->ArgName("case")
    ->DenseRange(0, 6)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

// Every case at both depths, on one thread and on the threads a fill takes by default.
void FastEngineArgs(benchmark::internal::Benchmark* b) {
  const int32_t threads = FillThreadsWanted();
  for (int64_t c : {0, 1, 2, 3, 4, 5, 6})
    for (int64_t bits : {8, 16}) {
      b->Args({c, bits, 1});
      if (threads > 1) b->Args({c, bits, threads});
    }
}
BENCHMARK(BenchFastEngine)
    ->ArgNames({"case", "bits", "threads"})
    ->Apply(FastEngineArgs)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

#define AREAFILL_BENCH_CASE(name, c, bits, reps) \
  BENCHMARK_CAPTURE(BenchEngines, name, c, bits) \
      ->Unit(benchmark::kMillisecond)            \
      ->UseManualTime()                          \
      ->Iterations(reps)
AREAFILL_BENCH_CASE(WholeImage2000x1500_8bit, &kWholeImage, 8, 3);
AREAFILL_BENCH_CASE(WholeImage2000x1500_16bit, &kWholeImage, 16, 3);
AREAFILL_BENCH_CASE(DiscR100In1024x768_8bit, &kDiscHole, 8, 5);
AREAFILL_BENCH_CASE(DiscR100In1024x768_16bit, &kDiscHole, 16, 5);
AREAFILL_BENCH_CASE(Square300In4000x3000_8bit, &kSquareHole, 8, 3);
AREAFILL_BENCH_CASE(Square300In4000x3000_16bit, &kSquareHole, 16, 3);
AREAFILL_BENCH_CASE(Dust80In640x400_8bit, &kDust80, 8, 5);
AREAFILL_BENCH_CASE(Dust80In640x400_16bit, &kDust80, 16, 5);
AREAFILL_BENCH_CASE(Dust400In2000x1500_8bit, &kDust400, 8, 3);
AREAFILL_BENCH_CASE(Scratches12In2000x1500_8bit, &kScratches, 8, 3);
AREAFILL_BENCH_CASE(BlobR400In2000x1500_8bit, &kBlob, 8, 3);
#undef AREAFILL_BENCH_CASE

}  // namespace
