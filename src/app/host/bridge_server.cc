#include "app/host/bridge_server.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/host/bridge_request.h"
#include "platform/socket_io.h"

namespace quil::host {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using platform::SocketHandle;

namespace {

// How long a wait may last before it looks at the stop flag again.
constexpr milliseconds kStopCheck{200};
// A page connection is renewed after this many requests.
constexpr int kMaxRequestsPerConnection = 1000;

milliseconds Until(Clock::time_point deadline) {
  return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

// Where the blank line that ends a request head ends, looking from `from`
// on (lines end in CR LF, or in LF alone); npos while it has not come.
size_t HeadEnd(const std::string& bytes, size_t from) {
  for (size_t lf = bytes.find('\n', from); lf != std::string::npos; lf = bytes.find('\n', lf + 1)) {
    size_t next = lf + 1;
    if (next < bytes.size() && bytes[next] == '\r') ++next;
    if (next < bytes.size() && bytes[next] == '\n') return next + 1;
  }
  return std::string::npos;
}

// Best effort: a short answer on a connection that is about to be closed.
void SendAndClose(SocketHandle socket, const char* status_line) {
  std::string answer = std::string("HTTP/1.1 ") + status_line + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  (void)platform::SendAvailable(socket, answer.data(), answer.size());
  platform::CloseConnection(socket);
}

// The stream httplib reads a request from and writes its answer to: first
// the bytes the accepting thread already read, then the socket, each read
// within the request's deadline.
class ConnectionStream : public httplib::Stream, public BridgeServer::Channel {
 public:
  ConnectionStream(SocketHandle socket, std::string buffered, const ServerLimits& limits,
                   const std::atomic<bool>& stopping)
      : socket_(socket), buffered_(std::move(buffered)), limits_(limits), stopping_(stopping) {}

  void StartRequest() { read_deadline_ = Clock::now() + limits_.body_time; }

  // Waits up to `idle` for the next request of a kept-alive connection.
  bool WaitForMore(milliseconds idle) {
    if (!buffered_.empty()) return true;
    for (auto until = Clock::now() + idle; !stopping_;) {
      milliseconds left = Until(until);
      if (platform::WaitReadable({socket_}, std::min(left, kStopCheck))[0]) return true;
      if (left.count() == 0) return false;
    }
    return false;
  }

  bool ReadExact(char* buffer, size_t n) override {
    StartRequest();
    for (size_t got = 0; got < n;) {
      ssize_t r = read(buffer + got, n - got);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }

  bool Write(std::string_view bytes) override {
    return write(bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  bool is_readable() const override {
    return !buffered_.empty() || platform::WaitReadable({socket_}, milliseconds(0))[0];
  }
  bool is_writable() const override { return platform::WaitWritable(socket_, limits_.write_time); }

  // The library reads a request head a byte at a time, so the socket is read
  // in chunks that later calls take their bytes from.
  ssize_t read(char* ptr, size_t size) override {
    if (buffered_.empty()) {
      if (size >= kChunkBytes) return Receive(ptr, size);
      buffered_.resize(kChunkBytes);
      ssize_t n = Receive(buffered_.data(), buffered_.size());
      buffered_.resize(n > 0 ? static_cast<size_t>(n) : 0);
      if (n <= 0) return n;
    }
    size_t n = std::min(size, buffered_.size() - taken_);
    std::memcpy(ptr, buffered_.data() + taken_, n);
    taken_ += n;
    if (taken_ == buffered_.size()) {
      buffered_.clear();
      taken_ = 0;
    }
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    size_t sent = 0;
    while (sent < size) {
      platform::SocketTransfer t = platform::SendAvailable(socket_, ptr + sent, size - sent);
      if (t.ended) return -1;
      if (t.bytes > 0) {
        sent += t.bytes;
        continue;
      }
      if (stopping_ || !platform::WaitWritable(socket_, limits_.write_time)) return -1;
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    platform::SocketAddress(socket_, true, &ip, &port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    platform::SocketAddress(socket_, false, &ip, &port);
  }
  socket_t socket() const override { return static_cast<socket_t>(socket_); }

 private:
  static constexpr size_t kChunkBytes = 4096;

  // What one receive brings, within the request's deadline; -1 when the
  // connection ends, the time runs out or the server stops.
  ssize_t Receive(char* ptr, size_t size) {
    while (!stopping_) {
      milliseconds left = Until(read_deadline_);
      if (left.count() == 0) return -1;
      if (!platform::WaitReadable({socket_}, std::min(left, kStopCheck))[0]) continue;
      platform::SocketTransfer t = platform::ReceiveAvailable(socket_, ptr, size);
      if (t.bytes > 0) return static_cast<ssize_t>(t.bytes);
      if (t.ended) return -1;
    }
    return -1;
  }

  SocketHandle socket_;
  std::string buffered_;
  size_t taken_ = 0;
  const ServerLimits& limits_;
  const std::atomic<bool>& stopping_;
  Clock::time_point read_deadline_ = Clock::now();
};

}  // namespace

struct BridgeServer::Connection {
  SocketHandle socket = platform::kNoSocket;
  std::string head;  // bytes read so far; a complete head may be followed by more
  Clock::time_point since;
  size_t head_end = std::string::npos;
  bool page_socket = false;  // an open page socket, idle or with its next message
};

// A fixed number of threads serving complete requests, with a bounded queue.
class BridgeServer::Pool {
 public:
  Pool(int threads, size_t max_queued, std::function<void(Connection&)> serve)
      : max_queued_(max_queued), serve_(std::move(serve)) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
    for (auto& c : queue_) platform::CloseConnection(c.socket);
  }

  // False when the queue is full (the connection is left to the caller).
  bool Submit(Connection& c) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (queue_.size() >= max_queued_) return false;
      queue_.push_back(std::move(c));
    }
    ready_.notify_one();
    return true;
  }

 private:
  void Work() {
    for (;;) {
      Connection c;
      {
        std::unique_lock<std::mutex> lock(mu_);
        ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        c = std::move(queue_.front());
        queue_.pop_front();
      }
      serve_(c);
    }
  }

  size_t max_queued_;
  std::function<void(Connection&)> serve_;
  std::mutex mu_;
  std::condition_variable ready_;
  std::deque<Connection> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

BridgeServer::BridgeServer(std::function<bool(std::string_view)> is_page, ServerLimits limits)
    : is_page_(std::move(is_page)), limits_(limits) {}

BridgeServer::~BridgeServer() = default;

void BridgeServer::Shutdown() { stopping_ = true; }

void BridgeServer::Serve() {
  page_pool_ = std::make_unique<Pool>(limits_.page_workers, limits_.max_queued,
                                      [this](Connection& c) { ServeConnection(c, true); });
  other_pool_ = std::make_unique<Pool>(limits_.other_workers, limits_.max_queued,
                                       [this](Connection& c) { ServeConnection(c, false); });
  std::vector<Connection> waiting;  // oldest first
  std::vector<Connection> idle;     // page sockets between messages, oldest first
  const SocketHandle listener = static_cast<SocketHandle>(svr_sock_.load());
  platform::AllowLongListenQueue(listener);
  char chunk[16384];
  while (!stopping_) {
    {
      std::lock_guard<std::mutex> lock(parking_mu_);
      for (auto& c : parking_) idle.push_back(std::move(c));
      parking_.clear();
    }
    while (idle.size() > limits_.max_idle_sockets) {
      platform::CloseConnection(idle.front().socket);
      idle.erase(idle.begin());
    }
    std::vector<SocketHandle> sockets{listener};
    auto wait = kStopCheck;
    for (const auto& c : waiting) {
      sockets.push_back(c.socket);
      wait = std::min(wait, Until(c.since + limits_.head_time));
    }
    for (const auto& c : idle) sockets.push_back(c.socket);
    std::vector<bool> ready = platform::WaitReadable(sockets, wait);
    WatchIdleSockets(idle, ready, 1 + waiting.size());
    const auto now = Clock::now();
    std::vector<Connection> still;
    still.reserve(waiting.size());
    for (size_t i = 0; i < waiting.size(); ++i) {
      Connection& c = waiting[i];
      bool closed = false;
      while (ready[i + 1] && c.head_end == std::string::npos && c.head.size() <= limits_.max_head) {
        platform::SocketTransfer t = platform::ReceiveAvailable(c.socket, chunk, sizeof chunk);
        if (t.bytes == 0) {
          closed = t.ended;
          break;
        }
        // A line end may straddle the chunks.
        size_t from = c.head.size() < 3 ? 0 : c.head.size() - 3;
        c.head.append(chunk, t.bytes);
        c.head_end = HeadEnd(c.head, from);
      }
      if (c.head_end != std::string::npos && c.head_end <= limits_.max_head) {
        Dispatch(std::move(c));
      } else if (closed) {
        platform::CloseConnection(c.socket);
      } else if (c.head.size() > limits_.max_head) {
        SendAndClose(c.socket, "431 Request Header Fields Too Large");
      } else if (now - c.since >= limits_.head_time) {
        SendAndClose(c.socket, "408 Request Timeout");
      } else {
        still.push_back(std::move(c));
      }
    }
    waiting = std::move(still);
    if (ready[0]) Accept(waiting);
  }
  for (auto& c : waiting) platform::CloseConnection(c.socket);
  for (auto& c : idle) platform::CloseConnection(c.socket);
  // Streaming answers end once the library sees no listening socket.
  socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  page_pool_.reset();
  other_pool_.reset();
  // Sockets the workers handed back on their way out.
  for (auto& c : parking_) platform::CloseConnection(c.socket);
  parking_.clear();
  if (listening != INVALID_SOCKET) platform::CloseConnection(static_cast<SocketHandle>(listening));
}

void BridgeServer::WatchIdleSockets(std::vector<Connection>& idle, const std::vector<bool>& ready, size_t first) {
  std::vector<Connection> still;
  still.reserve(idle.size());
  for (size_t i = 0; i < idle.size(); ++i) {
    if (!ready[first + i]) {
      still.push_back(std::move(idle[i]));
      continue;
    }
    // Its next message (or its end) has come: a worker takes it.
    Connection& c = idle[i];
    if (!page_pool_->Submit(c)) platform::CloseConnection(c.socket);
  }
  idle = std::move(still);
}

void BridgeServer::ParkSocket(Connection connection) {
  std::lock_guard<std::mutex> lock(parking_mu_);
  parking_.push_back(std::move(connection));
}

void BridgeServer::Accept(std::vector<Connection>& waiting) {
  const SocketHandle listener = static_cast<SocketHandle>(svr_sock_.load());
  for (;;) {
    SocketHandle s = platform::AcceptConnection(listener);
    if (s == platform::kNoSocket) return;
    if (waiting.size() >= limits_.max_waiting) {
      platform::CloseConnection(waiting.front().socket);
      waiting.erase(waiting.begin());
    }
    waiting.push_back(Connection{s, {}, Clock::now()});
  }
}

void BridgeServer::Dispatch(Connection c) {
  bool page = is_page_(std::string_view(c.head).substr(0, c.head_end));
  Pool& pool = page ? *page_pool_ : *other_pool_;
  if (!pool.Submit(c)) SendAndClose(c.socket, "503 Service Unavailable");
}

void BridgeServer::ServeSocket(Connection& c) {
  const bool opening = !c.page_socket;
  // The opening's head is answered by the handler; the stream starts after it.
  const std::string head = opening ? c.head.substr(0, c.head_end) : std::string();
  ConnectionStream stream(c.socket, opening ? c.head.substr(c.head_end) : std::string(), limits_, stopping_);
  bool idle = false;
  try {
    if (!opening || socket_open_(head, stream)) {
      for (;;) {
        // Messages that follow closely keep the worker; a pause gives it back.
        if (!stream.WaitForMore(limits_.keep_alive)) {
          idle = !stopping_;
          break;
        }
        if (!socket_message_(stream)) break;
      }
    }
  } catch (...) {
    // A connection that fails ends; the server goes on.
  }
  if (!idle) {
    platform::CloseConnection(c.socket);
    return;
  }
  Connection parked;
  parked.socket = c.socket;
  parked.page_socket = true;
  ParkSocket(std::move(parked));
}

void BridgeServer::ServeConnection(Connection& c, bool page) {
  if (c.page_socket ||
      (page && socket_open_ && AsksForSocket(std::string_view(c.head).substr(0, c.head_end))))
    return ServeSocket(c);
  ConnectionStream stream(c.socket, std::move(c.head), limits_, stopping_);
  try {
    for (int n = 1; !stopping_; ++n) {
      // Others get one request per connection; the page keeps its own.
      bool last = !page || n >= kMaxRequestsPerConnection;
      bool closed_by_client = false;
      stream.StartRequest();
      if (!process_request(stream, last, closed_by_client, nullptr)) break;
      if (last || closed_by_client || !stream.WaitForMore(limits_.keep_alive)) break;
    }
  } catch (...) {
    // A connection that fails ends; the server goes on.
  }
  platform::CloseConnection(c.socket);
}

}  // namespace quil::host
