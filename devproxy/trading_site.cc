#include "devproxy/trading_site.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "devproxy/markup.h"
#include "devproxy/server_thread.h"

namespace quil::devproxy {
namespace {

struct X509Free {
  void operator()(X509* c) const { X509_free(c); }
};

// An order's text and its signature, in a small JSON body.
constexpr size_t kMaxOrderBody = 64 * 1024;

std::string Now14() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &local);
  return buf;
}

std::string Page(const std::string& title, const std::string& body, const std::string& body_attributes = "") {
  return "<!DOCTYPE html>\n<html lang=\"zh-Hant\"><head><meta charset=\"utf-8\"><title>" + EscapeMarkup(title) +
         "</title><style>body{font-family:sans-serif;margin:2em}form{display:grid;gap:.6em;max-width:26em}"
         "fieldset{border:1px solid #999}#order-result{font-weight:bold;white-space:pre-wrap}</style></head><body" +
         body_attributes + "><h1>" + EscapeMarkup(title) + "</h1>" + body + "</body></html>\n";
}

// The order form. Its text is signed through the security component and
// posted to /order; "?order=SYMBOL,買進|賣出,QUANTITY,PRICE" places an order
// as soon as the component answers (a link a demo can hand out), "&repeat=N"
// N of them in turn.
constexpr char kOrderForm[] = R"(
<p id="component" role="status">正在偵測安控元件…</p>
<form id="order-form">
  <label>商品代號 <input name="symbol" value="2330" required pattern="[0-9A-Z]{4,6}" autocomplete="off"></label>
  <fieldset><legend>買賣別</legend>
    <label><input type="radio" name="side" value="買進" checked> 買進</label>
    <label><input type="radio" name="side" value="賣出"> 賣出</label>
  </fieldset>
  <label>數量 (股) <input name="quantity" type="number" min="1" step="1" value="1000" required></label>
  <label>價格 <input name="price" value="600.00" required pattern="[0-9]+([.][0-9]{1,2})?" autocomplete="off"></label>
  <button type="submit">簽章並送出委託</button>
</form>
<p id="order-result" role="status" aria-live="polite"></p>
<script>
(() => {
  const REASONS = {
    'cancelled': '您已在 QUIL 取消簽章',
    'timeout': '未在時限內確認簽章',
    'wrong-password': '憑證密碼錯誤',
    'origin-not-allowed': '此網站不在安控元件允許的網站清單中',
    'certificate-revoked': '憑證已廢止',
    'certificate-expired': '憑證已過期',
    'certificate-unavailable': '找不到憑證',
    'no-certificate': '此電腦沒有可用的憑證',
    'quil-unavailable': '無法開啟 QUIL',
    'busy': 'QUIL 正在確認另一筆簽章',
    'rate-limited': '簽章要求過於頻繁，請稍後再試',
    'host-unavailable': '安控元件未安裝或無法啟動',
  };
  const form = document.getElementById('order-form');
  const submit = form.querySelector('button');
  const result = document.getElementById('order-result');
  const component = document.getElementById('component');
  const waiting = new Map();
  let ready = false;
  const show = (state, text) => { result.dataset.state = state; result.textContent = text; };

  window.addEventListener('message', (e) => {
    if (e.source !== window || !e.data || typeof e.data !== 'object') return;
    if (e.data.type === 'quil-pong' && !ready) {
      ready = true;
      component.dataset.state = 'ready';
      component.textContent = '安控元件已就緒 (版本 ' + e.data.version + ')';
      orderFromAddress();
    } else if (e.data.type === 'quil-sign-result' && waiting.has(e.data.id)) {
      const done = waiting.get(e.data.id);
      waiting.delete(e.data.id);
      done(e.data);
    }
  });
  // The component's script may load after this page's: ask until it answers.
  let tries = 0;
  const ping = setInterval(() => {
    if (ready) return clearInterval(ping);
    if (++tries > 25) {
      clearInterval(ping);
      component.dataset.state = 'missing';
      component.textContent = '未偵測到安控元件，無法簽署委託。請以 QUIL 安裝安控元件。';
      return;
    }
    window.postMessage({ type: 'quil-ping' }, location.origin);
  }, 200);

  const sign = (text) => new Promise((resolve) => {
    const id = 'o' + Date.now().toString(36) + Math.random().toString(36).slice(2, 8);
    waiting.set(id, resolve);
    window.postMessage({ type: 'quil-sign', id, text }, location.origin);
  });

  async function place() {
    if (!ready) return show('refused', '委託未送出：未偵測到安控元件');
    const data = new FormData(form);
    const text = ['QUIL 示範網路下單委託',
      '委託人: ' + document.body.dataset.customer,
      '委託編號: ' + Date.now().toString(36).toUpperCase(),
      '商品代號: ' + data.get('symbol'),
      '買賣別: ' + data.get('side'),
      '數量: ' + data.get('quantity') + ' 股',
      '價格: ' + data.get('price')].join('\n');
    submit.disabled = true;
    show('signing', '請在 QUIL 視窗中確認簽章…');
    try {
      const signed = await sign(text);
      if (!signed.ok) return show('refused', '委託未送出：' + (REASONS[signed.reason] || '簽章未完成') + ' (' + signed.reason + ')');
      const res = await fetch('/order', { method: 'POST', headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ order: text, signature: signed.signature }) });
      const answer = await res.json();
      show(answer.accepted ? 'accepted' : 'rejected', (answer.accepted ? '委託成功：' : '委託遭拒：') + answer.result);
    } catch (e) {
      show('rejected', '委託未完成：' + e);
    } finally {
      submit.disabled = false;
    }
  }
  form.addEventListener('submit', (e) => { e.preventDefault(); if (form.reportValidity()) place(); });

  async function orderFromAddress() {
    const query = new URLSearchParams(location.search);
    const link = query.get('order');
    if (!link) return;
    const [symbol, side, quantity, price] = link.split(',');
    form.elements.symbol.value = symbol || '';
    for (const r of form.elements.side) r.checked = r.value === side;
    form.elements.quantity.value = quantity || '';
    form.elements.price.value = price || '';
    // "repeat" places the order that many times, one after another (measurements).
    const times = Math.min(Math.max(Number(query.get('repeat')) || 1, 1), 100);
    for (let i = 0; i < times && form.reportValidity(); i++) await place();
  }
})();
</script>)";

}  // namespace

