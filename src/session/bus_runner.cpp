#include "session/bus_runner.h"

#include <utility>

namespace loopmon {

void InlineBus::run(Exchange exchange, Done done) {
  std::exception_ptr error;
  try {
    exchange(session_);
  } catch (...) {
    error = std::current_exception();
  }
  done(error);
}

BusThread::BusThread(TRSSession& session, Post post)
    : session_(session), post_(std::move(post)), thread_([this] { loop(); }) {}

BusThread::~BusThread() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void BusThread::run(Exchange exchange, Done done) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back({std::move(exchange), std::move(done)});
  }
  wake_.notify_all();
}

void BusThread::loop() {
  while (true) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
      if (ending_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    std::exception_ptr error;
    try {
      job.exchange(session_);
    } catch (...) {
      error = std::current_exception();
    }
    // Posted under the lock: a window being destroyed no longer takes follow-ups.
    std::lock_guard lock(mutex_);
    if (ending_) return;
    post_([done = std::move(job.done), error] { done(error); });
  }
}

}  // namespace loopmon
