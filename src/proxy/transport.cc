#include "proxy/transport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/hex_text.h"
#include "proxy/curl_easy_internal.h"
#include "ui/ui.h"

namespace quil::proxy {
namespace {

using internal::Easy;

constexpr char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded; charset: UTF-8";

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// A form body handed to curl as it asks for it. It cannot be rewound on
// purpose: curl sends a request again on a fresh connection when a kept one
// closes without an answer, and the proxy's calls are not safe to repeat
// (the server may have acted on the first), so that ends the exchange
// instead, as a lost answer on a connection of its own always did.
struct BodySource {
  const std::string* bytes;
  size_t sent = 0;
};

size_t ReadBody(char* out, size_t size, size_t count, void* user) {
  auto* src = static_cast<BodySource*>(user);
  size_t n = std::min(size * count, src->bytes->size() - src->sent);
  std::memcpy(out, src->bytes->data() + src->sent, n);
  src->sent += n;
  return n;
}

int RefuseRewind(void*, curl_off_t, int) { return CURL_SEEKFUNC_CANTSEEK; }

// The URL curl is given: the scheme decided by the exact "https" prefix,
// the cracked host, port and path.
std::string EffectiveUrl(const UrlParts& p) {
  std::string host = p.host.find(':') != std::string::npos ? "[" + p.host + "]" : p.host;
  return std::string(p.secure ? "https" : "http") + "://" + host + ":" + std::to_string(p.port) + p.path;
}

// A kept connection reports no connect time of its own, so a transfer that
// stalled on one is told apart by the request it sent.
bool IsConnectFailure(CURLcode code, CURL* c) {
  if (code == CURLE_COULDNT_CONNECT) return true;
  if (code != CURLE_OPERATION_TIMEDOUT) return false;
  curl_off_t connected = 0;
  long sent = 0;
  curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
  curl_easy_getinfo(c, CURLINFO_REQUEST_SIZE, &sent);
  return connected == 0 && sent == 0;
}

struct Failure {
  CURLcode code = CURLE_OK;
  std::string text;
};

// One exchange; a failed connect is tried once more after the back-off.
HttpReply Exchange(const std::string& url, const std::string* post_body, long connect_timeout_ms,
                   Failure* failure, UrlParts* where) {
  HttpReply reply;
  auto parts = SplitUrl(url);
  if (!parts) return reply;  // a caller's error: nothing was sent
  *where = *parts;
  const std::string target = EffectiveUrl(*parts);

  for (int attempt = 0;; ++attempt) {
    if (TransfersCancelled()) {
      reply.result = kHttpNetwork;
      failure->code = CURLE_ABORTED_BY_CALLBACK;
      failure->text = curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK);
      return reply;
    }
    std::unique_ptr<Easy> easy = internal::NewEasy();
    if (!easy) {
      reply.result = kHttpNetwork;
      failure->code = CURLE_FAILED_INIT;
      failure->text = curl_easy_strerror(CURLE_FAILED_INIT);
      return reply;
    }
    CURL* c = easy->handle.get();
    internal::CurlHeaders headers;
    BodySource source{post_body};
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_timeout_ms);
    if (post_body) {
      headers.reset(curl_slist_append(nullptr, kFormHeader));
      headers.reset(curl_slist_append(headers.release(), "Expect:"));
      curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
      curl_easy_setopt(c, CURLOPT_POST, 1L);
      curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadBody);
      curl_easy_setopt(c, CURLOPT_READDATA, &source);
      curl_easy_setopt(c, CURLOPT_SEEKFUNCTION, RefuseRewind);
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_body->size()));
    } else {
      curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    }
    std::string body;
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);

    CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
      if (status == 200 && !body.empty()) {
        reply.result = kHttpOk;
        reply.body = std::move(body);
      }
      return reply;
    }
    if (attempt == 0 && IsConnectFailure(code, c)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kConnectBackoffMs));
      continue;
    }
    reply.result = kHttpNetwork;
    if (code == CURLE_SEND_FAIL_REWIND) {
      // A kept connection closed without an answer: told as on a new one.
      failure->code = CURLE_GOT_NOTHING;
      failure->text = curl_easy_strerror(CURLE_GOT_NOTHING);
    } else {
      failure->code = code;
      failure->text = internal::CurlErrorText(code, easy->error);
    }
    return reply;
  }
}

}  // namespace

std::optional<UrlParts> SplitUrl(const std::string& url) {
  size_t sep = url.find("://");
  if (sep == std::string::npos) return std::nullopt;
  std::string scheme = url.substr(0, sep);
  UrlParts p;
  int default_port;
  if (EqualsNoCase(scheme, "https")) {
    default_port = 443;
  } else if (EqualsNoCase(scheme, "http")) {
    default_port = 80;
  } else {
    return std::nullopt;
  }
  p.secure = url.compare(0, 5, "https") == 0;
  size_t start = sep + 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  std::string port_text;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    p.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port_text = authority.substr(close + 2);
    }
  } else {
    size_t colon = authority.find(':');
    p.host = authority.substr(0, colon);
    if (colon != std::string::npos) port_text = authority.substr(colon + 1);
  }
  if (p.host.empty()) return std::nullopt;
  p.port = default_port;
  if (!port_text.empty()) {
    if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    p.port = std::stoi(port_text);
    if (p.port <= 0 || p.port > 65535) return std::nullopt;
  }
  if (end != std::string::npos && url[end] == '/') {
    size_t path_end = url.find_first_of("?#", end);
    p.path = url.substr(end, path_end == std::string::npos ? std::string::npos : path_end - end);
  } else {
    p.path = "/";
  }
  return p;
}

std::string urlEncodeValue(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
      out.push_back(static_cast<char>(b));
    } else if (b == 0x20 || (b >= 0x09 && b <= 0x0D)) {
      out.push_back('+');
    } else {
      out.push_back('%');
      AppendHex(&out, b);
    }
  }
  return out;
}

std::string formEncode(const FieldMap& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out.push_back('&');
    out += name;
    out.push_back('=');
    out += urlEncodeValue(value);
  }
  return out;
}

HttpReply httpPost(const std::string& url, const FieldMap& fields) {
  const std::string body = formEncode(fields);
  Failure failure;
  UrlParts where;
  HttpReply reply = Exchange(url, &body, kPostConnectTimeoutMs, &failure, &where);
  // A transfer cancelled because the program ends has nobody to tell.
  if (reply.result == kHttpNetwork && !TransfersCancelled()) {
    char head[512];
    std::snprintf(head, sizeof head, "與伺服器(%s:%d)間網路連線發生錯誤!!\n[%d]", where.host.c_str(),
                  where.port, static_cast<int>(failure.code));
    ui::CurrentUi().MessageBox(head + failure.text, ui::Buttons::kOk);
  }
  return reply;
}

HttpReply httpGet(const std::string& url) {
  Failure failure;
  UrlParts where;
  return Exchange(url, nullptr, kGetConnectTimeoutMs, &failure, &where);
}

}  // namespace quil::proxy
