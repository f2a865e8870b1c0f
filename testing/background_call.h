// Runs one call on a thread of its own and tells whether and when it has
// returned, for tests of code that waits: that it does not return while
// nothing comes, and that it returns soon after something does.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace qova::testing {

class BackgroundCall {
 public:
  using Clock = std::chrono::steady_clock;

  explicit BackgroundCall(std::function<void()> call)
      : started_(Clock::now()), thread_([this, call = std::move(call)] {
          call();
          returnedAfterMs_ = static_cast<int>(
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_)
                  .count());
          returned_ = true;
        }) {}
  ~BackgroundCall() { join(); }
  BackgroundCall(const BackgroundCall&) = delete;
  BackgroundCall& operator=(const BackgroundCall&) = delete;

  // True when the call returns within `ms` from now.
  bool returnsWithin(int ms) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!returned_ && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return returned_;
  }
  bool returned() const { return returned_; }
  // Milliseconds from the start to the return; -1 while it runs.
  int returnedAfterMs() const { return returned_ ? returnedAfterMs_.load() : -1; }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  Clock::time_point started_;
  std::atomic<bool> returned_{false};
  std::atomic<int> returnedAfterMs_{-1};
  std::thread thread_;
};

}  // namespace qova::testing
