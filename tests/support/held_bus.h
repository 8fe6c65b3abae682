#pragma once
// A bus that holds every exchange until the test ends it, with an outcome of
// its choosing: for what happens while an exchange is still on the bus.

#include <exception>
#include <vector>

#include "session/bus_runner.h"
#include "session/session.h"

namespace loopmon::testing {

struct HeldBus : BusRunner {
  void run(Exchange exchange, Done done) override {
    held.push_back({std::move(exchange), std::move(done)});
  }
  // Runs the oldest held exchange on `session` and its follow-up.
  void release(TRSSession& session) {
    Job job = std::move(held.front());
    held.erase(held.begin());
    std::exception_ptr error;
    try {
      job.exchange(session);
    } catch (...) {
      error = std::current_exception();
    }
    job.done(error);
  }

  struct Job {
    Exchange exchange;
    Done done;
  };
  std::vector<Job> held;
};

}  // namespace loopmon::testing
