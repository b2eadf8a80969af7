#pragma once
// The one application thread. Every method call, and everything it touches
// (settings, session key, progress window), runs here, one task at a time
// in arrival order; HTTP threads only hand tasks over and wait.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace quil::host {

class AppThread {
 public:
  AppThread();
  ~AppThread();  // finishes the running task, drops the queued ones

  // Runs `task` on the application thread and waits for its result.
  // Returns false (without running it) once the thread is stopping.
  template <typename T>
  bool Run(const std::function<T()>& task, T* result) {
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    // Only the queued task holds the promise, so dropping it breaks the promise.
    if (!Post([task, promise = std::move(promise)] { promise->set_value(task()); })) return false;
    try {
      *result = future.get();  // a task dropped at stop breaks its promise
      return true;
    } catch (...) {
      return false;
    }
  }

  // Queues `task` without waiting for it; false once the thread is stopping.
  bool Post(std::function<void()> task);

  // Runs no further task (the program is ending): queued and new ones wait
  // until Stop drops them, so the page learns of the end first.
  void Hold();
  void Stop();
  // After Stop: waits up to `limit` for the running task to end; false when
  // it still runs (the program may then end without it).
  bool WaitForEnd(std::chrono::milliseconds limit);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  bool held_ = false;
  bool ended_ = false;
  std::condition_variable ended_signal_;
  std::thread thread_;
};

}  // namespace quil::host
