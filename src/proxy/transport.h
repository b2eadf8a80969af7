#pragma once
// The HTTP transport: one blocking exchange per call. Bytes in, bytes out;
// no character conversion. A connection stays open for the next exchange
// with the same server (HTTP keep-alive) and a TLS session is resumed when
// one must be opened again, for the exchanges of the calling thread; the
// requests and replies are the same as on a new connection each.
//
// TLS: the server certificate and host name are verified against the
// system's authorities plus the operator's CA bundle (QUIL_PROXY_CA); only
// QUIL_TLS_INSECURE=1 turns verification off. The user's proxy variables
// (http_proxy, https_proxy, no_proxy) apply. A transfer that moves less
// than one byte per second for kStallSeconds is abandoned as a network
// failure, so no call can hang forever.
#include <optional>
#include <string>

#include "base/field_map.h"
#include "base/result_codes.h"

namespace quil::proxy {

constexpr int kHttpOk = 0;          // status 200 with at least one byte of body
constexpr int kHttpNothing = 1;     // other status, or an empty body
constexpr int kHttpNetwork = kHttpFailed;  // connection, sending or reading failed

constexpr long kPostConnectTimeoutMs = 20000;
constexpr long kGetConnectTimeoutMs = 2000;
constexpr long kConnectBackoffMs = 1000;
constexpr long kStallSeconds = 60;

struct [[nodiscard]] HttpReply {
  int result = kHttpNothing;
  std::string body;  // the server's bytes; meaningful only when result is 0
};

// POSTs formEncode(fields) to `url` (UTF-8, absolute http or https URL).
// On a network failure shows the message box
// "與伺服器(host:port)間網路連線發生錯誤!!\n[code]text" before returning 59999.
// Blocks the calling (application) thread.
HttpReply httpPost(const std::string& url, const FieldMap& fields);

// GETs `url`; like httpPost but with a 2 s connect timeout and no message box.
HttpReply httpGet(const std::string& url);

// The form body: "name=value" pairs in name order joined by "&"; names are
// sent as they are, values through urlEncodeValue.
std::string formEncode(const FieldMap& fields);

// Letters and digits stay, the white-space bytes 0x20 and 0x09-0x0D become
// "+", every other byte "%XX" (upper-case hex).
std::string urlEncodeValue(const std::string& bytes);

// The program is ending: every exchange and download in flight ends within
// about a second (libcurl's progress callback aborts it) and every later
// one fails at once, all as network failures without a message box.
// Thread-safe; never undone but by tests.
void CancelTransfers();
bool TransfersCancelled();
void ResumeTransfersForTesting();

// Shortens the stall limit (tests); 0 restores kStallSeconds.
void SetStallSecondsForTesting(long seconds);

// The pieces of an absolute URL as the transport uses them. `secure` is
// true only when the URL starts with exactly "https"; the port defaults by
// the scheme as written in any letter case. Path excludes query and
// fragment and is "/" when absent. Nothing when the URL cannot be split.
struct UrlParts {
  bool secure = false;
  std::string host;
  int port = 0;
  std::string path;
};
std::optional<UrlParts> SplitUrl(const std::string& url);

}  // namespace quil::proxy
