#pragma once
// The loopback HTTP host: serves the embedded pages and the bridge API
// (/api/call, /api/events, /api/answer, /api/fs) to the one page that holds
// the token. Refuses foreign Host and Origin headers, and every /api/
// request without the token, with 403 before anything runs.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/host/app_thread.h"
#include "app/host/event_channel.h"
#include "app/host/server_limits.h"

namespace httplib {
struct Request;
struct Response;
}

namespace quil::host {

class BridgeServer;

// The largest request body taken (413 above it); calls carry a few
// certificates at most.
constexpr size_t kMaxBodyBytes = 1024 * 1024;

class HttpHost {
 public:
  HttpHost(EventChannel* channel, AppThread* app, std::string token, const ServerLimits& limits = {});
  ~HttpHost();

  // Binds 127.0.0.1 (port 0: a free port); retries a fixed port for a few
  // seconds, since a restarting copy may still hold it. False on failure.
  bool Bind(int port);
  int port() const { return port_; }
  std::string PageAddress() const;

  // Serves on a background thread until Stop().
  void Start();
  void Stop();

 private:
  void Routes();
  void ServeEmbeddedFile(const httplib::Request& req, httplib::Response& res) const;
  bool HostAllowed(const std::string& host) const;
  bool OriginAllowed(const std::string& origin) const;

  EventChannel* channel_;
  AppThread* app_;
  std::string token_;
  int port_ = 0;
  std::unique_ptr<BridgeServer> server_;
  std::thread thread_;
};

// 64 hex digits from the system's random generator.
std::string MakeToken();

}  // namespace quil::host
