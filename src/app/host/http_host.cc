#include "app/host/http_host.h"

#include <httplib.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/host/bridge_server.h"
#include "app/host/bridge_request.h"
#include "app/host/web_socket.h"
#include "app/method_table.h"
#include "base/hex_text.h"
#include "pages/embedded_files.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/random.h"
#include "platform/socket_io.h"

namespace quil::host {
namespace {

using nlohmann::json;

constexpr const char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; frame-src 'self'; object-src 'none'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'self'";

std::string Dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SendJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(Dump(body), "application/json; charset=utf-8");
}

json ErrorBody(const std::string& why) { return {{"error", why}}; }

void Refuse(httplib::Response& res, int status, const std::string& why) {
  SendJson(res, status, ErrorBody(why));
}

bool SameToken(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}


const char* ContentType(const std::string& path) {
  auto ends = [&](const char* ext) {
    size_t n = std::char_traits<char>::length(ext);
    return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
  };
  if (ends(".html") || ends(".htm")) return "text/html; charset=utf-8";
  if (ends(".js") || ends(".mjs")) return "text/javascript; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".svg")) return "image/svg+xml";
  if (ends(".png")) return "image/png";
  if (ends(".gif")) return "image/gif";
  if (ends(".ico")) return "image/x-icon";
  return "application/octet-stream";
}

json ListFolder(std::string path) {
  if (path.empty()) path = platform::HomeFolder();
  size_t root = platform::RootLength(path);
  if (root == 0) return nullptr;
  while (path.size() > root && platform::IsPathSeparator(path.back())) path.pop_back();
  auto listed = platform::ListFolder(path);
  if (!listed) return nullptr;
  const std::string prefix = path.size() == root ? path : path + "/";
  std::vector<std::pair<std::string, bool>> found;
  for (const auto& e : *listed) {
    auto kind = platform::GetPathInfo(prefix + e.name).kind;  // links followed
    if (kind != platform::PathKind::kFolder && kind != platform::PathKind::kFile) continue;
    found.emplace_back(e.name, kind == platform::PathKind::kFolder);
  }
  std::sort(found.begin(), found.end());
  json entries = json::array();
  for (const auto& [name, is_dir] : found)
    entries.push_back({{"name", name}, {"kind", is_dir ? "folder" : "file"}});
  json parent = nullptr;
  if (path.size() > root) {
    size_t slash = path.size();
    while (slash > root && !platform::IsPathSeparator(path[slash - 1])) --slash;
    parent = slash <= root ? path.substr(0, root) : path.substr(0, slash - 1);
  }
  // Written as the customer writes paths on this platform ("C:\\Users" on
  // Windows); the page joins names with the separator given.
  if (!parent.is_null()) parent = platform::WithPreferredSeparators(parent.get<std::string>());
  return {{"path", platform::WithPreferredSeparators(path)},
          {"parent", parent},
          {"separator", std::string(1, platform::PreferredSeparator())},
          {"entries", entries}};
}

std::string SseFrame(const UiEvent& e) {
  return "id: " + std::to_string(e.seq) + "\nevent: " + e.type + "\ndata: " + Dump(e.data) + "\n\n";
}

}  // namespace

std::string MakeToken() {
  unsigned char bytes[32];
  if (!platform::SecureRandomBytes(bytes, sizeof bytes)) return {};
  return HexText(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes), HexCase::kLower);
}

HttpHost::HttpHost(EventChannel* channel, AppThread* app, std::string token, const ServerLimits& limits)
    : channel_(channel),
      app_(app),
      token_(std::move(token)),
      server_(new BridgeServer([this](std::string_view head) { return SameToken(PresentedToken(head), token_); },
                               limits)) {
  // Idle page connections hold a worker; keep that short so the program
  // ends promptly.
  server_->set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits.keep_alive).count());
  server_->set_payload_max_length(kMaxBodyBytes);
  // The library writes an answer's head and body separately; with Nagle's
  // algorithm on, the body then waits for the page's delayed acknowledgement
  // (about 40 ms on every call).
  server_->set_tcp_nodelay(true);
  // The library's own choice on Linux, SO_REUSEPORT, lets a second copy
  // listen on the port beside this one: the copy a restart starts would
  // share the page's connections with the one that is ending.
  server_->set_socket_options([](socket_t s) { platform::ListenAlone(static_cast<platform::SocketHandle>(s)); });
  server_->SetSocketHandler(
      [this](std::string_view head, BridgeServer::Channel& channel) { return OpenSocket(head, channel); },
      [this](BridgeServer::Channel& channel) { return ServeSocketMessage(channel); });
  Routes();
}

