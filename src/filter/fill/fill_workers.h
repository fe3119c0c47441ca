// A small set of threads on which the fast membrane fill computes blocks of rows, while the
// calling (host) thread keeps every row read and write, progress report and cancel test. The
// calling thread works on the tasks too, so one worker means no extra thread at all.
#pragma once

#include <cstdint>

#include "platform/mac_types.h"

constexpr int32_t kMaxFillThreads = 64;

struct FillWorkers;

// The task of one index: runs on some thread of the set, which it knows by `lane` (0 for the
// calling thread, 1 .. FillWorkerCount - 1 for the others; one task at a time per lane, so a
// lane's own buffers need no lock). Tasks of one RunFillTasks call run at the same time, so each
// must touch only its own data and its lane's.
typedef void (*FillTask)(void* context, int32_t index, int32_t lane);

// The number of threads a fill should use: the host's choice (1: the calling thread alone), else
// one per processor; at most kMaxFillThreads.
int32_t FillThreadsWanted();

// Starts a set of `threads` workers (the calling thread is one of them; clamped to
// 1 .. kMaxFillThreads). Threads the system will not start are done without, so the set may be
// smaller: see FillWorkerCount. Returns 0 and the set in *out; -108 when its record cannot be
// allocated (*out is then null).
OSErr StartFillWorkers(int32_t threads, FillWorkers** out);

// Threads in the set, the calling one included (1 .. kMaxFillThreads).
int32_t FillWorkerCount(const FillWorkers* workers);

// Runs task(context, i, lane) for i = 0 .. tasks - 1, spread over the set's threads and the calling
// thread, and returns when every one has ended. Everything the tasks wrote is then visible to
// the caller.
void RunFillTasks(FillWorkers* workers, int32_t tasks, FillTask task, void* context);

// Lanes that RunFillTasks spreads tasks over from now on: the calling thread and the first
// lanes - 1 others (clamped to 1 .. FillWorkerCount). A set starts with all of them; one lane runs
// every task on the calling thread without waking the others.
void SetFillLanes(FillWorkers* workers, int32_t lanes);

// Ends the threads and releases the set. Accepts null.
void StopFillWorkers(FillWorkers* workers);

// ---- For benchmarks ----

// How long one task of a RunFillTasks call took on its thread's processor clock, and on which
// lane it ran.
struct FillTaskTime {
  double seconds;
  int32_t lane;
};

// Called at the end of every RunFillTasks call, on the calling thread, with its tasks' times by
// index and the lanes the call could spread them over (SetFillLanes, at most the set's threads):
// from them a benchmark works out how long a fill would take on more free processors than its
// machine has. Null (the default) times nothing. Set it only while no fill runs.
typedef void (*FillTaskTimer)(const FillTaskTime* times, int32_t tasks, int32_t lanes);
void _SetFillTaskTimer(FillTaskTimer timer);
