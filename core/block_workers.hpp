// Worker threads for the blocks of a job. The calling thread fills numbered
// places with blocks and hands them out; the workers process them in any
// order; the calling thread takes the results back in the order it handed
// them out, waiting in short steps so that it keeps its own event pass
// going. The number of places bounds the memory of a job.
//
// Everything a worker needs besides its block is its own (a session, a
// grid handle); the places are the only thing the threads share, and a
// place belongs either to the calling thread or to one worker at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pelmo {

/// How many threads a job uses: `requested`, or one per core when it is 0
/// or less.
unsigned JobThreadCount(int requested);

class BlockWorkers {
 public:
  using Work = std::function<void(unsigned worker, std::size_t place)>;

  /// Starts `threads` workers; `work(worker, place)` processes the block in
  /// `place` (0 to places - 1) on worker `worker` (0 to threads - 1). What
  /// `work` throws is thrown again by WaitOldest() on the calling thread.
  /// `start(worker, place)`, when given, runs as the worker takes the block,
  /// while no other block is taken: blocks start in the order they were
  /// handed out, so what `start` reads changes only from one block on.
  BlockWorkers(unsigned threads, std::size_t places, Work work, Work start = {});
  /// Stops the workers and waits for them.
  ~BlockWorkers();
  BlockWorkers(const BlockWorkers&) = delete;
  BlockWorkers& operator=(const BlockWorkers&) = delete;

  /// The place for the next block, or false while every place holds a
  /// block that has not been taken back.
  bool FreePlace(std::size_t& place) const;
  /// Hands the block filled in FreePlace()'s place to the workers.
  void Submit();
  /// True when every block handed out has been taken back.
  bool Empty() const;
  /// Waits at most `timeout` for the oldest block handed out; true, with
  /// its place, once it is done. The place stays the caller's until
  /// Release().
  bool WaitOldest(std::chrono::milliseconds timeout, std::size_t& place);
  /// Takes the oldest block back: its place is free again.
  void Release();

  /// No block starts any more; a running one may ask Stopping() and give
  /// up. Called by the destructor.
  void Stop();
  bool Stopping() const noexcept { return stop_.load(std::memory_order_relaxed); }

 private:
  void Run(unsigned worker);

  Work work_, start_;
  std::size_t places_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<char> finished_;
  std::vector<std::exception_ptr> failure_;
  // Blocks handed out, started by a worker, and taken back, counted from
  // the first; block n lives in place n % places_.
  std::size_t submitted_ = 0, started_ = 0, released_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace pelmo
