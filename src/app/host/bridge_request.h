#pragma once
// Reading what a bridge request presents: the page's token (header, cookie
// or the page address's parameter) and the method call in an /api/call
// body. Both come from any local process: no input makes them fail other
// than by refusing it.
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace quil::host {

inline constexpr char kCookieName[] = "quil_token";
inline constexpr char kTokenHeader[] = "X-QUIL-Token";

// The value of cookie `name` in a Cookie header; "" when absent.
std::string CookieValue(const std::string& header, const std::string& name);

// The token a complete request head (request line and header lines)
// presents: the token header, else the cookie, else the "token" parameter
// of the address (the page's first load); "" when none.
std::string PresentedToken(std::string_view head);

// The value of header `name` (any letter case) in a complete request head;
// "" when absent.
std::string HeaderValue(std::string_view head, std::string_view name);

// The path the page's socket is opened on.
inline constexpr char kSocketPath[] = "/api/socket";

// Whether a complete request head asks to open the page's socket: a GET of
// kSocketPath with "Upgrade: websocket".
bool AsksForSocket(std::string_view head);

// {"method": name, "args": [strings]}, on the page's socket with an "id";
// `error` says what is wrong instead.
struct CallRequest {
  std::string method;
  std::vector<std::string> args;  // UTF-8, as the page sent them
  nlohmann::json id;              // the socket message's "id"; null when absent
  std::string error;
};
CallRequest ParseCallBody(const std::string& body);

}  // namespace quil::host
