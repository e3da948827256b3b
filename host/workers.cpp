// The workers of the row-threaded tools: the chunks of a render handed to
// oneTBB's threads, and back.
//
// oneTBB's library is not built with ThreadSanitizer, so the hand-over of a
// render's chunks to the workers, and back, happens where the sanitizer
// cannot see it. Under ThreadSanitizer the hand-over is told to it here:
// what the caller wrote before DoMultiProcess comes before every chunk, and
// every chunk comes before DoMultiProcess returns. Chunks stay unordered
// among themselves, so two chunks touching the same memory are still
// reported. What oneTBB itself copies between its threads (the range and
// the body below, split and stolen) stays invisible; scripts/tsan.supp
// leaves out the reports whose racing access is in this file, which holds
// nothing but the hand-over.
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <atomic>

#include "host/operator.h"

#if defined(__SANITIZE_THREAD__)
#define VX_THREAD_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VX_THREAD_CHECKED 1
#endif
#endif
#ifdef VX_THREAD_CHECKED
#include <sanitizer/tsan_interface.h>
#define VX_HAND_OVER(token) __tsan_release(token)
#define VX_TAKE_OVER(token) __tsan_acquire(token)
#else
#define VX_HAND_OVER(token) static_cast<void>(token)
#define VX_TAKE_OVER(token) static_cast<void>(token)
#endif

namespace {
std::atomic<int> workerLimit{0};
}

void SetWorkerThreadLimit(int threads) { workerLimit = threads < 0 ? 0 : threads; }

int WorkerThreadLimit() { return workerLimit; }

void ThreadedOperator::DoMultiProcess(Request* req, int count) {
  if (count <= 0) return;
  const int limit = workerLimit.load();
  if (limit == 1) {
    for (int i = 0; i < count; ++i) ProcessChunk(req, i);
    return;
  }
  char started = 0, finished = 0;  // tokens of the hand-over, for the thread checker
  VX_HAND_OVER(&started);
  tbb::task_arena arena(limit > 0 ? limit : tbb::task_arena::automatic);
  arena.execute([&] {
    tbb::parallel_for(tbb::blocked_range<int>(0, count), [&](const tbb::blocked_range<int>& rows) {
      VX_TAKE_OVER(&started);
      for (int i = rows.begin(); i != rows.end(); ++i) ProcessChunk(req, i);
      VX_HAND_OVER(&finished);
    });
  });
  VX_TAKE_OVER(&finished);
}
