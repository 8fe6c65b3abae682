#pragma once
// The window thread of a test: the test's own, running what the windows' bus
// thread posts to it.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace loopmon::testing {

class WindowQueue {
 public:
  void post(std::function<void()> call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    posted_.notify_one();
  }
  // Runs the next call posted; false when none comes within a minute.
  bool runOne() {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, std::chrono::seconds(60), [this] { return !calls_.empty(); })) {
      return false;
    }
    std::function<void()> call = std::move(calls_.front());
    calls_.pop_front();
    lock.unlock();
    call();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace loopmon::testing
