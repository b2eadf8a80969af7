#include "devproxy/trading_site.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <ctime>

#include "devproxy/markup.h"
#include "devproxy/server_thread.h"

namespace quil::devproxy {
namespace {

struct X509Free {
  void operator()(X509* c) const { X509_free(c); }
};
struct StoreFree {
  void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct StoreCtxFree {
  void operator()(X509_STORE_CTX* s) const { X509_STORE_CTX_free(s); }
};

std::string NameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<size_t>(n));
  BIO_free(bio);
  return text;
}

std::string SerialText(X509* cert) {
  BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
  char* hex = bn ? BN_bn2hex(bn) : nullptr;
  std::string text = hex ? hex : "";
  OPENSSL_free(hex);
  BN_free(bn);
  while (text.size() > 1 && text[0] == '0') text.erase(0, 1);
  return text;
}

std::string Now14() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &local);
  return buf;
}

// The certificates of a PEM text.
std::vector<std::unique_ptr<X509, X509Free>> ReadCerts(const std::string& pem) {
  std::vector<std::unique_ptr<X509, X509Free>> certs;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  while (X509* c = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.emplace_back(c);
  BIO_free(bio);
  ERR_clear_error();
  return certs;
}

// Whether `cert` chains to one of the authorities (with the chain the
// visitor sent); the reason when it does not.
std::string CheckIssued(X509* cert, STACK_OF(X509)* sent_chain, const std::string& authorities_pem) {
  std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
  for (auto& ca : ReadCerts(authorities_pem)) X509_STORE_add_cert(store.get(), ca.get());
  std::unique_ptr<X509_STORE_CTX, StoreCtxFree> ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), cert, sent_chain) != 1) return "cannot check";
  X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
  if (X509_verify_cert(ctx.get()) == 1) return {};
  return X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"zh-Hant\"><head><meta charset=\"utf-8\"><title>" + EscapeMarkup(title) +
         "</title><style>body{font-family:sans-serif;margin:2em}</style></head><body><h1>" + EscapeMarkup(title) +
         "</h1>" + body + "</body></html>\n";
}

}  // namespace

class TradingSite::Impl {
 public:
  std::unique_ptr<httplib::SSLServer> server;
  std::unique_ptr<ServerThread> thread;
  int port = 0;
  std::function<std::string()> authorities;
  mutable std::mutex mu;
  std::vector<TradingVisit> visits;

  void Visit(const httplib::Request& req, httplib::Response& res) {
    TradingVisit v;
    v.time = Now14();
    SSL* ssl = const_cast<SSL*>(req.ssl);
    std::unique_ptr<X509, X509Free> cert(ssl ? SSL_get1_peer_certificate(ssl) : nullptr);
    if (!cert) {
      v.reason = "no client certificate";
    } else {
      v.subject = NameText(X509_get_subject_name(cert.get()));
      v.issuer = NameText(X509_get_issuer_name(cert.get()));
      v.serial = SerialText(cert.get());
      v.reason = CheckIssued(cert.get(), SSL_get_peer_cert_chain(ssl), authorities());
      v.accepted = v.reason.empty();
    }
    if (v.accepted) {
      res.set_content(Page("QUIL 示範網路下單", "<p>歡迎，憑證用戶已登入。</p><p id=\"subject\">" +
                                                   EscapeMarkup(v.subject) + "</p>"),
                      "text/html; charset=utf-8");
    } else {
      res.status = 403;
      res.set_content(Page("QUIL 示範網路下單", "<p>需要示範憑證中心簽發的用戶端憑證。</p><p id=\"reason\">" +
                                                   EscapeMarkup(v.reason) + "</p>"),
                      "text/html; charset=utf-8");
    }
    std::lock_guard<std::mutex> lock(mu);
    visits.push_back(std::move(v));
  }
};

std::unique_ptr<TradingSite> TradingSite::Start(const std::string& tls_cert_path, const std::string& tls_key_path,
                                                std::function<std::string()> authorities, int port,
                                                std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->authorities = std::move(authorities);
  impl->server = std::make_unique<httplib::SSLServer>(tls_cert_path.c_str(), tls_key_path.c_str());
  if (!impl->server->is_valid()) {
    *error = "cannot load the TLS certificate";
    return nullptr;
  }
  SSL_CTX* ctx = impl->server->ssl_context();
  // Every visitor is asked for a certificate; the page decides what it lets
  // in, so a visit without one is answered (and recorded) too.
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
  STACK_OF(X509_NAME)* names = sk_X509_NAME_new_null();
  for (auto& ca : ReadCerts(impl->authorities()))
    sk_X509_NAME_push(names, X509_NAME_dup(X509_get_subject_name(ca.get())));
  SSL_CTX_set_client_CA_list(ctx, names);
  impl->server->set_tcp_nodelay(true);
  impl->server->set_keep_alive_timeout(2);
  impl->server->Get("/", [raw = impl.get()](const httplib::Request& req, httplib::Response& res) {
    raw->Visit(req, res);
  });
  impl->port = port == 0 ? impl->server->bind_to_any_port("127.0.0.1")
                         : (impl->server->bind_to_port("127.0.0.1", port) ? port : -1);
  if (impl->port <= 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    return nullptr;
  }
  impl->thread = std::make_unique<ServerThread>(impl->server.get());
  return std::unique_ptr<TradingSite>(new TradingSite(std::move(impl)));
}

TradingSite::TradingSite(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TradingSite::~TradingSite() { impl_->thread.reset(); }

std::string TradingSite::url() const { return "https://127.0.0.1:" + std::to_string(impl_->port) + "/"; }

std::vector<TradingVisit> TradingSite::Visits() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->visits;
}

}  // namespace quil::devproxy
