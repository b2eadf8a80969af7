#pragma once
// What the bridge server allows each connection: time to send a request,
// room while others wait, and the workers that serve complete requests.
#include <chrono>
#include <cstddef>

namespace quil::host {

struct ServerLimits {
  std::chrono::milliseconds head_time{5000};   // from connecting to the end of the head
  std::chrono::milliseconds body_time{10000};  // to read one request after its head
  std::chrono::milliseconds keep_alive{1000};  // an idle page connection stays open this long
  std::chrono::milliseconds write_time{5000};  // a write that moves nothing for this long fails
  size_t max_head = 64 * 1024;                 // bytes of one request head
  size_t max_waiting = 256;                    // connections whose head is unfinished
  // A browser keeps up to six connections to one host, plus the event
  // stream, which holds a worker while open, and the page's socket, which
  // holds one while it carries calls.
  int page_workers = 10;
  size_t max_idle_sockets = 64;  // page sockets between messages; the oldest go
  int other_workers = 2;
  size_t max_queued = 64;  // complete requests waiting for a worker, per pool
};

}  // namespace quil::host
