#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "base/client_version.h"
#include "base/openssl_ptr.h"
#include "platform/cert_store.h"
#include "proxy/curl_easy_internal.h"
#include "proxy/operator_config.h"
#include "proxy/transport.h"

namespace quil::proxy::internal {
namespace {

long g_stall_seconds = kStallSeconds;
std::atomic<bool> g_cancelled{false};

// Called by libcurl often while it transfers and about once a second while
// it waits; a non-zero answer aborts the transfer.
int AbortWhenCancelled(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return g_cancelled ? 1 : 0; }

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Size and time of the operator's bundle: a changed file is another bundle.
// Empty without a bundle; nothing when the file cannot be read.
std::optional<std::string> BundleStamp(const std::string& bundle) {
  if (bundle.empty()) return std::string();
  struct stat st;
  if (stat(bundle.c_str(), &st) != 0) return std::nullopt;
  return std::to_string(st.st_mtime) + "|" + std::to_string(st.st_size);
}

// The trust store of every verified exchange: the system's authorities plus
// the operator's bundle, built once per bundle file (and again when the file
// changes) because parsing the system bundle costs far more than a loopback
// handshake. Stores are shared by reference; OpenSSL counts them, so one
// replaced here lives on in the exchanges still using it.
X509_STORE* TrustStore(const std::string& bundle) {
  struct Built {
    std::string stamp;  // size and time of the bundle it was built from
    X509_STORE* store = nullptr;
  };
  static std::mutex mu;
  static auto* cache = new std::map<std::string, Built>;  // kept for the process
  std::optional<std::string> read_stamp = BundleStamp(bundle);
  if (!read_stamp) return nullptr;
  const std::string& stamp = *read_stamp;
  std::lock_guard<std::mutex> lock(mu);
  Built& built = (*cache)[bundle];
  if (built.store && built.stamp == stamp) return built.store;
  X509_STORE* store = X509_STORE_new();
  if (!store || X509_STORE_set_default_paths(store) != 1 ||
      (!bundle.empty() && X509_STORE_load_file(store, bundle.c_str()) != 1)) {
    X509_STORE_free(store);
    return nullptr;  // an unreadable bundle fails the exchange, never trusts less
  }
  // Windows keeps its authorities in a certificate store, not in files.
  for (const std::string& der : platform::SystemTrustAnchors())
    if (auto anchor = ossl::ParseCert(der))
      X509_STORE_add_cert(store, anchor.get());  // a duplicate is refused harmlessly
  ERR_clear_error();
  X509_STORE_free(built.store);
  built = {stamp, store};
  return store;
}

CURLcode UseTrustStore(CURL*, void* ssl_ctx, void* user) {
  X509_STORE* store = TrustStore(*static_cast<const std::string*>(user));
  if (!store) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store);
  return CURLE_OK;
}

// What a thread's exchanges keep from one to the next: the open connections
// (HTTP keep-alive) and the TLS sessions to resume when a connection had to
// be opened again, so that only the first exchange with a server pays for a
// full handshake. One set per way of trusting servers, so a connection
// verified against one set of authorities never carries an exchange that
// asks for another. Per thread, because libcurl's shared connection cache
// must not be used by two threads at once; every exchange of the program
// runs on its application thread.
class KeptConnections {
 public:
  ~KeptConnections() {
    for (auto& [trust, share] : shares_) curl_share_cleanup(share);
  }
  CURLSH* For(const std::string& trust) {
    CURLSH*& share = shares_[trust];
    if (!share) {
      share = curl_share_init();
      if (share) {
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
      }
    }
    return share;
  }

 private:
  std::map<std::string, CURLSH*> shares_;
};

constexpr long kKeptIdleSeconds = 5;

CURLSH* KeptConnectionsFor(const std::string& trust) {
  thread_local KeptConnections kept;
  return kept.For(trust);
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
  const std::string agent = std::string("QUIL/") + kClientVersion;  // curl keeps a copy
  curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, g_stall_seconds);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, AbortWhenCancelled);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

  OperatorConfig config = CurrentOperatorConfig();
  const std::string trust =
      config.tls_insecure ? std::string("insecure")
                          : "verified|" + config.ca_bundle + "|" + BundleStamp(config.ca_bundle).value_or("unreadable");
  if (CURLSH* kept = KeptConnectionsFor(trust)) curl_easy_setopt(c, CURLOPT_SHARE, kept);
  // A connection left idle longer than a server or a router in between may
  // keep it is not used again: a request is never sent twice, so one that
  // meets a connection dropped in silence would fail. A new one resumes the
  // TLS session.
  curl_easy_setopt(c, CURLOPT_MAXAGE_CONN, kKeptIdleSeconds);
  if (config.tls_insecure) {
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    // curl loads no file of its own; the callback installs the shared store.
    easy->ca_bundle = config.ca_bundle;
    curl_easy_setopt(c, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, UseTrustStore);
    curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &easy->ca_bundle);
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

namespace quil::proxy {

void CancelTransfers() { internal::g_cancelled = true; }
bool TransfersCancelled() { return internal::g_cancelled; }
void ResumeTransfersForTesting() { internal::g_cancelled = false; }

void SetStallSecondsForTesting(long seconds) {
  internal::g_stall_seconds = seconds > 0 ? seconds : kStallSeconds;
}

}  // namespace quil::proxy
