#pragma once
// The loopback HTTP host: serves the embedded pages and the bridge API
// (/api/call and the socket that carries the same calls, /api/events,
// /api/answer, /api/fs) to the one page that holds
// the token. Refuses foreign Host and Origin headers, and every /api/
// request without the token, with 403 before anything runs.
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/host/app_thread.h"
#include "app/host/bridge_request.h"
#include "app/host/bridge_server.h"
#include "app/host/event_channel.h"
#include "app/host/server_limits.h"

namespace httplib {
struct Request;
struct Response;
}

namespace quil::host {

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
  // One method call (an /api/call body, read): the HTTP status and the answer.
  std::pair<int, nlohmann::json> Call(CallRequest call);
  // The page's socket: the opening, checked as every request is and
  // answered; then each text message an /api/call body with an "id",
  // answered {"id", "status", "body"} as /api/call would answer it (false:
  // the socket closes).
  bool OpenSocket(std::string_view head, BridgeServer::Channel& channel);
  bool ServeSocketMessage(BridgeServer::Channel& channel);
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
