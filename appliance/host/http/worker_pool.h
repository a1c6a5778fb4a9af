// A fixed set of threads running jobs from a bounded queue. A job that finds
// the queue full is refused at once rather than left waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orva_host {

class WorkerPool {
 public:
  // threads workers; at most queueLimit jobs wait beside those running.
  WorkerPool(size_t threads, size_t queueLimit);
  // Stops: jobs still waiting are dropped, running ones finish.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues job; false (job dropped) when the queue is full or stopped.
  bool tryPost(std::function<void()> job);

  // Drops waiting jobs, lets running ones finish and joins the threads.
  void stop();
  // The same, waiting at most grace for running jobs; false when one still
  // runs then (its thread is left to the end of the process).
  bool stopWithin(std::chrono::milliseconds grace);

 private:
  void work();

  const size_t queueLimit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  size_t running_ = 0;  // threads not yet returned from work()
  std::condition_variable ended_;
  std::vector<std::thread> threads_;
};

}  // namespace orva_host
