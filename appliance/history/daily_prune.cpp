#include "appliance/history/daily_prune.h"

#include <chrono>

#include "appliance/history/history_prune.h"

namespace orva_history {

DailyPrune::DailyPrune() : thread_([this] { run(); }) {}

DailyPrune::~DailyPrune() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void DailyPrune::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    try {
      pruneAll();
    } catch (...) {
      // Out of memory or the like: tried again tomorrow.
    }
    lock.lock();
    wake_.wait_for(lock, std::chrono::hours(24), [this] { return stop_; });
  }
}

}  // namespace orva_history
