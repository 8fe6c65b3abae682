#include "gui/win32/window_thread.h"

#include <memory>
#include <utility>

namespace loopmon::win32 {

namespace {

constexpr UINT RunCallMessage = WM_APP + 1;
constexpr UINT RunPostedCallMessage = WM_APP + 2;
constexpr wchar_t ClassName[] = L"LoopmonWindowThread";

void registerClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = ClassName;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
}

}  // namespace

WindowThreadDispatcher::WindowThreadDispatcher() : threadId_(GetCurrentThreadId()) {
  registerClass();
  window_ = CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc));
}

WindowThreadDispatcher::~WindowThreadDispatcher() {
  MSG message;
  while (PeekMessageW(&message, window_, RunPostedCallMessage, RunPostedCallMessage, PM_REMOVE)) {
    delete reinterpret_cast<std::function<void()>*>(message.lParam);
  }
  DestroyWindow(window_);
}

bool WindowThreadDispatcher::onWindowThread() const {
  return GetCurrentThreadId() == threadId_;
}

void WindowThreadDispatcher::invokeSync(const std::function<void()>& call) {
  if (onWindowThread()) {
    call();
    return;
  }
  SendMessageW(window_, RunCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

void WindowThreadDispatcher::post(std::function<void()> call) {
  if (onWindowThread()) {
    call();
    return;
  }
  auto queued = std::make_unique<std::function<void()>>(std::move(call));
  if (PostMessageW(window_, RunPostedCallMessage, 0, reinterpret_cast<LPARAM>(queued.get()))) {
    queued.release();
  }
}

LRESULT CALLBACK WindowThreadDispatcher::windowProc(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
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
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace loopmon::win32