class TradingSite::Impl {
 public:
  std::unique_ptr<httplib::SSLServer> server;
  std::unique_ptr<ServerThread> thread;
  int port = 0;
  std::function<std::string()> authorities;
  mutable std::mutex mu;
  std::vector<TradingVisit> visits;
  std::vector<TradingOrder> orders;
  LiveCertificateLookup live;

  // The visitor's certificate when the demo authority issued it; else the
  // visit's record says why not.
  std::unique_ptr<X509, X509Free> Visitor(const httplib::Request& req, TradingVisit* v) {
    SSL* ssl = const_cast<SSL*>(req.ssl);
    std::unique_ptr<X509, X509Free> cert(ssl ? SSL_get1_peer_certificate(ssl) : nullptr);
    v->time = Now14();
    if (!cert) {
      v->reason = "no client certificate";
      return nullptr;
    }
    v->subject = NameText(X509_get_subject_name(cert.get()));
    v->issuer = NameText(X509_get_issuer_name(cert.get()));
    v->serial = SerialText(cert.get());
    v->reason = CheckIssued(cert.get(), SSL_get_peer_cert_chain(ssl), authorities());
    v->accepted = v->reason.empty();
    if (!v->accepted) return nullptr;
    return cert;
  }

  void Refuse(httplib::Response& res, const std::string& reason) {
    res.status = 403;
    res.set_content(Page("QUIL 示範網路下單", "<p>需要示範憑證中心簽發的用戶端憑證。</p><p id=\"reason\">" +
                                                 EscapeMarkup(reason) + "</p>"),
                    "text/html; charset=utf-8");
  }

  void Visit(const httplib::Request& req, httplib::Response& res) {
    TradingVisit v;
    auto cert = Visitor(req, &v);
    if (cert) {
      const std::string cn = CommonName(cert.get());
      res.set_content(Page("QUIL 示範網路下單",
                           "<p>歡迎，憑證用戶已登入。</p><p id=\"subject\">" + EscapeMarkup(v.subject) + "</p>" +
                               kOrderForm,
                           " data-customer=\"" + EscapeMarkup(cn) + "\""),
                      "text/html; charset=utf-8");
    } else {
      Refuse(res, v.reason);
    }
    std::lock_guard<std::mutex> lock(mu);
    visits.push_back(std::move(v));
  }

  void Order(const httplib::Request& req, httplib::Response& res) {
    TradingVisit v;
    auto cert = Visitor(req, &v);
    if (!cert) {
      res.status = 403;
      res.set_content(nlohmann::json{{"accepted", false}, {"result", v.reason}}.dump(), "application/json");
      return;
    }
    nlohmann::json body = nlohmann::json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    std::string order, signature;
    if (body.is_object()) {
      order = body.value("order", "");
      signature = body.value("signature", "");
    }
    LiveCertificateLookup lookup;
    {
      std::lock_guard<std::mutex> lock(mu);
      lookup = live;
    }
    OrderCheck check = CheckSignedOrder(order, signature, cert.get(), authorities(), lookup);
    TradingOrder o;
    o.time = v.time;
    o.accepted = check.accepted;
    o.cn = check.cn;
    o.serial = check.serial;
    o.order = order;
    o.result = check.accepted ? "order accepted, signed by " + check.cn + ", serial " + check.serial : check.reason;
    res.set_content(nlohmann::json{{"accepted", o.accepted}, {"result", o.result}}
                        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
    std::lock_guard<std::mutex> lock(mu);
    orders.push_back(std::move(o));
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
  const std::string pem = impl->authorities();
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  while (X509* c = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    sk_X509_NAME_push(names, X509_NAME_dup(X509_get_subject_name(c)));
    X509_free(c);
  }
  BIO_free(bio);
  ERR_clear_error();
  SSL_CTX_set_client_CA_list(ctx, names);
  impl->server->set_tcp_nodelay(true);
  impl->server->set_keep_alive_timeout(2);
  impl->server->set_payload_max_length(kMaxOrderBody);
  impl->server->Get("/", [raw = impl.get()](const httplib::Request& req, httplib::Response& res) {
    raw->Visit(req, res);
  });
  impl->server->Post("/order", [raw = impl.get()](const httplib::Request& req, httplib::Response& res) {
    raw->Order(req, res);
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

void TradingSite::SetLiveCertificates(LiveCertificateLookup lookup) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->live = std::move(lookup);
}

std::string TradingSite::url() const { return "https://127.0.0.1:" + std::to_string(impl_->port) + "/"; }

std::vector<TradingVisit> TradingSite::Visits() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->visits;
}

std::vector<TradingOrder> TradingSite::Orders() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->orders;
}

}  // namespace quil::devproxy
