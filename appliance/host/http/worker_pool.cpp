#include "appliance/host/http/worker_pool.h"

namespace orva_host {

WorkerPool::WorkerPool(size_t threads, size_t queueLimit) : queueLimit_(queueLimit) {
  threads_.reserve(threads);
  running_ = threads;
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() { stop(); }

bool WorkerPool::tryPost(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || jobs_.size() >= queueLimit_) return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::stop() { stopWithin(std::chrono::milliseconds::max()); }

bool WorkerPool::stopWithin(std::chrono::milliseconds grace) {
  std::deque<std::function<void()>> dropped;
  bool ended = true;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    dropped.swap(jobs_);
    wake_.notify_all();
    if (grace != std::chrono::milliseconds::max()) {
      ended = ended_.wait_for(lock, grace, [this] { return running_ == 0; });
    }
  }
  for (std::thread& thread : threads_) {
    if (!thread.joinable()) continue;
    if (ended) {
      thread.join();
    } else {
      thread.detach();
    }
  }
  // The dropped jobs go here, outside the lock: they may own what other
  // code needs to release.
  return ended;
}

void WorkerPool::work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) {
        --running_;
        ended_.notify_all();
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    try {
      job();
    } catch (...) {
      // A job answers its own failures; nothing may end the worker.
    }
  }
}

}  // namespace orva_host
