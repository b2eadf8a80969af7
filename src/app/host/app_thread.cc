#include "app/host/app_thread.h"

namespace quil::host {

AppThread::AppThread() : thread_([this] { Loop(); }) {}

AppThread::~AppThread() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void AppThread::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
}

void AppThread::Hold() {
  std::lock_guard<std::mutex> lock(mutex_);
  held_ = true;
}

bool AppThread::WaitForEnd(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return ended_signal_.wait_for(lock, limit, [this] { return ended_; });
}

bool AppThread::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    queue_.push_back(std::move(task));
  }
  // Woken outside the lock, the thread does not wait for it once more.
  wake_.notify_all();
  return true;
}

void AppThread::Loop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || (!held_ && !queue_.empty()); });
      if (stopping_) {
        queue_.clear();  // their callers see a broken promise and give up
        ended_ = true;
        ended_signal_.notify_all();
        return;
      }
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

}  // namespace quil::host
