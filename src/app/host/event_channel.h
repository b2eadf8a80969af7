#pragma once
// The UI event channel between the application thread and the page: UI
// events go out on the page's event stream; questions (message boxes,
// dialogs, choosers) wait for the page's answer. Thread-safe.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quil::host {

struct UiEvent {
  std::uint64_t seq = 0;
  std::string type;     // "progress", "messageBox", ...
  nlohmann::json data;  // the event's fields (questions carry "id")
};

class EventChannel {
 public:
  // Sends an event that needs no answer. A "progress" event is also kept as
  // the current progress state for pages that connect later; "progressHide"
  // clears it.
  void Publish(const std::string& type, nlohmann::json data);

  // Sends a question and blocks until the page answers it or the channel
  // closes (then nothing). The event's data gets the question's "id".
  std::optional<nlohmann::json> Ask(const std::string& type, nlohmann::json data);

  // Ask, given up at `deadline` or once `abandoned()` says so (looked at a
  // few times a second): the question is then withdrawn from the page (a
  // "withdraw" event with its id) and nothing is returned.
  std::optional<nlohmann::json> AskUntil(const std::string& type, nlohmann::json data,
                                         std::chrono::steady_clock::time_point deadline,
                                         const std::function<bool()>& abandoned);

  // Delivers the page's answer; false when no question has that id.
  bool Answer(std::uint64_t id, const nlohmann::json& answer);

  // For one stream: the events after `*cursor`, waiting up to `wait` for
  // some. A stream's first call (`first`) gets the current progress and the
  // open questions instead, so a reloaded page shows what is on screen.
  // Empty when nothing came or the channel closed.
  std::deque<UiEvent> Next(std::uint64_t* cursor, bool first, std::chrono::milliseconds wait);

  // Stream bookkeeping, for the "window was closed" watchdog.
  void StreamOpened();
  void StreamClosed();
  // True once a stream had been open and none has been for `grace`.
  bool PageGoneFor(std::chrono::milliseconds grace) const;
  // True once the page has opened a stream.
  bool PageConnected() const;

  // Sends "close", releases every waiting question and stream.
  void Close();
  bool closed() const;

 private:
  UiEvent& Append(const std::string& type, nlohmann::json data);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<UiEvent> log_;  // recent events, oldest first
  std::uint64_t next_seq_ = 1;
  std::optional<UiEvent> progress_;
  std::map<std::uint64_t, UiEvent> open_questions_;
  std::map<std::uint64_t, nlohmann::json> answers_;
  bool closed_ = false;
  int streams_ = 0;
  bool ever_connected_ = false;
  std::chrono::steady_clock::time_point last_stream_end_;
};

}  // namespace quil::host
