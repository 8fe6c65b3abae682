#pragma once
// A call that may block for an unknown time (a name lookup) made on a thread of
// its own, so that its caller waits no longer than its deadline.

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace loopmon {

// The result of `work`, or no value when it has not returned within `wait`: it
// then runs to its end unobserved and its result is dropped.
template <typename Result>
std::optional<Result> resultBefore(std::function<Result()> work,
                                   std::chrono::steady_clock::duration wait) {
  auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
  std::future<Result> result = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (result.wait_for(wait) != std::future_status::ready) return std::nullopt;
  return result.get();
}

}  // namespace loopmon
