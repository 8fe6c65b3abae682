#pragma once
// The session's worker thread, internal to the session.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace loopmon {

// The worker's thread. It is started by the first switch-on and then parks
// between switch-ons; a switch-off returns only once the worker is off the
// bus, which a polled flag could not promise.
class TRSSessionThread {
 public:
  // `cycle` is one pass of the worker; it runs repeatedly while switched on.
  explicit TRSSessionThread(std::function<void()> cycle);
  // Switches off and joins the thread.
  ~TRSSessionThread();
  TRSSessionThread(const TRSSessionThread&) = delete;
  TRSSessionThread& operator=(const TRSSessionThread&) = delete;

  // False until the first switch-on created the thread.
  bool Created() const;
  void Resume();
  // Returns once no cycle is on the bus. Called from the worker's own thread
  // (a handler run there) it only switches off.
  void Suspend();
  // True while switched on; a cycle checks it before each step.
  bool Active() const;
  bool IsWorkerThread() const;
  // Runs `deliver` (a synchronous hand-over to the owner) with the worker
  // counted off the bus, so a handler may switch the worker off without
  // waiting for it. False when the worker was switched off meanwhile: the
  // cycle must then end without touching the bus.
  bool HandOver(const std::function<void()>& deliver);

 private:
  void Execute();

  std::function<void()> cycle_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool active_ = false;
  bool onBus_ = false;
  bool ending_ = false;
  std::thread::id workerId_;
  std::thread thread_;
};

}  // namespace loopmon
