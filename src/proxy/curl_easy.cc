#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>

#include "proxy/curl_easy_internal.h"
#include "proxy/operator_config.h"
#include "proxy/transport.h"

namespace quil::proxy::internal {
namespace {

constexpr char kAgent[] = "QUIL/1.9";

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Adds the operator's authorities to the store curl has already filled with
// the system's; an unreadable bundle fails the exchange rather than quietly
// trusting less (or more) than the operator intended.
CURLcode AddOperatorAuthorities(CURL*, void* ssl_ctx, void* user) {
  const auto* bundle = static_cast<const std::string*>(user);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
  if (!store || X509_STORE_load_file(store, bundle->c_str()) != 1) return CURLE_SSL_CACERT_BADFILE;
  return CURLE_OK;
}

}  // namespace

std::unique_ptr<Easy> NewEasy() {
  GlobalInitOnce();
  auto easy = std::make_unique<Easy>();
  easy->handle.reset(curl_easy_init());
  if (!easy->handle) return nullptr;
  CURL* c = easy->handle.get();
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, easy->error);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_USERAGENT, kAgent);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");

  OperatorConfig config = CurrentOperatorConfig();
  if (config.tls_insecure) {
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!config.ca_bundle.empty()) {
      easy->ca_bundle = config.ca_bundle;
      curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, AddOperatorAuthorities);
      curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &easy->ca_bundle);
    }
  }
  return easy;
}

std::string CurlErrorText(CURLcode code, const char* error_buffer) {
  std::string text = (error_buffer && error_buffer[0]) ? error_buffer : curl_easy_strerror(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() > 254) text.resize(254);
  return text;
}

}  // namespace quil::proxy::internal
