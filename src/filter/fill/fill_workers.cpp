// The fill's worker threads: a generation counter wakes them for each batch of tasks, tasks are
// claimed one at a time from a shared counter, and the caller waits until none is running.
#include "filter/fill/fill_workers.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/host_settings.h"
#include "platform/memory.h"

struct FillWorkers {
  std::mutex lock;
  std::condition_variable wake;  // a new batch, or the end
  std::condition_variable done;  // the last task of a batch ended
  uint64_t generation;           // batches handed out so far
  bool stopping;
  FillTask task;
  void* context;
  int32_t tasks;
  std::atomic<int32_t> next;  // next task index to claim
  int32_t busy;               // lanes still working on the batch, the caller's included
  int32_t threadCount;        // started threads, not counting the caller
  int32_t lanes;              // lanes that claim tasks, the caller's included (SetFillLanes)
  int32_t batchLanes;         // the lanes of the batch being run
  std::thread threads[kMaxFillThreads];
};

namespace {

// Claims and runs tasks of the current batch on `lane` until none is left.
void _RunClaimed(FillWorkers* w, int32_t lane) {
  for (;;) {
    const int32_t i = w->next.fetch_add(1, std::memory_order_relaxed);
    if (i >= w->tasks) return;
    w->task(w->context, i, lane);
  }
}

void _Finish(FillWorkers* w) {
  std::lock_guard<std::mutex> guard(w->lock);
  if (--w->busy == 0) w->done.notify_one();
}

void _WorkerLoop(FillWorkers* w, int32_t lane) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(w->lock);
      // A batch for fewer lanes than the set has: the others go back to waiting, taking no part.
      w->wake.wait(guard,
                   [&] { return w->stopping || (w->generation != seen && lane < w->batchLanes); });
      if (w->stopping) return;
      seen = w->generation;
    }
    _RunClaimed(w, lane);
    _Finish(w);
  }
}

FillTaskTimer gTaskTimer = nullptr;

double _ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// A batch's task with its time taken, for the timer.
struct _Timed {
  FillTask task;
  void* context;
  FillTaskTime* times;
};

void _RunTimed(void* context, int32_t index, int32_t lane) {
  const auto* timed = static_cast<const _Timed*>(context);
  const double start = _ThreadSeconds();
  timed->task(timed->context, index, lane);
  timed->times[index] = {_ThreadSeconds() - start, lane};
}

}  // namespace

void _SetFillTaskTimer(FillTaskTimer timer) { gTaskTimer = timer; }

int32_t FillThreadsWanted() { return PlatformFillThreads(kMaxFillThreads); }

OSErr StartFillWorkers(int32_t threads, FillWorkers** out) {
  *out = nullptr;
  Ptr block = NewPtrClear(Size(sizeof(FillWorkers)));
  if (block == nullptr) return memFullErr;
  FillWorkers* w = new (block) FillWorkers();
  if (threads > kMaxFillThreads) threads = kMaxFillThreads;
  // The thread library reports a thread it cannot start by throwing; the fill then runs on the
  // threads it has.
  for (int32_t i = 0; i + 1 < threads; ++i) {
    try {
      w->threads[i] = std::thread(_WorkerLoop, w, i + 1);
    } catch (const std::system_error&) {
      break;
    }
    ++w->threadCount;
  }
  w->lanes = w->threadCount + 1;
  *out = w;
  return noErr;
}

int32_t FillWorkerCount(const FillWorkers* workers) { return workers->threadCount + 1; }

void SetFillLanes(FillWorkers* workers, int32_t lanes) {
  workers->lanes = std::clamp(lanes, 1, workers->threadCount + 1);
}

namespace {

void _RunBatch(FillWorkers* w, int32_t tasks, FillTask task, void* context) {
  if (w->lanes <= 1 || tasks <= 1) {
    for (int32_t i = 0; i < tasks; ++i) task(context, i, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(w->lock);
    w->task = task;
    w->context = context;
    w->tasks = tasks;
    w->next.store(0, std::memory_order_relaxed);
    w->busy = w->lanes;
    w->batchLanes = w->lanes;
    ++w->generation;
  }
  w->wake.notify_all();
  _RunClaimed(w, 0);
  std::unique_lock<std::mutex> guard(w->lock);
  if (--w->busy > 0) w->done.wait(guard, [&] { return w->busy == 0; });
}

}  // namespace

void RunFillTasks(FillWorkers* w, int32_t tasks, FillTask task, void* context) {
  const FillTaskTimer timer = gTaskTimer;
  if (timer != nullptr && tasks > 0) {
    _Timed timed = {task, context,
                    reinterpret_cast<FillTaskTime*>(NewPtr(Size(tasks) * sizeof(FillTaskTime)))};
    if (timed.times != nullptr) {
      const int32_t lanes = w->lanes;  // the lanes the batch may take (SetFillLanes)
      _RunBatch(w, tasks, _RunTimed, &timed);
      timer(timed.times, tasks, lanes);
      DisposePtr(reinterpret_cast<Ptr>(timed.times));
      return;
    }
  }
  _RunBatch(w, tasks, task, context);
}

void StopFillWorkers(FillWorkers* w) {
  if (w == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(w->lock);
    w->stopping = true;
  }
  w->wake.notify_all();
  for (int32_t i = 0; i < w->threadCount; ++i) w->threads[i].join();
  w->~FillWorkers();
  DisposePtr(reinterpret_cast<Ptr>(w));
}