HttpHost::~HttpHost() { Stop(); }

bool HttpHost::Bind(int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
    return port_ > 0;
  }
  // The copy that started this one lets the port go only once it has ended
  // its own work; on a busy machine that takes a few seconds.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (server_->bind_to_port("127.0.0.1", port)) {
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string HttpHost::PageAddress() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

void HttpHost::Start() {
  thread_ = std::thread([this] { server_->Serve(); });
}

void HttpHost::Stop() {
  if (server_) server_->Shutdown();
  if (thread_.joinable()) thread_.join();
}

bool HttpHost::HostAllowed(const std::string& host) const {
  std::string suffix = ":" + std::to_string(port_);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

bool HttpHost::OriginAllowed(const std::string& origin) const {
  if (origin.empty()) return true;
  return origin.rfind("http://", 0) == 0 && HostAllowed(origin.substr(7));
}

void HttpHost::Routes() {
  httplib::Server& s = *server_;

  s.set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                         {"X-Content-Type-Options", "nosniff"},
                         {"Referrer-Policy", "no-referrer"},
                         {"Cache-Control", "no-store"}});

  // Every request: right Host and Origin; every /api/ request: the token.
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    // The library compresses text answers for a browser that accepts it, with
    // Brotli at its slowest setting: most of the program's work while the
    // page loads, for bytes that never leave the machine. The request is the
    // library's own, not a constant.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (!HostAllowed(req.get_header_value("Host"))) {
      Refuse(res, 403, "host not allowed");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!OriginAllowed(req.get_header_value("Origin"))) {
      Refuse(res, 403, "origin not allowed");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.path.rfind("/api/", 0) == 0) {
      std::string presented = req.get_header_value(kTokenHeader);
      if (presented.empty()) presented = CookieValue(req.get_header_value("Cookie"), kCookieName);
      if (!SameToken(presented, token_)) {
        Refuse(res, 403, "token required");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    }
    if (req.method != "GET" && req.method != "HEAD") return httplib::Server::HandlerResponse::Unhandled;
    ServeEmbeddedFile(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });

  s.Post("/api/call", [this](const httplib::Request& req, httplib::Response& res) {
    auto [status, body] = Call(ParseCallBody(req.body));
    SendJson(res, status, body);
  });

  s.Post("/api/answer", [this](const httplib::Request& req, httplib::Response& res) {
    json body = json::parse(req.body, nullptr, false);
    if (!body.is_object() || !body.contains("id") || !body["id"].is_number_unsigned() ||
        !body.contains("answer") || !body["answer"].is_object())
      return Refuse(res, 400, "expected {\"id\": n, \"answer\": {...}}");
    if (!channel_->Answer(body["id"].get<std::uint64_t>(), body["answer"]))
      return Refuse(res, 404, "no open question with that id");
    SendJson(res, 200, {{"ok", true}});
  });

  s.Get("/api/fs", [](const httplib::Request& req, httplib::Response& res) {
    std::string path = req.get_param_value("path");
    // The system would read the path only up to the NUL: another folder.
    if (path.find('\0') != std::string::npos) return Refuse(res, 400, "path holds a NUL character");
    json listing = ListFolder(path);
    if (listing.is_null()) return Refuse(res, 404, "not a readable folder");
    SendJson(res, 200, listing);
  });

  s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
    channel_->StreamOpened();
    struct StreamState {
      std::uint64_t cursor = 0;
      bool first = true;
    };
    auto state = std::make_shared<StreamState>();
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, state](size_t, httplib::DataSink& sink) {
          if (state->first) {
            std::string hello = ": connected\nretry: 1000\n\n";
            if (!sink.write(hello.data(), hello.size())) return false;
          }
          // Short waits: a keep-alive each second finds a closed window soon.
          auto events = channel_->Next(&state->cursor, state->first, std::chrono::milliseconds(1000));
          state->first = false;
          std::string out;
          for (const auto& e : events) out += SseFrame(e);
          if (out.empty()) out = ": keep-alive\n\n";
          if (!sink.write(out.data(), out.size())) return false;
          if (channel_->closed()) {
            sink.done();
            return true;
          }
          return sink.is_writable();
        },
        [this](bool) { channel_->StreamClosed(); });
  });
}

