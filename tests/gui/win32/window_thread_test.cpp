// The bus thread's follow-ups and the session's owner calls reach the window
// thread through its message loop, and nothing queued outlives the dispatcher.

#include "gui/win32/window_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace loopmon::win32 {
namespace {

void pumpUntil(const std::atomic<bool>& done) {
  MSG message;
  while (!done && GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
}

TEST(WindowThreadDispatcher, CallsFromAnotherThreadRunOnTheWindowThread) {
  WindowThreadDispatcher dispatcher;
  const DWORD windowThread = GetCurrentThreadId();
  DWORD syncRanOn = 0;
  DWORD postRanOn = 0;
  std::atomic<bool> posted{false};
  std::thread worker([&] {
    dispatcher.invokeSync([&] { syncRanOn = GetCurrentThreadId(); });
    dispatcher.post([&] {
      postRanOn = GetCurrentThreadId();
      posted = true;
    });
  });
  pumpUntil(posted);
  worker.join();
  EXPECT_EQ(syncRanOn, windowThread);
  EXPECT_EQ(postRanOn, windowThread);
}

TEST(WindowThreadDispatcher, QueuedCallsAreDroppedWithTheDispatcher) {
  auto owned = std::make_shared<int>(0);
  {
    WindowThreadDispatcher dispatcher;
    std::thread([&] { dispatcher.post([owned] { ++*owned; }); }).join();
  }
  EXPECT_EQ(*owned, 0);
  EXPECT_EQ(owned.use_count(), 1);
}

}  // namespace
}  // namespace loopmon::win32
