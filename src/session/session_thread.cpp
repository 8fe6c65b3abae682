#include <utility>

#include "session/session_thread.h"

namespace loopmon {

TRSSessionThread::TRSSessionThread(std::function<void()> cycle) : cycle_(std::move(cycle)) {}

TRSSessionThread::~TRSSessionThread() {
  {
    std::lock_guard lock(mutex_);
    active_ = false;
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TRSSessionThread::Created() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable();
}

void TRSSessionThread::Resume() {
  std::lock_guard lock(mutex_);
  active_ = true;
  if (!thread_.joinable()) {
    // The new thread takes the lock before anything else, so it sees
    // workerId_ and thread_ complete.
    thread_ = std::thread([this] { Execute(); });
    workerId_ = thread_.get_id();
  }
  changed_.notify_all();
}

void TRSSessionThread::Suspend() {
  std::unique_lock lock(mutex_);
  active_ = false;
  changed_.notify_all();
  if (std::this_thread::get_id() == workerId_) return;
  changed_.wait(lock, [this] { return !onBus_; });
}

bool TRSSessionThread::Active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

bool TRSSessionThread::IsWorkerThread() const {
  std::lock_guard lock(mutex_);
  return std::this_thread::get_id() == workerId_;
}

bool TRSSessionThread::HandOver(const std::function<void()>& deliver) {
  {
    std::lock_guard lock(mutex_);
    onBus_ = false;
  }
  changed_.notify_all();
  deliver();
  std::lock_guard lock(mutex_);
  if (!active_) return false;
  onBus_ = true;
  return true;
}

void TRSSessionThread::Execute() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return active_ || ending_; });
    if (ending_) return;
    onBus_ = true;
    lock.unlock();
    cycle_();
    lock.lock();
    onBus_ = false;
    changed_.notify_all();
  }
}

}  // namespace loopmon
