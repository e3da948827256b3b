// Several frames of a sequence rendered at once, handed on in frame order.
//
// A tool object renders one request at a time, so each frame in flight has
// a worker of its own (worker 0 to inFlight - 1), and each worker renders
// its frames one after another. Frames are started in order; their results
// are handed on, on the calling thread, in frame order, whatever order they
// finish in. When a frame fails, no further frame is started: the frames
// before it are handed on, then its error is thrown on the calling thread.
// Frames after it that were already in flight are finished, and dropped.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// render(worker, frame) returns the frame's result; announce(frame) runs
// just before that frame is handed on or its error thrown; deliver(frame,
// result) takes the result. With one frame in flight everything runs on
// the calling thread.
template <typename Render, typename Announce, typename Deliver>
void RenderFramesInOrder(int first, int last, int inFlight, Render render, Announce announce,
                         Deliver deliver) {
  using Result = std::invoke_result_t<Render&, int, int>;
  if (last < first) return;
  // 64 bits: a range may end at the largest int.
  const int64_t count = int64_t(last) - first + 1;
  inFlight = int(std::clamp<int64_t>(inFlight, 1, count));
  if (inFlight == 1) {
    for (int64_t frame = first; frame <= last; ++frame) {
      announce(int(frame));
      deliver(int(frame), render(0, int(frame)));
    }
    return;
  }

  struct Slot {
    std::optional<Result> result;
    std::exception_ptr error;
  };
  // Finished frames wait here for their turn. A worker starts no frame more
  // than `ahead` frames past the next one to hand on, so that a slow frame
  // does not let the others pile up.
  std::map<int64_t, Slot> finishedSlots;
  const int64_t ahead = 4 * int64_t(inFlight);
  std::mutex lock;
  std::condition_variable changed;
  int64_t next = first;    // the next frame to start
  int64_t handOn = first;  // the next frame to hand on
  bool stop = false;

  auto work = [&](int worker) {
    for (;;) {
      int64_t frame;
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return stop || next > last || next < handOn + ahead; });
        if (stop || next > last) return;
        frame = next++;
      }
      Slot slot;
      try {
        slot.result.emplace(render(worker, int(frame)));
      } catch (...) {
        slot.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> hold(lock);
        if (slot.error) stop = true;
        finishedSlots.emplace(frame, std::move(slot));
      }
      changed.notify_all();
    }
  };

  // However the calling thread leaves (a failed frame, a failed delivery),
  // no new frame starts and the frames in flight end before it returns.
  std::vector<std::thread> workers;
  struct Joiner {
    std::vector<std::thread>& workers;
    std::mutex& lock;
    std::condition_variable& changed;
    bool& stop;
    ~Joiner() {
      {
        std::lock_guard<std::mutex> hold(lock);
        stop = true;
      }
      changed.notify_all();
      for (std::thread& worker : workers) worker.join();
    }
  } joiner{workers, lock, changed, stop};
  for (int worker = 0; worker < inFlight; ++worker) workers.emplace_back(work, worker);

  for (int64_t frame = first; frame <= last; ++frame) {
    Slot slot;
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return finishedSlots.count(frame) != 0; });
      auto found = finishedSlots.find(frame);
      slot = std::move(found->second);
      finishedSlots.erase(found);
      handOn = frame + 1;
    }
    changed.notify_all();
    announce(int(frame));
    if (slot.error) std::rethrow_exception(slot.error);
    deliver(int(frame), std::move(*slot.result));
  }
}
