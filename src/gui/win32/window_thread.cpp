#include "gui/win32/window_thread.h"

#include <memory>
#include <utility>

namespace loopmon::win32 {

namespace {

constexpr UINT RunCallMessage = WM_APP + 1;
constexpr UINT RunPostedCallMessage = WM_APP + 2;

}  // namespace

WindowThreadDispatcher::WindowThreadDispatcher() : threadId_(GetCurrentThreadId()) {
  createWindow({L"Loopmon.WindowThread"}, 0, 0, "", HWND_MESSAGE);
}

WindowThreadDispatcher::~WindowThreadDispatcher() {
  MSG message;
  while (PeekMessageW(&message, hwnd(), RunPostedCallMessage, RunPostedCallMessage, PM_REMOVE)) {
    delete reinterpret_cast<std::function<void()>*>(message.lParam);
  }
}

bool WindowThreadDispatcher::onWindowThread() const {
  return GetCurrentThreadId() == threadId_;
}

void WindowThreadDispatcher::invokeSync(const std::function<void()>& call) {
  if (onWindowThread()) {
    call();
    return;
  }
  SendMessageW(hwnd(), RunCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

void WindowThreadDispatcher::post(std::function<void()> call) {
  if (onWindowThread()) {
    call();
    return;
  }
  auto queued = std::make_unique<std::function<void()>>(std::move(call));
  if (PostMessageW(hwnd(), RunPostedCallMessage, 0, reinterpret_cast<LPARAM>(queued.get()))) {
    queued.release();
  }
}

LRESULT WindowThreadDispatcher::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case RunCallMessage:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 0;
    case RunPostedCallMessage: {
      std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lParam));
      (*call)();
      return 0;
    }
    default:
      return Window::handle(message, wParam, lParam);
  }
}

}  // namespace loopmon::win32
