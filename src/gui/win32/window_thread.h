#pragma once
// Calls from other threads onto the window thread: the session's owner
// dispatch and the follow-ups of the windows' bus thread. A hidden
// message-only window on the window thread receives them as messages, so they
// run whenever that thread takes its messages, modal loops included.

#include <functional>

#include "gui/win32/window.h"
#include "session/session.h"

namespace loopmon::win32 {

class WindowThreadDispatcher : public OwnerDispatcher, private Window {
 public:
  // The calling thread becomes the window thread.
  WindowThreadDispatcher();
  // Calls still queued are dropped.
  ~WindowThreadDispatcher() override;

  // Waits until the window thread has run `call`; on the window thread runs it at once.
  void invokeSync(const std::function<void()>& call) override;
  // Queues `call` and returns; on the window thread runs it at once.
  void post(std::function<void()> call) override;

 private:
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool onWindowThread() const;

  DWORD threadId_ = 0;
};

}  // namespace loopmon::win32
