// The daily task of the histories: while it lives, every history is pruned
// (see pruneAll) once at start and then once a day.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace orva_history {

class DailyPrune {
 public:
  DailyPrune();
  // Stops the task, waiting for a prune under way to end.
  ~DailyPrune();
  DailyPrune(const DailyPrune&) = delete;
  DailyPrune& operator=(const DailyPrune&) = delete;

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace orva_history
