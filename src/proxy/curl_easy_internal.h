#pragma once
// Shared libcurl set-up of the transport and the download (proxy/ only).
#include <curl/curl.h>

#include <memory>
#include <string>

namespace quil::proxy::internal {

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlHeaders = std::unique_ptr<curl_slist, SlistDeleter>;

// One exchange's handle with the state its callbacks point at.
struct Easy {
  CurlHandle handle;
  std::string ca_bundle;
  char error[CURL_ERROR_SIZE] = {};
};

// A fresh easy handle with what every exchange shares: TLS verification
// (system authorities plus the operator bundle, or none when the operator
// switch is on), the stall limit, no signals, HTTP/1.1, an agent string,
// and the connections and TLS sessions this thread's earlier exchanges left
// open. Nothing when libcurl cannot make a handle.
std::unique_ptr<Easy> NewEasy();

// The text for a failed transfer: curl's detailed message when it has one,
// else its generic text; at most 254 bytes.
std::string CurlErrorText(CURLcode code, const char* error_buffer);

}  // namespace quil::proxy::internal