std::pair<int, json> HttpHost::Call(CallRequest call) {
  if (!call.error.empty()) return {400, ErrorBody(call.error)};
  const MethodEntry* method = FindMethod(call.method);
  if (!method) return {404, ErrorBody("unknown method")};
  if (static_cast<int>(call.args.size()) != method->arg_count) return {400, ErrorBody("wrong number of arguments")};
  std::vector<std::string> wide_args = std::move(call.args);
  if (channel_->closed()) return {503, ErrorBody("closed")};
  MethodReply reply;
  std::function<MethodReply()> task = [&] { return RunMethod(*method, wide_args); };
  if (!app_->Run(task, &reply)) return {503, ErrorBody("closed")};
  switch (method->returns) {
    case Returns::kText:
      return {200, json{{"returns", "text"}, {"value", reply.text}}};
    case Returns::kShort:
      return {200, json{{"returns", "short"}, {"value", reply.value}}};
    case Returns::kNothing:
      break;
  }
  return {200, json{{"returns", "nothing"}}};
}

bool HttpHost::OpenSocket(std::string_view head, BridgeServer::Channel& channel) {
  const std::string key = HeaderValue(head, "Sec-WebSocket-Key");
  if (!HostAllowed(HeaderValue(head, "Host")) || !OriginAllowed(HeaderValue(head, "Origin")) || key.empty() ||
      HeaderValue(head, "Sec-WebSocket-Version") != "13") {
    (void)channel.Write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return false;
  }
  return channel.Write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Accept: " + WebSocketAccept(key) + "\r\n\r\n");
}

bool HttpHost::ServeSocketMessage(BridgeServer::Channel& channel) {
  auto read_exact = [&](char* buffer, size_t n) { return channel.ReadExact(buffer, n); };
  auto pong = [&](std::string_view payload) { return channel.Write(WebSocketFrame(WebSocketOpcode::kPong, payload)); };
  // One message is one call, answered before the next is read: the calls
  // run one at a time on the application thread anyway.
  auto message = ReadWebSocketMessage(read_exact, pong, kMaxBodyBytes);
  if (!message) return false;
  if (message->kind == WebSocketMessage::Kind::kClose) {
    (void)channel.Write(WebSocketCloseFrame(1000));
    return false;
  }
  if (message->kind == WebSocketMessage::Kind::kRefused) {
    (void)channel.Write(WebSocketCloseFrame(message->close_code));
    return false;
  }
  CallRequest call = ParseCallBody(message->payload);
  json id = call.id;
  auto [status, body] = Call(std::move(call));
  return channel.Write(WebSocketFrame(WebSocketOpcode::kText, Dump({{"id", id}, {"status", status}, {"body", body}})));
}

void HttpHost::ServeEmbeddedFile(const httplib::Request& req, httplib::Response& res) const {
  std::string path = req.path.empty() ? std::string() : req.path.substr(1);
  if (path.empty()) path = "index.html";
  const pages::EmbeddedFile* file = pages::FindEmbeddedFile(path);
  if (!file) return Refuse(res, 404, "not found");
  if (req.has_param("token") && SameToken(req.get_param_value("token"), token_))
    res.set_header("Set-Cookie", std::string(kCookieName) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict");
  res.set_content(std::string(file->data, file->size), ContentType(path));
}

}  // namespace quil::host
