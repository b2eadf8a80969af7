#pragma once
// The listening thread of a bound httplib server. The library's stop()
// does nothing until the server runs, so a stop that came too early would
// be lost and the thread would listen for ever; here it is repeated until
// the thread has ended.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace quil::devproxy {

class ServerThread {
 public:
  // Starts listen_after_bind on its own thread; returns once the server
  // accepts connections (or after a few seconds).
  explicit ServerThread(httplib::Server* server) : server_(server) {
    thread_ = std::thread([this] {
      server_->listen_after_bind();
      ended_ = true;
    });
    for (int i = 0; i < 5000 && !server_->is_running() && !ended_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~ServerThread() {
    while (!ended_) {
      server_->stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
  }
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

 private:
  httplib::Server* server_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace quil::devproxy
