#include "app/host/bridge_request.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

namespace quil::host {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::string part = header.substr(pos, end - pos);
    size_t b = part.find_first_not_of(' ');
    if (b != std::string::npos) part = part.substr(b);
    if (part.compare(0, name.size() + 1, name + "=") == 0) return part.substr(name.size() + 1);
    pos = end + 1;
  }
  return {};
}

std::string HeaderValue(std::string_view head, std::string_view name) {
  for (size_t at = head.find('\n'); at != std::string_view::npos && at < head.size();) {
    size_t next = head.find('\n', at + 1);
    std::string_view line = head.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameLetters(line.substr(0, colon), name))
      return std::string(Trimmed(line.substr(colon + 1)));
    at = next;
  }
  return {};
}

bool AsksForSocket(std::string_view head) {
  std::string_view request_line = head.substr(0, head.find('\n'));
  const std::string expected = std::string("GET ") + kSocketPath + " ";
  return request_line.substr(0, expected.size()) == expected && SameLetters(HeaderValue(head, "Upgrade"), "websocket");
}

std::string PresentedToken(std::string_view head) {
  size_t line_end = head.find('\n');
  std::string_view request_line = head.substr(0, line_end);
  size_t target_begin = request_line.find(' ');
  size_t query = request_line.find('?', target_begin == std::string_view::npos ? 0 : target_begin);
  std::string from_address;
  if (target_begin != std::string_view::npos && query != std::string_view::npos) {
    std::string_view q = request_line.substr(query + 1);
    q = q.substr(0, q.find(' '));
    for (size_t at = 0; at <= q.size();) {
      size_t amp = std::min(q.find('&', at), q.size());
      std::string_view pair = q.substr(at, amp - at);
      if (pair.substr(0, 6) == "token=") from_address = std::string(pair.substr(6));
      at = amp + 1;
    }
  }
  std::string from_header = HeaderValue(head, kTokenHeader);
  if (!from_header.empty()) return from_header;
  std::string from_cookie = CookieValue(HeaderValue(head, "Cookie"), kCookieName);
  return !from_cookie.empty() ? from_cookie : from_address;
}

CallRequest ParseCallBody(const std::string& body) {
  using nlohmann::json;
  CallRequest call;
  json parsed = json::parse(body, nullptr, false);
  if (parsed.is_object() && parsed.contains("id")) call.id = parsed["id"];
  if (!parsed.is_object() || !parsed.contains("method") || !parsed["method"].is_string()) {
    call.error = "expected {\"method\": name, \"args\": [strings]}";
    return call;
  }
  json args = parsed.value("args", json::array());
  if (!args.is_array()) {
    call.error = "args must be an array of strings";
    return call;
  }
  for (const auto& a : args) {
    if (!a.is_string()) {
      call.error = "args must be an array of strings";
      call.args.clear();
      return call;
    }
    call.args.push_back(a.get<std::string>());
  }
  call.method = parsed["method"].get<std::string>();
  return call;
}

}  // namespace quil::host
