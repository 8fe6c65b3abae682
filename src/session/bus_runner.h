#pragma once
// Where the windows' bus exchanges run. A window hands each exchange to a
// BusRunner together with what to do once it has ended; the exchange reaches
// the session, the follow-up shows its result on the window's own thread.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace loopmon {

class TRSSession;

class BusRunner {
 public:
  // Runs on the bus with the session; may throw (a simulator that cannot be
  // reached, a bad line setting).
  using Exchange = std::function<void(TRSSession& session)>;
  // Runs on the window's thread after the exchange, with its error or null.
  using Done = std::function<void(std::exception_ptr error)>;

  virtual ~BusRunner() = default;
  // Exchanges run one at a time in the order they were handed over.
  virtual void run(Exchange exchange, Done done) = 0;
};

// Runs both parts at once on the calling thread: for hosts without a window
// thread to keep alive (loopctl, model tests).
class InlineBus : public BusRunner {
 public:
  explicit InlineBus(TRSSession& session) : session_(session) {}
  void run(Exchange exchange, Done done) override;

 private:
  TRSSession& session_;
};

// One thread of the windows' own that makes every exchange, so the window
// thread keeps painting and taking input meanwhile. Each follow-up goes back
// through `post`, which must queue the call for the window thread and return.
class BusThread : public BusRunner {
 public:
  using Post = std::function<void(std::function<void()> call)>;
  BusThread(TRSSession& session, Post post);
  // Lets the exchange on the bus end, drops the ones not begun and joins;
  // their follow-ups are not posted.
  ~BusThread() override;
  BusThread(const BusThread&) = delete;
  BusThread& operator=(const BusThread&) = delete;

  void run(Exchange exchange, Done done) override;

 private:
  struct Job {
    Exchange exchange;
    Done done;
  };
  void loop();

  TRSSession& session_;
  Post post_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace loopmon
