#pragma once
// Runs the session's message handler on the GUI thread: a blocking queued call
// from the worker, a plain call when already on the GUI thread (a queued call
// to one's own thread would wait for itself).

#include "session/session.h"

namespace loopmon::qt {

class QtOwnerDispatcher : public OwnerDispatcher {
 public:
  void invokeSync(const std::function<void()>& call) override;
  // A queued call from the worker; the worker waits for it itself, so that a
  // session destroyed on the GUI thread can call the wait off.
  void post(std::function<void()> call) override;
};

}  // namespace loopmon::qt
