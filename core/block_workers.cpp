#include "core/block_workers.hpp"

#include <utility>

namespace pelmo {

unsigned JobThreadCount(int requested) {
  if (requested > 0) return static_cast<unsigned>(requested);
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

BlockWorkers::BlockWorkers(unsigned threads, std::size_t places, Work work, Work start)
    : work_(std::move(work)),
      start_(std::move(start)),
      places_(places),
      finished_(places, 0),
      failure_(places) {
  threads_.reserve(threads);
  try {
    for (unsigned w = 0; w < threads; ++w) threads_.emplace_back([this, w] { Run(w); });
  } catch (...) {
    Stop();
    for (std::thread& t : threads_) t.join();
    throw;
  }
}

BlockWorkers::~BlockWorkers() {
  Stop();
  for (std::thread& t : threads_) t.join();
}

void BlockWorkers::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_.store(true, std::memory_order_relaxed);
  }
  wake_.notify_all();
}

bool BlockWorkers::FreePlace(std::size_t& place) const {
  const std::lock_guard lock(mutex_);
  if (submitted_ - released_ >= places_) return false;
  place = submitted_ % places_;
  return true;
}

void BlockWorkers::Submit() {
  {
    const std::lock_guard lock(mutex_);
    const std::size_t place = submitted_ % places_;
    finished_[place] = 0;
    failure_[place] = nullptr;
    ++submitted_;
  }
  wake_.notify_one();
}

bool BlockWorkers::Empty() const {
  const std::lock_guard lock(mutex_);
  return released_ == submitted_;
}

bool BlockWorkers::WaitOldest(std::chrono::milliseconds timeout, std::size_t& place) {
  std::unique_lock lock(mutex_);
  place = released_ % places_;
  const bool done = done_.wait_for(
      lock, timeout, [&] { return released_ < submitted_ && finished_[place] != 0; });
  if (done && failure_[place]) std::rethrow_exception(failure_[place]);
  return done;
}

void BlockWorkers::Release() {
  const std::lock_guard lock(mutex_);
  ++released_;
}

void BlockWorkers::Run(unsigned worker) {
  for (;;) {
    std::size_t place = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return Stopping() || started_ < submitted_; });
      if (Stopping()) return;
      place = started_++ % places_;
      if (start_) start_(worker, place);
    }
    std::exception_ptr failure;
    try {
      work_(worker, place);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      finished_[place] = 1;
      failure_[place] = failure;
    }
    done_.notify_all();
  }
}

}  // namespace pelmo
