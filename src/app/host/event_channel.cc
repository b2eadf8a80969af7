#include "app/host/event_channel.h"

#include <algorithm>

namespace quil::host {
namespace {
constexpr size_t kLogLimit = 256;
}

UiEvent& EventChannel::Append(const std::string& type, nlohmann::json data) {
  UiEvent e;
  e.seq = next_seq_++;
  e.type = type;
  e.data = std::move(data);
  log_.push_back(std::move(e));
  while (log_.size() > kLogLimit) log_.pop_front();
  changed_.notify_all();
  return log_.back();
}

void EventChannel::Publish(const std::string& type, nlohmann::json data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  UiEvent& e = Append(type, std::move(data));
  if (type == "progress") progress_ = e;
  if (type == "progressHide") progress_.reset();
}

std::optional<nlohmann::json> EventChannel::Ask(const std::string& type, nlohmann::json data) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return std::nullopt;
  std::uint64_t id = next_seq_;
  data["id"] = id;
  UiEvent& e = Append(type, std::move(data));
  open_questions_[id] = e;
  changed_.wait(lock, [&] { return closed_ || answers_.count(id); });
  open_questions_.erase(id);
  auto it = answers_.find(id);
  if (it == answers_.end()) return std::nullopt;
  nlohmann::json answer = std::move(it->second);
  answers_.erase(it);
  return answer;
}

std::optional<nlohmann::json> EventChannel::AskUntil(const std::string& type, nlohmann::json data,
                                                   std::chrono::steady_clock::time_point deadline,
                                                   const std::function<bool()>& abandoned) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return std::nullopt;
  std::uint64_t id = next_seq_;
  data["id"] = id;
  UiEvent& e = Append(type, std::move(data));
  open_questions_[id] = e;
  for (;;) {
    auto until = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    changed_.wait_until(lock, until, [&] { return closed_ || answers_.count(id); });
    if (closed_ || answers_.count(id)) break;
    bool give_up = std::chrono::steady_clock::now() >= deadline;
    if (!give_up && abandoned) {
      lock.unlock();
      give_up = abandoned();
      lock.lock();
    }
    if (give_up && !answers_.count(id) && !closed_) {
      open_questions_.erase(id);
      Append("withdraw", {{"id", id}});
      return std::nullopt;
    }
  }
  open_questions_.erase(id);
  auto it = answers_.find(id);
  if (it == answers_.end()) return std::nullopt;
  nlohmann::json answer = std::move(it->second);
  answers_.erase(it);
  return answer;
}

bool EventChannel::Answer(std::uint64_t id, const nlohmann::json& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_questions_.count(id) || answers_.count(id)) return false;
  answers_[id] = answer;
  changed_.notify_all();
  return true;
}

std::deque<UiEvent> EventChannel::Next(std::uint64_t* cursor, bool first,
                                       std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::deque<UiEvent> out;
  if (first) {
    // A new stream: what is on screen now, then what comes next.
    if (progress_) out.push_back(*progress_);
    for (const auto& [id, q] : open_questions_) out.push_back(q);
    *cursor = next_seq_ - 1;
    if (!out.empty()) return out;
  }
  changed_.wait_for(lock, wait, [&] { return closed_ || next_seq_ - 1 > *cursor; });
  for (const auto& e : log_)
    if (e.seq > *cursor) out.push_back(e);
  *cursor = next_seq_ - 1;
  return out;
}

void EventChannel::StreamOpened() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++streams_;
  ever_connected_ = true;
}

void EventChannel::StreamClosed() {
  std::lock_guard<std::mutex> lock(mutex_);
  --streams_;
  last_stream_end_ = std::chrono::steady_clock::now();
}

bool EventChannel::PageGoneFor(std::chrono::milliseconds grace) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ever_connected_ && streams_ == 0 &&
         std::chrono::steady_clock::now() - last_stream_end_ > grace;
}

bool EventChannel::PageConnected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ever_connected_;
}

void EventChannel::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return;
  Append("close", nlohmann::json::object());
  closed_ = true;
  changed_.notify_all();
}

bool EventChannel::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace quil::host
